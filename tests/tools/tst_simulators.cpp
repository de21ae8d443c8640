#include "AlertSimulator.h"
#include "QuikSimulator.h"
#include "common/Regional.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSqlQuery>
#include <QTest>

class TestSimulators : public QObject {
    Q_OBJECT
private slots:
    void init() { KORVEX_TEST_INIT(); }

    void quik_answersAsQuikDoes_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("final");
        QTest::newRow("valid order")
            << "TRANS_ID "
               "=0;ACTION=NEW_ORDER;ACCOUNT=L01;SECCODE=SBER;CLASSCODE=TQBR;CLIENT_CODE=111;OPERATION=B;"
               "PRICE=285.69;STOPPRICE=285.69;Order_key=;Stop_Order_key=;QUANTITY=10"
            << "TRANS_ID=0;STATUS=3;TRANS_NAME=\"NEW_ORDER\";DESCRIPTION=\"Заявка №4100000 успешно "
               "зарегистрирована\";ORDER_NUMBER=4100000;";
        QTest::newRow("unknown security")
            << "TRANS_ID =1;ACTION=NEW_ORDER;SECCODE=XXXX;CLASSCODE=TQBR;PRICE=1;QUANTITY=1"
            << "TRANS_ID=1;STATUS=4;TRANS_NAME=\"NEW_ORDER\";DESCRIPTION=\"Указан неверный код класса или "
               "инструмента\";";
        QTest::newRow("unknown class")
            << "TRANS_ID =2;ACTION=NEW_ORDER;SECCODE=SBER;CLASSCODE=SPBFUT;PRICE=1;QUANTITY=1"
            << "TRANS_ID=2;STATUS=4;TRANS_NAME=\"NEW_ORDER\";DESCRIPTION=\"Указан неверный код класса или "
               "инструмента\";";
        QTest::newRow("quantity below 1")
            << "TRANS_ID =3;ACTION=NEW_ORDER;SECCODE=SBER;CLASSCODE=TQBR;PRICE=1;QUANTITY=0"
            << "TRANS_ID=3;STATUS=5;TRANS_NAME=\"NEW_ORDER\";DESCRIPTION=\"Неверно указано количество: 0\";";
        QTest::newRow("missing price")
            << "TRANS_ID =4;ACTION=NEW_STOP_ORDER;SECCODE=SBER;CLASSCODE=TQBR;PRICE=0.00;QUANTITY=1"
            << "TRANS_ID=4;STATUS=4;TRANS_NAME=\"NEW_STOP_ORDER\";DESCRIPTION=\"Не указана цена заявки\";";
        QTest::newRow("unknown order key")
            << "TRANS_ID =5;ACTION=KILL_ORDER;SECCODE=SBER;CLASSCODE=TQBR;Order_key=99;QUANTITY=1"
            << "TRANS_ID=5;STATUS=4;TRANS_NAME=\"KILL_ORDER\";DESCRIPTION=\"Не найдена заявка с номером "
               "99\";";
        QTest::newRow("unsupported") << "TRANS_ID =6;ACTION=MOVE_ORDERS"
                                     << "TRANS_ID=6;STATUS=6;TRANS_NAME=\"MOVE_ORDERS\";DESCRIPTION="
                                        "\"Транзакция не поддерживается: MOVE_ORDERS\";";
    }
    void quik_answersAsQuikDoes() {
        QFETCH(QString, line);
        QFETCH(QString, final);
        TTestWorkspace ws(true);
        TQuikSimulator sim({ws.TriPath(), ws.TroPath(), ws.InfoLogPath(), ws.TradingPath()});
        const QStringList answer = sim.Answer(line);
        QCOMPARE(answer.size(), 2);
        QVERIFY(answer[0].contains(";STATUS=0;"));
        QCOMPARE(answer[1], final);
    }

    void quik_followsTheTriFile_andCancelsLiveOrders() {
        TTestWorkspace ws(true);
        TQuikSimulator sim({ws.TriPath(), ws.TroPath(), ws.InfoLogPath(), ws.TradingPath()});
        WriteBytes(ws.TriPath(),
                   "TRANS_ID =0;ACTION=NEW_ORDER;SECCODE=SBER;CLASSCODE=TQBR;PRICE=1;QUANTITY=1\r\nTRANS_ID "
                   "=1;ACTION=NEW");
        QCOMPARE(sim.AnswerTransactions(), 1); // the second line is not complete yet
        WriteBytes(ws.TriPath(), "_ORDER;SECCODE=GAZP;CLASSCODE=TQBR;PRICE=1;QUANTITY=2\r\n", true);
        QCOMPARE(sim.AnswerTransactions(), 1);
        WriteBytes(ws.TriPath(),
                   "TRANS_ID =2;ACTION=KILL_ORDER;Order_key=4100001;\r\nTRANS_ID "
                   "=3;ACTION=KILL_ORDER;Order_key=4100001;\r\n",
                   true);
        QCOMPARE(sim.AnswerTransactions(), 2);
        const QStringList tro = ReadCp1251(ws.TroPath()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(tro.size(), 8);
        QVERIFY(tro[5].startsWith("TRANS_ID=2;STATUS=3;") && tro[5].endsWith("ORDER_NUMBER=4100001;"));
        QVERIFY(tro[7].startsWith("TRANS_ID=3;STATUS=4;"));                    // already cancelled
        QVERIFY(ReadBytes(ws.TroPath()).contains("\xc7\xe0\xff\xe2\xea\xe0")); // "Заявка" in Windows-1251
    }

    void quik_infoLogGrowsOnlyWhileConnected_quotesExported() {
        TTestWorkspace ws(true);
        TQuikSimulator sim({ws.TriPath(), ws.TroPath(), ws.InfoLogPath(), ws.TradingPath()});
        sim.GrowInfoLog();
        const qint64 size = QFileInfo(ws.InfoLogPath()).size();
        QVERIFY(size > 0);
        sim.SetConnected(false);
        sim.GrowInfoLog();
        QCOMPARE(QFileInfo(ws.InfoLogPath()).size(), size);
        sim.SetConnected(true);
        WriteBytes(sim.LinkDownMarker(), ""); // the portable switch
        sim.GrowInfoLog();
        QCOMPARE(QFileInfo(ws.InfoLogPath()).size(), size);
        QFile::remove(sim.LinkDownMarker());
        sim.GrowInfoLog();
        QVERIFY(QFileInfo(ws.InfoLogPath()).size() > size);
        // Every export writes: the quotes move on, as QUIK's do.
        const char* volume = "SELECT sum(voltoday) FROM tParam";
        QCOMPARE(sim.ExportQuotes(), QString());
        for (int i = 0; i < 3; ++i) {
            const double before = ws.Scalar(ws.Trading(), volume).toDouble();
            QCOMPARE(sim.ExportQuotes(), QString());
            QVERIFY(ws.Scalar(ws.Trading(), volume).toDouble() > before);
        }
        QCOMPARE(ws.Scalar(ws.Trading(), "SELECT count(*) FROM tParam").toInt(), 7);
        QVERIFY(ws.Scalar(ws.Trading(), "SELECT offer > bid FROM tParam WHERE code = 'SBER'").toBool());
        QVERIFY(ws.Scalar(ws.Trading(), "SELECT abs(last - 285.4) < 10 FROM tParam WHERE code = 'SBER'")
                    .toBool());
    }

    void alerts_writeBelievableRowsThatCarryOrderNumbers() {
        TTestWorkspace ws(true);
        TAlertSimulator sim(ws.AlertsPath(), ws.TradingPath(), 3);
        for (int i = 0; i < 60; ++i) {
            sim.Step();
            // The robot marks every placed order as executed, as it does on a QUIK result.
            ws.Exec(ws.Alerts(),
                    "UPDATE ActiveOrders SET \"Order Number\" = ID WHERE \"Order Number\" IS NULL");
        }
        const int active = ws.Scalar(ws.Alerts(), "SELECT count(*) FROM ActiveOrders").toInt();
        const int filled = ws.Scalar(ws.Alerts(), "SELECT count(*) FROM FilledOrders").toInt();
        const int canceled = ws.Scalar(ws.Alerts(), "SELECT count(*) FROM CanceledOrders").toInt();
        QVERIFY(active > 0 && filled > 0 && canceled > 0);
        QVERIFY(filled + canceled <= active);
        // Fills and cancellations carry the number of the active row they belong to.
        QCOMPARE(ws.Scalar(ws.Alerts(), "SELECT count(*) FROM CanceledOrders c JOIN ActiveOrders a ON a.ID = "
                                        "CAST(c.\"Order Number\" AS INTEGER) "
                                        "AND a.Symbol = c.Symbol")
                     .toInt(),
                 canceled);
        QCOMPARE(ws.Scalar(ws.Alerts(), "SELECT count(*) FROM FilledOrders WHERE \"Order Number\" IS NULL")
                     .toInt(),
                 0);
        // Entries are on the demo instruments, workspaces and strategies, with a readable order text.
        QCOMPARE(ws.Scalar(ws.Alerts(),
                           "SELECT count(*) FROM ActiveOrders WHERE \"Order\" NOT LIKE '% % at % Limit'")
                     .toInt(),
                 0);
        QVERIFY(ws.Scalar(ws.Alerts(), "SELECT count(*) FROM ActiveOrders WHERE OrderType IN ('LX','SX')")
                    .toInt() > 0);
    }

    void alerts_writePricesInTheRegionalFormat_data() {
        QTest::addColumn<QLocale>("regional");
        QTest::newRow("decimal point") << QLocale::c();
        QTest::newRow("Russian decimal comma") << QLocale(QLocale::Russian, QLocale::Russia);
    }
    void alerts_writePricesInTheRegionalFormat() {
        QFETCH(QLocale, regional);
        QLocale::setDefault(regional);
        TTestWorkspace ws(true);
        TAlertSimulator sim(ws.AlertsPath(), ws.TradingPath(), 5);
        for (int i = 0; i < 20; ++i)
            sim.Step();
        QSqlQuery q(ws.Alerts());
        QVERIFY(q.exec("SELECT \"Order\" FROM ActiveOrders"));
        int orders = 0;
        for (; q.next(); ++orders) {
            const QString price =
                q.value(0).toString().section(QStringLiteral(" at "), 1).section(QLatin1Char(' '), 0, 0);
            QVERIFY2(Regional::ParseDecimal(price).value_or(0) > 0, qPrintable(q.value(0).toString()));
        }
        QVERIFY(orders > 0);
        QLocale::setDefault(QLocale::c());
    }
};

QTEST_GUILESS_MAIN(TestSimulators)
#include "tst_simulators.moc"

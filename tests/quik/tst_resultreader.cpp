#include "common/Codec.h"
#include "common/Journal.h"
#include "notify/MailNotifier.h"
#include "quik/ResultLine.h"
#include "quik/ResultReader.h"
#include "quik/TransactionWriter.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class TestResultReader : public QObject, TRobotFixture {
    Q_OBJECT

    TResultReader& Rd() { return R->Engine->Reader(); }
    // A transaction of this run whose line reached the file.
    void Record(int trans, int idOrder, bool filled) {
        R->Registry().NumbersUsedUpTo(trans - 1);
        QCOMPARE(R->RecordInFile(filled ? "FilledOrders" : "ActiveOrders", idOrder), trans);
    }
    QString Row(int trans) {
        return Ws
            ->Scalar(Ws->Trading(),
                     QStringLiteral("SELECT status || '|' || ifnull(trans_name,'<null>') || '|' || "
                                    "ifnull(description,'<null>') || '|' || "
                                    "ifnull(order_number,'<null>') FROM tOrderNumber WHERE trans_id = %1")
                         .arg(trans))
            .toString();
    }
    void Append(const QByteArray& bytes) { WriteBytes(Ws->TroPath(), bytes, true); }

private slots:
    void init() {
        StartRobot(false, true);
        QFile::remove(Ws->TroPath());
    }
    void cleanup() { StopRobot(); }

    void lineCutting_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("all five")
            << "TRANS_ID=5;STATUS=3;TRANS_NAME=\"n\";DESCRIPTION=\"d\";ORDER_NUMBER=12345;"
            << QStringList{"5", "3", "\"n\"", "\"d\"", "12345"};
        QTest::newRow("no final separator loses the last value")
            << "TRANS_ID=5;STATUS=3;ORDER_NUMBER=12345" << QStringList{"5", "3", " \"\" ", " \"\" ", "0"};
        QTest::newRow("blanks around keys")
            << " TRANS_ID = 7 ; STATUS = 2 ;" << QStringList{"7", "2", " \"\" ", " \"\" ", "0"};
        QTest::newRow("empty value takes the default")
            << "TRANS_ID=7;STATUS=;" << QStringList{"7", "-1", " \"\" ", " \"\" ", "0"};
        QTest::newRow("key again: the later value")
            << "TRANS_ID=1;STATUS=0;STATUS=3;" << QStringList{"1", "3", " \"\" ", " \"\" ", "0"};
        QTest::newRow("separators inside quotes stay") << "TRANS_ID=1;DESCRIPTION=\"a;b=c\";STATUS=4;"
                                                       << QStringList{"1", "4", " \"\" ", "\"a;b=c\"", "0"};
    }
    void lineCutting() {
        QFETCH(QString, line);
        QFETCH(QStringList, values);
        const TResultLine r = ParseResultLine(line);
        QCOMPARE((QStringList{r.TRANS_ID, r.STATUS, r.TRANS_NAME, r.DESCRIPTION, r.ORDER_NUMBER}), values);
    }

    void missingFile_doesNothing() {
        Rd().actCheckTROExecute();
        QCOMPARE(Rd().TroLinesRead, 0);
    }

    void executed_marksTheFilledAlert_storesResult_countsAndJournals() {
        const qint64 id = Ws->InsertAlert("FilledOrders", {{"ID", 17}});
        Record(5, static_cast<int>(id), true);
        Append(Cp1251::Encode(
            QStringLiteral("TRANS_ID=5;STATUS=0;TRANS_NAME=\"Ввод заявки\";DESCRIPTION=\"\";\r\n")));
        Append(Cp1251::Encode(QStringLiteral(
            "TRANS_ID=5;STATUS=3;TRANS_NAME=\"Ввод заявки\";DESCRIPTION=\"OK\";ORDER_NUMBER=12345;\r\n")));
        Rd().actCheckTROExecute();
        QCOMPARE(Rd().TroLinesRead, 2);
        QCOMPARE(Rd().TransAtServer, 1);
        QCOMPARE(Rd().TransDone, 1);
        QCOMPARE(Row(5), QStringLiteral("3|Ввод заявки|OK|12345"));
        QCOMPARE(
            Ws->Scalar(Ws->Alerts(), "SELECT \"Order Number\" FROM FilledOrders WHERE ID = 17").toString(),
            QStringLiteral("17"));
        const QStringList j = R->JournalTexts();
        QVERIFY(j.contains(QStringLiteral("Транзакция номер 5 отправлена на сервер Quik.")));
        QCOMPARE(j.last(), QStringLiteral("Транзакция номер 5 успешно выполнена."));
        QCOMPARE(R->Engine->StatusPanels()[3], QStringLiteral("Отправлено транзакций: 1/1/1"));
    }

    void anyOtherFinalStatus_isARefusal_missingNameStoresEmptyText() {
        Record(2, 9, false);
        Append("TRANS_ID=2;STATUS=2;DESCRIPTION=\"Insufficient funds\";\r\n");
        Rd().actCheckTROExecute();
        QCOMPARE(Row(2), QStringLiteral("2||Insufficient funds|0"));
        QCOMPARE(R->JournalTexts().last(),
                 QStringLiteral("Транзакция номер 2 отвергнута: Insufficient funds"));
        QCOMPARE(Rd().TransAtServer + Rd().TransDone, 0);
        QCOMPARE(Rd().TransRefused, 1);
    }

    // Each answer takes effect once and only forward; a number this run never sent changes nothing.
    void answers_takeEffectOnceAndOnlyForward_unknownNumbersChangeNothing() {
        Record(1, 1, false);
        Append("TRANS_ID=1;STATUS=0;\r\nTRANS_ID=1;STATUS=0;\r\n"
               "TRANS_ID=1;STATUS=3;ORDER_NUMBER=500;\r\nTRANS_ID=1;STATUS=3;ORDER_NUMBER=500;\r\n"
               "TRANS_ID=1;STATUS=3;ORDER_NUMBER=600;\r\nTRANS_ID=1;STATUS=0;ORDER_NUMBER=0;\r\n"
               "TRANS_ID=777;STATUS=3;ORDER_NUMBER=1;\r\nTRANS_ID=-1;STATUS=3;\r\n");
        Rd().actCheckTROExecute();
        QCOMPARE(Rd().TransAtServer, 1);
        QCOMPARE(Rd().TransDone, 1);
        QCOMPARE(Row(1), QStringLiteral("3|||500"));
        QCOMPARE(R->JournalTexts().filter("успешно выполнена").size(), 1);
        QCOMPARE(R->JournalTexts().filter("роботом не отправлялась").size(), 2);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tOrderNumber").toInt(), 1);
    }

    void refusal_isJournalledWithQuiksWords_andCounted_data() {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("journal");
        QTest::newRow("refused by the server") << "4"
                                               << "\"Неизвестный код бумаги\""
                                               << "Неизвестный код бумаги";
        QTest::newRow("failed the server's check") << "5"
                                                   << "\"Количество должно быть больше 0\""
                                                   << "Количество должно быть больше 0";
        QTest::newRow("failed the limits, no description") << "6"
                                                           << ""
                                                           << "без описания";
    }
    void refusal_isJournalledWithQuiksWords_andCounted() {
        QFETCH(QString, status);
        QFETCH(QString, description);
        QFETCH(QString, journal);
        Record(7, 1, false);
        QString line = "TRANS_ID=7;STATUS=" + status + ";";
        if (!description.isEmpty()) line += "DESCRIPTION=" + description + ";";
        Append(Cp1251::Encode(line + "\r\n"));
        Rd().actCheckTROExecute();
        Rd().actCheckTROExecute(); // read once, told once
        QCOMPARE(R->JournalTexts().filter("отвергнута"),
                 QStringList{"Транзакция номер 7 отвергнута: " + journal});
        QCOMPARE(R->Engine->StatusPanels()[3], QStringLiteral("Отправлено транзакций: 1/0/0, отвергнуто: 1"));
    }

    // QUIK writes Windows-1251; a file in UTF-8, with or without a byte order mark before its first
    // answer, is read as written, and the journal says once that it is UTF-8.
    void encodings_answersReadAsWritten_utf8ToldOnce_data() {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<bool>("utf8");
        QTest::newRow("Windows-1251") << QByteArray() << false;
        QTest::newRow("UTF-8") << QByteArray() << true;
        QTest::newRow("UTF-8 with a byte order mark") << QByteArray("\xEF\xBB\xBF") << true;
    }
    void encodings_answersReadAsWritten_utf8ToldOnce() {
        QFETCH(QByteArray, start);
        QFETCH(bool, utf8);
        Record(1, 1, false);
        Record(2, 2, false);
        auto line = [&](int trans) {
            const QString text =
                QStringLiteral("TRANS_ID=%1;STATUS=4;DESCRIPTION=\"Недостаточно средств «Ё»\";\r\n")
                    .arg(trans);
            return utf8 ? text.toUtf8() : Cp1251::Encode(text);
        };
        Append(start + line(1));
        Rd().actCheckTROExecute();
        Append(line(2));
        Rd().actCheckTROExecute();
        QCOMPARE(R->JournalTexts().filter("отвергнута"),
                 (QStringList{"Транзакция номер 1 отвергнута: Недостаточно средств «Ё»",
                              "Транзакция номер 2 отвергнута: Недостаточно средств «Ё»"}));
        QCOMPARE(Row(2), QStringLiteral("4||Недостаточно средств «Ё»|0"));
        QCOMPARE(R->JournalTexts().filter("UTF-8").size(), utf8 ? 1 : 0);
    }

    void threeLinesThenTwoMore_secondReadingHandlesOnlyTheNew() {
        for (int i = 1; i <= 5; ++i)
            Record(i, 100 + i, false);
        Append("TRANS_ID=1;STATUS=0;\r\nTRANS_ID=2;STATUS=0;\r\nTRANS_ID=3;STATUS=0;\r\n");
        Rd().actCheckTROExecute();
        QCOMPARE(Rd().TransAtServer, 3);
        Append("TRANS_ID=4;STATUS=0;\r\nTRANS_ID=5;STATUS=0;\r\n");
        Rd().actCheckTROExecute();
        QCOMPARE(Rd().TransAtServer, 5);
        QCOMPARE(Rd().TroLinesRead, 5);
        Rd().actCheckTROExecute();
        QCOMPARE(Rd().TransAtServer, 5);
    }

    void descriptionWithSeparatorsQuotesAndSql_isStoredAsText() {
        Record(1, 1, false);
        Append("TRANS_ID=1;STATUS=4;TRANS_NAME=\"x\";DESCRIPTION=\"bad; price=0 \"\"quoted\"\" '); DROP "
               "TABLE tOrderNumber; --\";ORDER_NUMBER=0;\r\n");
        Rd().actCheckTROExecute();
        QCOMPARE(Row(1), QStringLiteral("4|x|bad; price=0 \"quoted\" '); DROP TABLE tOrderNumber; --|0"));
    }

    void lineWithoutTransId_isJournalledOnceAndPassedOver() {
        Record(1, 1, false);
        Append("\r\ngarbage without keys\r\nTRANS_ID=1;STATUS=0;\r\n");
        QVERIFY(R->Tick());
        QVERIFY(R->Errors.isEmpty());
        QCOMPARE(Rd().TroLinesRead, 2); // the empty line is passed over without a word
        QCOMPARE(Rd().TransAtServer, 1);
        const QStringList j = R->JournalTexts();
        QCOMPARE(j.filter("без номера транзакции").size(), 1);
        QVERIFY(R->Tick());
        QCOMPARE(R->JournalTexts().filter("без номера транзакции").size(), 1);
    }

    void partialLastLine_waitsForItsLineBreak() {
        Record(1, 1, false);
        Append("TRANS_ID=1;STATUS=0;TRANS_NAME=\"Ввод");
        Rd().actCheckTROExecute();
        QCOMPARE(Rd().TroLinesRead, 0);
        Append(" заявки\";ORDER_NUMBER=99;\r");
        Rd().actCheckTROExecute();
        QCOMPARE(Rd().TroLinesRead, 1); // a CR ends a line
        Append("\n");                   // the LF of a CR LF cut between two readings is no line of its own
        Rd().actCheckTROExecute();
        QCOMPARE(Rd().TroLinesRead, 1);
        QCOMPARE(Rd().TransAtServer, 1);
        QCOMPARE(Row(1).section('|', 3), QStringLiteral("99"));
    }

    void shorterFile_isReadAgainFromTheStart() {
        Ws->InsertAlert("ActiveOrders", {});
        Record(1, 1, false);
        Record(2, 2, false);
        Append("TRANS_ID=1;STATUS=0;\r\nTRANS_ID=1;STATUS=2;\r\n");
        Rd().actCheckTROExecute();
        WriteBytes(Ws->TroPath(), "TRANS_ID=2;STATUS=0;\r\n"); // QUIK started the file anew
        Rd().actCheckTROExecute();
        QCOMPARE(Rd().TransAtServer, 2);
        QCOMPARE(Row(2).section('|', 0, 0), QStringLiteral("0"));
    }

    void marketTextActiveAlert_marksItsOwnActiveRow_notTheFilledRowWithTheSameId() {
        Ws->InsertAlert("ActiveOrders", {{"ID", 42}, {"Order", "Buy 1 at 100 Market"}});
        Ws->InsertAlert("FilledOrders", {{"ID", 42}});
        TOmegaOrder alert;
        alert.ID = 42;
        alert.OrderType = "LE";
        TOrder o;
        o.Action = "NEW_ORDER";
        o.Filled = true; // market text
        o.IdOrder = 42;
        o.ClientCode = "111";
        o.Quantity = 1;
        R->Engine->Writer().WriteTransaction(o, alert);
        R->Engine->Writer().FlushTransactions();
        Append("TRANS_ID=1;STATUS=3;ORDER_NUMBER=5;\r\n");
        Rd().actCheckTROExecute();
        QCOMPARE(
            Ws->Scalar(Ws->Alerts(), "SELECT \"Order Number\" FROM ActiveOrders WHERE ID = 42").toString(),
            QStringLiteral("42"));
        QVERIFY(Ws->Scalar(Ws->Alerts(), "SELECT \"Order Number\" FROM FilledOrders WHERE ID = 42").isNull());
    }

    void aLongReading_leavesTheAlertsDatabaseToTheStrategyPlatform() {
        const int n = 200;
        QByteArray tro;
        for (int i = 1; i <= n; ++i) {
            Ws->InsertAlert("FilledOrders", {});
            Record(i, i, true);
            tro += QStringLiteral("TRANS_ID=%1;STATUS=3;ORDER_NUMBER=%2;\r\n").arg(i).arg(500 + i).toUtf8();
        }
        Append(tro);
        // The platform writes its alerts while the robot works through QUIK's answers, and does not wait.
        QSqlDatabase platform = QSqlDatabase::addDatabase("QSQLITE", "platform");
        platform.setDatabaseName(Ws->AlertsPath());
        platform.setConnectOptions("QSQLITE_BUSY_TIMEOUT=0");
        QVERIFY(platform.open());
        int refused = 0, written = 0;
        auto conn = connect(&R->Journal, &TJournal::LinesAdded, this, [&] {
            QSqlQuery q(platform);
            if (q.exec("INSERT INTO ActiveOrders (Symbol) VALUES ('NEW')"))
                ++written;
            else
                ++refused;
        });
        Rd().actCheckTROExecute();
        disconnect(conn);
        platform.close();
        QCOMPARE(refused, 0);
        QCOMPARE(written, n);
        QCOMPARE(
            Ws->Scalar(Ws->Alerts(), "SELECT count(*) FROM FilledOrders WHERE \"Order Number\" = id").toInt(),
            n);
        QCOMPARE(Row(n), QStringLiteral("3|||%1").arg(500 + n));
    }

    void mailsOfAReading_goOutAfterItsCommit_notWhileQuikWaits() {
        // A port nobody listens on: the connection is refused at once.
        const int probe = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        QVERIFY(bind(probe, reinterpret_cast<sockaddr*>(&addr), len) == 0);
        QVERIFY(getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
        const int port = ntohs(addr.sin_port);
        close(probe);
        R->S().SendTrans_done = true;
        R->S().SMTP = "127.0.0.1";
        R->S().Port = QString::number(port);
        R->S().Email1 = "a@example.test";
        for (int i = 1; i <= 3; ++i) {
            Ws->InsertAlert("FilledOrders", {});
            Record(i, i, true);
            Append(QStringLiteral("TRANS_ID=%1;STATUS=3;ORDER_NUMBER=%2;\r\n").arg(i).arg(500 + i).toUtf8());
        }
        // QUIK writes its tables while the robot tries its mails, and does not wait.
        QSqlDatabase quik = QSqlDatabase::addDatabase("QSQLITE", "quik");
        quik.setDatabaseName(Ws->TradingPath());
        quik.setConnectOptions("QSQLITE_BUSY_TIMEOUT=0");
        QVERIFY(quik.open());
        int attempts = 0, refused = 0;
        auto conn = connect(&R->Journal, &TJournal::LinesAdded, this, [&](const QStringList& lines) {
            const int failed = static_cast<int>(lines.filter("Нет связи с почтовым сервером").size());
            if (failed == 0) return;
            attempts += failed;
            if (!QSqlQuery(quik).exec("UPDATE tParam SET bid = bid")) ++refused;
        });
        Rd().actCheckTROExecute();
        QVERIFY(R->Engine->Mail().WaitIdle(30000));
        disconnect(conn);
        quik.close();
        QCOMPARE(attempts, 3);
        QCOMPARE(refused, 0);
        QCOMPARE(Row(3), QStringLiteral("3|||503"));
        // Each mail still follows its own journal line.
        const QStringList j = R->JournalTexts();
        QVERIFY(j.indexOf("Транзакция номер 3 успешно выполнена.") <
                j.indexOf(QRegularExpression("^Нет связи с почтовым сервером .*")));
    }

    void databaseFailure_retriesTheReading_eachLineTakesEffectOnce() {
        Ws->InsertAlert("ActiveOrders", {});
        Record(1, 1, false);
        Record(2, 2, false);
        Append("TRANS_ID=1;STATUS=0;\r\nTRANS_ID=1;STATUS=3;ORDER_NUMBER=10;\r\nTRANS_ID=2;STATUS=2;\r\n");
        Ws->Exec(Ws->Trading(), "CREATE TRIGGER refuse BEFORE UPDATE OF status ON tOrderNumber WHEN "
                                "NEW.status = 2 BEGIN SELECT RAISE(ABORT, 'locked'); END");
        for (int i = 0; i < 3; ++i)
            QVERIFY(!R->Tick());
        QCOMPARE(R->Errors.size(), 1); // one box while the same error repeats
        QCOMPARE(Rd().TroLinesRead, 0);
        Ws->Exec(Ws->Trading(), "DROP TRIGGER refuse");
        QVERIFY(R->Tick());
        QCOMPARE(Rd().TroLinesRead, 3);
        // Counted, journalled (and so mailed) once, whatever the retries; the database as after one reading.
        QCOMPARE(Rd().TransAtServer, 1);
        QCOMPARE(Rd().TransDone, 1);
        QCOMPARE(R->JournalTexts().filter("Транзакция номер 1 успешно выполнена.").size(), 1);
        QCOMPARE(Row(1), QStringLiteral("3|||10"));
        QCOMPARE(Row(2).section('|', 0, 0), QStringLiteral("2"));
        QCOMPARE(
            Ws->Scalar(Ws->Alerts(), "SELECT \"Order Number\" FROM ActiveOrders WHERE ID = 1").toString(),
            QStringLiteral("1"));
    }
};

QTEST_GUILESS_MAIN(TestResultReader)
#include "tst_resultreader.moc"

#include "common/Codec.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QTest>

// The real robot through a trading day's load and faults: big tables, other programs writing the same
// databases, a disk that fills, garbage in QUIK's result file. Whatever happens: every alert sent once
// or given up with a line, nothing written twice, and the robot trades on.
class TestTradingDay : public QObject {
    Q_OBJECT

    // Another program that writes the trading database all the time, as QUIK exports its quotes.
    static void StartQuoteWriter(QProcess& p, const TTestWorkspace& ws) {
        p.start("sh", {"-c", QStringLiteral("while :; do sqlite3 '%1' '.timeout 5000' 'UPDATE tParam SET bid "
                                            "= bid + 0.01'; sleep 0.2; done")
                                 .arg(ws.TradingPath())});
        QVERIFY(p.waitForStarted());
    }
    static void Kill(QProcess& p) {
        p.kill();
        p.waitForFinished();
    }
    static QStringList TriLines(const TTestWorkspace& ws) {
        QStringList lines = ReadCp1251(ws.TriPath()).split("\r\n");
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        return lines;
    }
    // Every line whole, and no TRANS_ID twice.
    static bool WellFormedAndUnique(const QStringList& lines, QString* why) {
        static const QRegularExpression line(
            QStringLiteral("^TRANS_ID =(\\d+);ACTION=[A-Z_]+;.*;QUANTITY=\\d+$"));
        QSet<int> ids;
        for (const QString& l : lines) {
            const auto m = line.match(l);
            if (!m.hasMatch() || l.count("TRANS_ID") != 1) {
                *why = QStringLiteral("broken line: ") + l;
                return false;
            }
            if (ids.contains(m.captured(1).toInt())) {
                *why = QStringLiteral("sent twice: ") + l;
                return false;
            }
            ids.insert(m.captured(1).toInt());
        }
        return true;
    }
    static int Scalar(const TTestWorkspace& ws, const QString& sql) {
        return ws.Scalar(ws.Trading(), sql).toInt();
    }

private slots:
    void init() { KORVEX_TEST_INIT(); }

    void groupOfThree_tenThousandOldRows_quotesRewritten_everyAlertOnce_data() {
        QTest::addColumn<bool>("window");
        QTest::newRow("headless") << false;
        QTest::newRow("window") << true;
    }
    void groupOfThree_tenThousandOldRows_quotesRewritten_everyAlertOnce() {
        QFETCH(bool, window);
        TTestWorkspace ws(true);
        ws.WriteRobotIni("rgpSingleMulti=1\r\n");
        for (const char* t : {"FilledOrders", "ActiveOrders", "CanceledOrders"})
            ws.PreloadAlerts(t, 10000);
        ws.Exec(
            ws.Trading(),
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500) "
            "INSERT INTO tParam (code, stock, bid, offer) SELECT 'Q' || i, 'Бумага ' || i, i, i + 1 FROM n");
        const qint64 before = ws.Scalar(ws.Alerts(), "SELECT max(ID) FROM FilledOrders").toLongLong();

        TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws, window);
        auto journal = [&] { return ReadCp1251(ws.Path("Korvex.log")); };
        QVERIFY2(robot.WaitFor(
                     [&] { return journal().contains(QStringLiteral("Загрузка ордеров включена.")); }, 20000),
                 robot.Out.constData());
        QProcess quik, quotes;
        quik.start(QUIKSIM_EXE, {"--tri", ws.TriPath(), "--tro", ws.TroPath(), "--infolog", ws.InfoLogPath(),
                                 "--trading", ws.TradingPath(), "--poll-ms", "100", "--quotes-ms", "200"});
        QVERIFY(quik.waitForStarted());
        StartQuoteWriter(quotes, ws);

        const int alerts = 500;
        for (int i = 0; i < alerts; ++i) {
            ws.InsertAlert("FilledOrders", {});
            if (i % 25 == 24) robot.WaitFor([] { return false; }, 250);
        }
        const bool done = robot.WaitFor(
            [&] { return Scalar(ws, "SELECT count(*) FROM tOrderNumber WHERE status = 3") >= 3 * alerts; },
            100000);
        Kill(quotes);
        Kill(quik);
        QVERIFY(robot.Stop());
        const QString log = journal();
        QVERIFY2(done, qPrintable(QStringLiteral("%1 of %2 results stored\n")
                                      .arg(Scalar(ws, "SELECT count(*) FROM tOrderNumber WHERE status = 3"))
                                      .arg(3 * alerts) +
                                  log.right(3000)));

        const QStringList lines = TriLines(ws);
        QString why;
        QVERIFY2(WellFormedAndUnique(lines, &why), qPrintable(why));
        QCOMPARE(lines.size(), 3 * alerts);
        QCOMPARE(Scalar(ws, "SELECT count(*) FROM tOrderNumber"), 3 * alerts);
        QCOMPARE(Scalar(ws, "SELECT count(*) FROM (SELECT id_order FROM tOrderNumber GROUP BY id_order "
                            "HAVING count(*) = 3)"),
                 alerts);
        QCOMPARE(
            Scalar(ws, QStringLiteral("SELECT count(*) FROM tOrderNumber WHERE id_order <= %1").arg(before)),
            0);
        QCOMPARE(ws.Scalar(ws.Alerts(),
                           QStringLiteral(
                               "SELECT count(*) FROM FilledOrders WHERE ID > %1 AND \"Order Number\" = ID")
                               .arg(before))
                     .toInt(),
                 alerts);
        for (const char* bad : {"ошибк", "locked", "не отправлен", "не прошел", "пропущен"})
            QVERIFY2(!log.contains(QString::fromUtf8(bad), Qt::CaseInsensitive),
                     qPrintable(QStringLiteral("journal has \"%1\"").arg(QString::fromUtf8(bad))));
    }

    void faults_lockedDatabase_fullDisk_badRow_garbageResults_nothingLostNothingTwice() {
        TTestWorkspace ws(true);
        // The .TRI lives on a disk of 16 KB that the test fills and frees, as a real disk fills up.
        const QString disk = ws.Path("tri-disk");
        QDir().mkpath(disk);
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=32k", "tmpfs", disk}) != 0)
            QSKIP("a small file system cannot be mounted here (needs root)");
        struct TUnmount {
            QString Path;
            ~TUnmount() { QProcess::execute("umount", {"-l", Path}); }
        } unmount{disk};
        const QString tri = disk + "/trans.tri";
        ws.WriteRobotIni("rgpSingleMulti=1\r\n", QStringLiteral("RetryPeriod=60\r\n"));
        QByteArray ini = ReadBytes(ws.Path("Korvex.ini"));
        ini.replace(ws.TriPath().toUtf8(), tri.toUtf8());
        WriteBytes(ws.Path("Korvex.ini"), ini);
        ws.PreloadAlerts("FilledOrders", 1000);

        TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
        QByteArray& out = robot.Out;
        auto wait = [&](const std::function<bool()>& done, int ms = 30000) {
            const bool ok = robot.WaitFor(done, ms);
            if (!ok)
                std::fprintf(stderr, "%s\n", out.right(4000).constData()); // the robot's side of the story
            return ok;
        };
        auto lines = [&] {
            QStringList l = ReadCp1251(tri).split("\r\n");
            l.removeAll(QString());
            return l;
        };
        QVERIFY(wait([&] { return out.contains("Загрузка ордеров включена."); }));

        // A bad row between two good ones: the good ones go out, the bad one is named.
        ws.InsertAlert("FilledOrders", {});
        const qint64 bad = ws.InsertAlert("FilledOrders", {{"Fill Price", "n/a"}});
        ws.InsertAlert("FilledOrders", {});
        QVERIFY(wait([&] { return lines().size() == 6; }));
        QVERIFY(
            out.contains(QStringLiteral("Ордер # %1 (FilledOrders): строка не читается").arg(bad).toUtf8()));

        // The trading database held by another writer longer than the busy timeout.
        {
            QSqlDatabase holder = QSqlDatabase::addDatabase("QSQLITE", "holder");
            holder.setDatabaseName(ws.TradingPath());
            QVERIFY(holder.open());
            QSqlQuery q(holder);
            QVERIFY(q.exec("BEGIN EXCLUSIVE"));
            QVERIFY(q.exec("UPDATE tParam SET bid = bid"));
            ws.InsertAlert("FilledOrders", {});
            QVERIFY(wait([&] { return out.contains("database is locked"); }));
            robot.WaitFor([] { return false; }, 3000);
            QCOMPARE(lines().size(), 6);
            QVERIFY(q.exec("COMMIT"));
            q.finish();
            holder.close();
        }
        QSqlDatabase::removeDatabase("holder");
        QVERIFY(wait([&] { return lines().size() == 9; }));

        // Garbage in QUIK's result file: a NUL and control bytes; the lines after it still count.
        WriteBytes(ws.TroPath(),
                   "TRANS_ID=1;STATUS=3;TRANS_NAME=\"x\";DESCRIPTION=\"ok\";ORDER_NUMBER=100;\r\n", true);
        WriteBytes(ws.TroPath(), QByteArray("TRANS_ID=2;\0\0\x01garbage\r\n", 22), true);
        WriteBytes(ws.TroPath(),
                   "TRANS_ID=3;STATUS=3;TRANS_NAME=\"x\";DESCRIPTION=\"ok\";ORDER_NUMBER=102;\r\n", true);
        QVERIFY(wait(
            [&] { return Scalar(ws, "SELECT order_number FROM tOrderNumber WHERE trans_id = 3") == 102; }));
        QCOMPARE(Scalar(ws, "SELECT order_number FROM tOrderNumber WHERE trans_id = 1"), 100);
        QCOMPARE(out.count("управляющие символы"), 1);

        // The disk fills: a line is cut short, then nothing goes; freed, every line arrives once.
        // Only what is left of the .TRI's last page (the lock beside it takes pages of its own).
        WriteBytes(disk + "/filler", QByteArray(QStorageInfo(disk).bytesAvailable() - 2048, 'x'));
        for (int i = 0; i < 12; ++i)
            ws.InsertAlert("FilledOrders", {});
        QVERIFY(wait([&] { return out.contains("Не удалось записать в файл транзакций"); }));
        robot.WaitFor([] { return false; }, 2500);
        QVERIFY(!ReadBytes(tri).endsWith("\r\n")); // a line was cut short by the full disk
        QVERIFY(lines().size() < 9 + 36);
        QFile::remove(disk + "/filler");
        QVERIFY(wait([&] { return lines().size() == 9 + 36; }));
        QString why;
        QVERIFY2(WellFormedAndUnique(lines(), &why), qPrintable(why));
        QVERIFY(out.contains("снова доступен"));

        // And trading goes on.
        ws.InsertAlert("FilledOrders", {});
        QVERIFY(wait([&] { return lines().size() == 9 + 36 + 3; }));
        QVERIFY(WellFormedAndUnique(lines(), &why));
        QCOMPARE(Scalar(ws, "SELECT count(*) FROM tOrderNumber"), 9 + 36 + 3);
        QVERIFY(robot.Stop());
    }

    void breakerStopsTheRealRobot_passedOverAlertsAreNamedAfterARestart() {
        TTestWorkspace ws(true);
        ws.WriteRobotIni(QString());
        WriteBytes(ws.Path("Korvex.ini"), "[Risk]\r\nMaxTransPerMinute=5\r\n", true);
        QList<qint64> ids;
        {
            TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
            QVERIFY(robot.WaitFor([&] { return robot.Out.contains("Загрузка ордеров включена."); }, 20000));
            for (int i = 0; i < 10; ++i)
                ids << ws.InsertAlert("FilledOrders", {}); // a strategy firing in a loop
            QVERIFY2(
                robot.WaitFor([&] { return robot.Out.contains("Загрузка ордеров остановлена."); }, 20000),
                robot.Out.constData());
            robot.WaitFor([] { return false; }, 2000);
            QCOMPARE(TriLines(ws).size(), 5);
            QVERIFY(robot.Out.contains(
                "остановлена автоматически: за последнюю минуту было бы отправлено 6 транзакций, предел 5"));
            QVERIFY(robot.Stop());
        }
        ids << ws.InsertAlert("FilledOrders", {}) << ws.InsertAlert("FilledOrders", {});
        TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
        QVERIFY(robot.WaitFor([&] { return robot.Out.contains("Загрузка ордеров включена."); }, 20000));
        const QByteArray named =
            QStringLiteral("В таблице FilledOrders пришли без наблюдения и не отправлены ордера: 7 (#%1–#%2)")
                .arg(ids[5])
                .arg(ids.last())
                .toUtf8();
        QVERIFY2(robot.Out.contains(named), robot.Out.constData());
        ws.InsertAlert("FilledOrders", {});
        QVERIFY(robot.WaitFor([&] { return TriLines(ws).size() == 1; }, 20000)); // a new run, a new .TRI
        QVERIFY(robot.Stop());
    }

    void journalThatCannotBeWritten_neverStopsTrading() {
        TTestWorkspace ws(true);
        ws.WriteRobotIni(QString());
        QVERIFY(QFile::link("/dev/full", ws.Path("Korvex.log")));
        TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
        QVERIFY2(robot.WaitFor([&] { return robot.Out.contains("Загрузка ордеров включена."); }, 20000),
                 robot.Out.constData());
        for (int i = 0; i < 3; ++i)
            ws.InsertAlert("FilledOrders", {});
        QVERIFY2(robot.WaitFor([&] { return TriLines(ws).size() == 3; }, 20000), robot.Out.constData());
        QVERIFY(robot.Stop());
        QCOMPARE(robot.Out.count("Ошибка записи в файл журнала"), 1); // said once, on standard error
    }

    // kill -9 at random through a busy group day of advance orders, QUIK answering while the robot is
    // down, a restart after each; then the strategy cancels everything. QUIK never sees a number twice,
    // no alert reaches a client twice, and every order QUIK accepted gets exactly one cancellation.
    void killedAtRandom_restarted_everyAcceptedOrderCancelledOnce() {
        TTestWorkspace ws(true);
        ws.WriteRobotIni("rgpSingleMulti=1\r\nrgpFilled=0\r\n", QStringLiteral("RetryPeriod=600\r\n"));
        const QString history = ws.Path("quik-history.txt");
        QProcess quik;
        quik.start(QUIKSIM_EXE,
                   {"--tri", ws.TriPath(), "--tro", ws.TroPath(), "--infolog", ws.InfoLogPath(), "--trading",
                    ws.TradingPath(), "--poll-ms", "50", "--quotes-ms", "0", "--history", history});
        QVERIFY(quik.waitForStarted());
        EndWithThisProcess(quik);
        QRandomGenerator random(7);
        QList<qint64> alerts;
        const int kills = 20;
        for (int k = 0; k <= kills; ++k) {
            TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
            QVERIFY2(robot.WaitFor([&] { return robot.Out.contains("Загрузка ордеров включена."); }, 20000),
                     robot.Out.right(3000).constData());
            if (k == kills) {
                // The strategy cancels every order it placed.
                for (const qint64 id : alerts)
                    ws.InsertAlert("CanceledOrders", {{"Order Number", QString::number(id)}});
                robot.WaitFor([] { return false; }, 4000);
                QVERIFY(robot.Stop());
                break;
            }
            for (int i = 0; i < 3; ++i) {
                alerts << ws.InsertAlert("ActiveOrders", {{"Order", "Buy 100 at 280 Limit"}});
                robot.WaitFor([] { return false; }, static_cast<int>(random.bounded(250)));
            }
            robot.Process.kill();
            robot.Process.waitForFinished();
            robot.WaitFor([] { return false; }, static_cast<int>(random.bounded(300))); // QUIK goes on
        }
        Kill(quik);

        // What QUIK took, in its order, with its answers.
        QSet<QString> ids;
        QSet<QString> accepted;
        QHash<QString, int> cancels;
        QString last;
        for (const QString& l : ReadCp1251(history).split("\r\n", Qt::SkipEmptyParts)) {
            const auto field = [&](const QString& line, const QString& key) {
                const QRegularExpression re(key + QStringLiteral(" ?=([^;]*)"));
                return re.match(line).captured(1).trimmed();
            };
            if (l.startsWith("TRANS_ID =")) {
                const QString id = field(l, "TRANS_ID");
                QVERIFY2(!ids.contains(id), qPrintable("TRANS_ID repeated: " + l));
                ids.insert(id);
                last = l;
                if (l.contains("ACTION=KILL")) ++cancels[field(l, "Order_key")];
            } else if (l.contains("STATUS=3") && last.contains("ACTION=NEW_ORDER")) {
                accepted.insert(field(l, "ORDER_NUMBER"));
            }
        }
        QVERIFY(!accepted.isEmpty());
        for (const QString& number : accepted)
            QVERIFY2(
                cancels.value(number) == 1,
                qPrintable(
                    QStringLiteral("order %1 cancelled %2 times").arg(number).arg(cancels.value(number))));
        // No alert went to a client twice: the registry holds one new order per alert and client.
        QCOMPARE(Scalar(ws, "SELECT count(*) FROM (SELECT alert_id, code FROM tOrderRegistry WHERE action "
                            "LIKE 'NEW%' GROUP BY alert_id, code HAVING count(*) > 1)"),
                 0);
        QCOMPARE(Scalar(ws, "SELECT count(*) FROM tOrderRegistry WHERE action LIKE 'NEW%' and stage <> 5"),
                 static_cast<int>(accepted.size()));
    }
};

QTEST_GUILESS_MAIN(TestTradingDay)
#include "tst_trading_day.moc"

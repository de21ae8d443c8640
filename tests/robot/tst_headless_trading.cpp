#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTest>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The real program, headless and watching, fed by a second connection as the platform and QUIK.
class TestHeadlessTrading : public QObject {
    Q_OBJECT
private slots:
    void rowsInserted_becomeTriLines_resultsComeBack() {
        TTestWorkspace ws(true);
        ws.WriteRobotIni("rgpFilled=0\r\n");
        TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
        QByteArray& out = robot.Out;
        auto waitFor = [&](auto done, int ms) { return robot.WaitFor(done, ms); };
        QVERIFY2(waitFor([&] { return out.contains("Загрузка ордеров включена."); }, 15000), out.constData());
        const qint64 id =
            ws.InsertAlert("ActiveOrders", {{"Order", "Buy 30 at 130 Limit"}, {"Symbol", "GAZP"}});
        QVERIFY2(waitFor([&] { return ReadBytes(ws.TriPath()).contains("\r\n"); }, 15000), out.constData());
        QCOMPARE(ReadBytes(ws.TriPath()),
                 QByteArray(
                     "TRANS_ID "
                     "=1;ACTION=NEW_ORDER;ACCOUNT=L01-00000F00;SECCODE=GAZP;CLASSCODE=TQBR;CLIENT_CODE=111;"
                     "OPERATION=B;PRICE=130.00;STOPPRICE=130.13;Order_key=;Stop_Order_key=;QUANTITY=3\r\n"));
        WriteBytes(ws.TroPath(),
                   "TRANS_ID=1;STATUS=3;TRANS_NAME=\"NEW_ORDER\";DESCRIPTION=\"done\";ORDER_NUMBER=555;\r\n",
                   true);
        QVERIFY2(waitFor(
                     [&] {
                         return ws.Scalar(ws.Trading(),
                                          "SELECT order_number FROM tOrderNumber WHERE trans_id = 1")
                                    .toInt() == 555;
                     },
                     15000),
                 out.constData());
        QVERIFY(waitFor(
            [&] {
                return ws.Scalar(
                             ws.Alerts(),
                             QStringLiteral("SELECT \"Order Number\" FROM ActiveOrders WHERE ID=%1").arg(id))
                           .toString() == QString::number(id);
            },
            15000));
        QVERIFY(robot.Stop());
        QVERIFY(ReadCp1251(ws.Path("Korvex.log"))
                    .contains(QStringLiteral("Транзакция номер 1 успешно выполнена.")));
    }

    void standardOutputNotRead_orItsReaderGone_tradingGoesOn() {
        TTestWorkspace ws(true);
        ws.WriteRobotIni("rgpFilled=0\r\n");
        // Standard output is never read here: the pipe fills after some 64 KB of journal.
        TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
        auto waitFor = [](auto done, int ms) {
            QDeadlineTimer t(ms);
            while (!done() && !t.hasExpired())
                QThread::msleep(50);
            return done();
        };
        auto triLines = [&] { return static_cast<int>(ReadBytes(ws.TriPath()).count("\r\n")); };
        QVERIFY(waitFor(
            [&] { return ReadCp1251(ws.Path("Korvex.log")).contains("Загрузка ордеров включена."); }, 15000));
        const int n = 800; // far more journal than a pipe holds
        ws.Exec(ws.Alerts(), "BEGIN");
        for (int i = 0; i < n; ++i)
            ws.InsertAlert("ActiveOrders", {{"Order", "Buy 30 at 130 Limit"}, {"Symbol", "GAZP"}});
        ws.Exec(ws.Alerts(), "COMMIT");
        QVERIFY2(waitFor([&] { return triLines() == n; }, 60000), qPrintable(QString::number(triLines())));
        // The reader goes away: the robot goes on.
        robot.Process.closeReadChannel(QProcess::StandardOutput);
        ws.InsertAlert("ActiveOrders", {{"Order", "Buy 30 at 130 Limit"}, {"Symbol", "GAZP"}});
        QVERIFY(waitFor([&] { return triLines() == n + 1; }, 15000));
        QCOMPARE(robot.Process.state(), QProcess::Running);
        QVERIFY(robot.Stop());
        QVERIFY(ReadCp1251(ws.Path("Korvex.log")).contains(QStringLiteral("Транзакция номер %1 ").arg(n)));
    }

    // A stop order QUIK accepted is still cancelled by the strategy after the robot was stopped or
    // killed and started again; the numbers go on.
    void stopOrderAccepted_restart_strategysCancellationPullsIt_data() {
        QTest::addColumn<bool>("killed");
        QTest::newRow("stopped in order") << false;
        QTest::newRow("killed") << true;
    }
    void stopOrderAccepted_restart_strategysCancellationPullsIt() {
        QFETCH(bool, killed);
        TTestWorkspace ws(true);
        ws.WriteRobotIni("rgpFilled=0\r\n");
        qint64 id = 0;
        {
            TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
            QVERIFY2(robot.WaitFor([&] { return robot.Out.contains("Загрузка ордеров включена."); }, 15000),
                     robot.Out.constData());
            id = ws.InsertAlert("ActiveOrders", {{"Order", "Sell 30 at 130 Stop"}, {"Symbol", "GAZP"}});
            QVERIFY2(robot.WaitFor([&] { return ReadBytes(ws.TriPath()).contains("\r\n"); }, 15000),
                     robot.Out.constData());
            WriteBytes(ws.TroPath(), "TRANS_ID=1;STATUS=3;ORDER_NUMBER=4242;\r\n", true);
            QVERIFY(robot.WaitFor(
                [&] {
                    return ws.Scalar(ws.Trading(), "SELECT order_number FROM tOrderNumber WHERE trans_id = 1")
                               .toInt() == 4242;
                },
                15000));
            if (killed) {
                robot.Process.kill();
                robot.Process.waitForFinished();
            } else {
                QVERIFY(robot.Stop());
            }
        }
        TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
        QVERIFY2(robot.WaitFor([&] { return robot.Out.contains("Загрузка ордеров включена."); }, 15000),
                 robot.Out.constData());
        ws.InsertAlert(
            "CanceledOrders",
            {{"Order", "Sell 30 at 130 Stop"}, {"Symbol", "GAZP"}, {"Order Number", QString::number(id)}});
        QVERIFY2(robot.WaitFor([&] { return ReadBytes(ws.TriPath()).contains("\r\n"); }, 15000),
                 robot.Out.constData());
        const QByteArray kill = ReadBytes(ws.TriPath());
        QVERIFY2(kill.startsWith("TRANS_ID =2;ACTION=KILL_STOP_ORDER;ACCOUNT=L01-00000F00;SECCODE=GAZP;") &&
                     kill.contains("CLIENT_CODE=111;") &&
                     kill.contains("Order_key=4242;Stop_Order_key=4242;"),
                 kill.constData());
        QVERIFY(robot.Stop());
    }

    // An entry committed while the .TRI could not be written, the robot killed: the next start names
    // the transaction and takes its open position back.
    void entryCommittedButNeverWritten_robotKilled_nextStartNamesIt() {
        TTestWorkspace ws(true);
        ws.WriteRobotIni("rgpFilled=0\r\n", "RetryPeriod=600\r\n");
        qint64 id = 0;
        {
            TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
            QVERIFY2(robot.WaitFor([&] { return robot.Out.contains("Загрузка ордеров включена."); }, 15000),
                     robot.Out.constData());
            QFile::remove(ws.TriPath());
            QVERIFY(QDir().mkpath(ws.TriPath()));
            id = ws.InsertAlert("ActiveOrders", {{"Order", "Buy 30 at 130 Market"}, {"Symbol", "GAZP"}});
            QVERIFY(robot.WaitFor(
                [&] {
                    return ws.Scalar(ws.Trading(), "SELECT count(*) FROM tClientOpenPositions").toInt() == 1;
                },
                15000));
            robot.Process.kill();
            robot.Process.waitForFinished();
        }
        QVERIFY(QDir().rmdir(ws.TriPath()));
        TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
        const QByteArray named =
            QStringLiteral("Транзакция номер 1 прошлого запуска (ордер # %1, счет 111) не "
                           "отправлена в Quik")
                .arg(id)
                .toUtf8();
        QVERIFY2(robot.WaitFor([&] { return robot.Out.contains(named); }, 15000), robot.Out.constData());
        QCOMPARE(ws.Scalar(ws.Trading(), "SELECT count(*) FROM tClientOpenPositions").toInt(), 0);
        QVERIFY(robot.Stop());
    }

    // A mail server that takes the connection and never answers holds no line back and loses none.
    void silentMailServer_holdsNoLineBack_losesNone() {
        const int server = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        QVERIFY(bind(server, reinterpret_cast<sockaddr*>(&addr), len) == 0 && listen(server, 16) == 0);
        QVERIFY(getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
        TTestWorkspace ws(true);
        // A retry period shorter than one mail exchange: a line that waited for mail would be given up.
        ws.WriteRobotIni(
            "rgpFilled=0\r\n", "RetryPeriod=3\r\n",
            QStringLiteral("SMTP=127.0.0.1\r\nPort=%1\r\nEmail1=ops@example.test\r\nSendTrans_id=-1\r\n")
                .arg(ntohs(addr.sin_port)));
        TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
        QVERIFY2(robot.WaitFor([&] { return robot.Out.contains("Загрузка ордеров включена."); }, 15000),
                 robot.Out.constData());
        auto triLines = [&] { return static_cast<int>(ReadBytes(ws.TriPath()).count("\r\n")); };
        for (int i = 1; i <= 3; ++i) {
            ws.InsertAlert("ActiveOrders", {{"Order", "Buy 30 at 130 Market"}, {"Symbol", "GAZP"}});
            QVERIFY2(robot.WaitFor([&] { return triLines() == i; }, 15000), robot.Out.constData());
        }
        // At exit the queue gets at most the reply limit; what is left is named.
        QVERIFY(robot.Stop(60000));
        close(server);
        const QString log = ReadCp1251(ws.Path("Korvex.log"));
        QVERIFY(!log.contains(QStringLiteral("не отправлена в Quik")));
        QVERIFY2(log.contains(QStringLiteral("Очередь писем остановлена при выходе")), qPrintable(log));
    }

    // The .TRI replaced by a folder for longer than the retry period: the entry is given up and its
    // records taken back; once the file can be written, the next alert goes out.
    void triUnwritablePastTheRetryPeriod_entryUndone_nextAlertGoes() {
        TTestWorkspace ws(true);
        ws.WriteRobotIni("rgpFilled=0\r\n", "RetryPeriod=2\r\n");
        TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
        QVERIFY2(robot.WaitFor([&] { return robot.Out.contains("Загрузка ордеров включена."); }, 15000),
                 robot.Out.constData());
        QFile::remove(ws.TriPath());
        QVERIFY(QDir().mkpath(ws.TriPath()));
        ws.InsertAlert("ActiveOrders", {{"Order", "Buy 30 at 130 Market"}, {"Symbol", "GAZP"}});
        QVERIFY2(robot.WaitFor([&] { return robot.Out.contains("Транзакция номер 1 не отправлена в Quik"); },
                               20000),
                 robot.Out.constData());
        auto count = [&](const char* table) {
            return ws.Scalar(ws.Trading(), QStringLiteral("SELECT count(*) FROM %1").arg(table)).toInt();
        };
        QCOMPARE(count("tClientOpenPositions"), 0);
        QCOMPARE(count("tOrderNumber"), 0);
        QVERIFY(QDir().rmdir(ws.TriPath()));
        ws.InsertAlert("ActiveOrders", {{"Order", "Buy 30 at 130 Market"}, {"Symbol", "GAZP"}});
        QVERIFY2(robot.WaitFor([&] { return ReadBytes(ws.TriPath()).startsWith("TRANS_ID =2;"); }, 15000),
                 robot.Out.constData());
        QCOMPARE(count("tClientOpenPositions"), 1);
        QVERIFY(robot.Stop());
    }

    // Three alerts behind a lock longer than the retry period: none goes out late, each is named.
    void alertsBehindALongLock_noneSentLate_eachNamed() {
        TTestWorkspace ws(true);
        ws.WriteRobotIni("rgpFilled=0\r\n", "RetryPeriod=2\r\n");
        TRobotProcess robot(QStringLiteral(KORVEX_EXE), ws);
        QVERIFY2(robot.WaitFor([&] { return robot.Out.contains("Загрузка ордеров включена."); }, 15000),
                 robot.Out.constData());
        ws.Exec(ws.Trading(), "BEGIN EXCLUSIVE");
        for (int i = 0; i < 3; ++i)
            ws.InsertAlert("ActiveOrders", {{"Order", "Buy 30 at 130 Limit"}, {"Symbol", "GAZP"}});
        robot.WaitFor([] { return false; }, 5000);
        ws.Exec(ws.Trading(), "COMMIT");
        const QByteArray late = QStringLiteral("пропущен: поздний сигнал не исполняется").toUtf8();
        QVERIFY2(robot.WaitFor([&] { return robot.Out.count(late) == 3; }, 20000), robot.Out.constData());
        QVERIFY(robot.Stop());
        QVERIFY(!ReadBytes(ws.TriPath()).contains("TRANS_ID"));
    }

    // A second robot on the same workdir, or on another workdir with the same .TRI, is refused before
    // it touches anything; the first goes on trading.
    void secondRobot_sameWorkdirOrSameTri_isRefused() {
        TTestWorkspace ws(true);
        ws.WriteRobotIni("rgpFilled=1\r\n");
        TRobotProcess first(QStringLiteral(KORVEX_EXE), ws);
        QVERIFY2(first.WaitFor([&] { return first.Out.contains("Загрузка ордеров включена."); }, 15000),
                 first.Out.constData());
        QProcess same;
        same.start(QStringLiteral(KORVEX_EXE), {"--headless", "--watch", "--workdir", ws.Path(".")});
        QVERIFY(same.waitForFinished(15000));
        QVERIFY(same.exitCode() != 0);
        QVERIFY2(same.readAllStandardError().contains("уже работает Korvex"), "no reason given");
        // Not even the journal was touched.
        QVERIFY(!ReadCp1251(ws.Path("Korvex.log")).contains(QStringLiteral("уже работает")));

        TTestWorkspace other(true);
        other.WriteRobotIni("rgpFilled=1\r\n");
        QByteArray ini = ReadBytes(other.Path("Korvex.ini"));
        ini.replace(other.TriPath().toUtf8(), ws.TriPath().toUtf8());
        WriteBytes(other.Path("Korvex.ini"), ini);
        QProcess shared;
        shared.start(QStringLiteral(KORVEX_EXE), {"--headless", "--watch", "--workdir", other.Path(".")});
        QVERIFY(shared.waitForFinished(15000));
        QVERIFY(shared.exitCode() != 0);
        const QByteArray why = shared.readAllStandardError();
        QVERIFY2(why.contains("уже занят другим Korvex") &&
                     why.contains(QDir(ws.Path(".")).canonicalPath().toUtf8()),
                 why.constData());
        ws.InsertAlert("FilledOrders", {});
        QVERIFY2(first.WaitFor([&] { return ReadBytes(ws.TriPath()).startsWith("TRANS_ID =1;"); }, 15000),
                 first.Out.constData());
        QVERIFY(first.Stop());
    }
};

QTEST_GUILESS_MAIN(TestHeadlessTrading)
#include "tst_headless_trading.moc"

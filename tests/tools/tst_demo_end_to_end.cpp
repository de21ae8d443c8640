#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

// The real robot, headless and watching, with both simulators as processes on one workspace.
class TestDemoEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void alertsIn_triOut_resultsBack_cancellation_andLinkDropRecovery() {
        TTestWorkspace ws(true);
        ws.WriteRobotIni("rgpFilled=0\r\nrgpSingleMulti=0\r\n", "QuikConnect=-1\r\nQuikConnectTimeOut=1\r\n");
        QProcess quik, platform;
        quik.start(QUIKSIM_EXE,
                   {"--workdir", ws.Path("."), "--poll-ms", "100", "--log-ms", "250", "--quotes-ms", "500"});
        TRobotProcess robot(KORVEX_EXE, ws);
        QByteArray& out = robot.Out;
        auto waitFor = [&](auto done, int ms) { return robot.WaitFor(done, ms); };
        QVERIFY2(waitFor([&] { return out.contains("Загрузка ордеров включена."); }, 20000), out.constData());
        QVERIFY2(waitFor(
                     [&] {
                         return out.contains("Соединение установлено") ||
                                ws.Scalar(ws.Trading(), "SELECT count(*) FROM tParam").toInt() > 0;
                     },
                     10000),
                 out.constData());

        platform.start(ALERTSIM_EXE, {"--alerts", ws.AlertsPath(), "--trading", ws.TradingPath(), "--rate",
                                      "0.8", "--count", "30", "--seed", "11"});
        QVERIFY(platform.waitForStarted());
        // Alerts become .TRI lines; QUIK's answers come back into tOrderNumber and the alert rows.
        QVERIFY2(waitFor([&] { return ReadCp1251(ws.TriPath()).contains("ACTION=KILL_ORDER"); }, 45000),
                 ReadCp1251(ws.TriPath()).toUtf8().constData());
        QVERIFY(platform.waitForFinished(40000));
        QTest::qWait(2500);
        out += robot.Process.readAll();

        const QString tri = ReadCp1251(ws.TriPath());
        QVERIFY(tri.count("ACTION=NEW_ORDER") >= 3);
        // Under the regional settings these processes run with (ctest runs this suite under C.UTF-8 and
        // ru_RU.UTF-8), every advance order carries a real price in that format and QUIK takes it.
        const QRegularExpression price(
            QStringLiteral(";PRICE=(\\d+(\\%1\\d+)?);").arg(QLocale::system().decimalPoint()));
        for (const QString& line : tri.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
            if (line.contains("ACTION=NEW_ORDER")) {
                const auto m = price.match(line);
                QVERIFY2(m.hasMatch() && m.captured(1).contains(QRegularExpression("[1-9]")),
                         qPrintable(line));
            }
        QCOMPARE(ws.Scalar(ws.Trading(),
                           "SELECT count(*) FROM tOrderNumber WHERE trans_name = 'NEW_ORDER' AND status <> 3")
                     .toInt(),
                 0);
        QVERIFY(ws.Scalar(ws.Trading(),
                          "SELECT count(*) FROM tOrderNumber WHERE status = 3 AND order_number >= 4100000")
                    .toInt() >= 3);
        QCOMPARE(ws.Scalar(ws.Trading(), "SELECT count(*) FROM tOrderNumber WHERE status IS NULL").toInt(),
                 0);
        QVERIFY(ws.Scalar(ws.Alerts(),
                          "SELECT count(*) FROM ActiveOrders WHERE \"Order Number\" = CAST(ID AS TEXT)")
                    .toInt() >= 3);
        // Every cancellation that went out names an order QUIK had placed, and QUIK took it.
        QVERIFY(ws.Scalar(ws.Trading(),
                          "SELECT count(*) FROM tOrderNumber WHERE trans_name = 'KILL_ORDER' AND status = 3")
                    .toInt() >= 1);
        QVERIFY(out.contains("успешно выполнена."));

        // QUIK loses its server: info.log stops growing; then it comes back.
        WriteBytes(ws.InfoLogPath() + ".down", "");
        QVERIFY2(waitFor([&] { return out.contains("Соединение разорвано"); }, 10000), out.constData());
        QFile::remove(ws.InfoLogPath() + ".down");
        QVERIFY2(waitFor(
                     [&] {
                         return out.lastIndexOf("Соединение установлено") >
                                out.lastIndexOf("Соединение разорвано");
                     },
                     10000),
                 out.constData());

        QVERIFY(robot.Stop());
        quik.terminate();
        QVERIFY(quik.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(TestDemoEndToEnd)
#include "tst_demo_end_to_end.moc"

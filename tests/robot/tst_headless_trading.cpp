#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QTest>
#include <QThread>

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
                     "=0;ACTION=NEW_ORDER;ACCOUNT=L01-00000F00;SECCODE=GAZP;CLASSCODE=TQBR;CLIENT_CODE=111;"
                     "OPERATION=B;PRICE=130.00;STOPPRICE=130.13;Order_key=;Stop_Order_key=;QUANTITY=3\r\n"));
        WriteBytes(ws.TroPath(),
                   "TRANS_ID=0;STATUS=3;TRANS_NAME=\"NEW_ORDER\";DESCRIPTION=\"done\";ORDER_NUMBER=555;\r\n",
                   true);
        QVERIFY2(waitFor(
                     [&] {
                         return ws.Scalar(ws.Trading(),
                                          "SELECT order_number FROM tOrderNumber WHERE trans_id = 0")
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
                    .contains(QStringLiteral("Транзакция номер 0 успешно выполнена.")));
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
};

QTEST_GUILESS_MAIN(TestHeadlessTrading)
#include "tst_headless_trading.moc"

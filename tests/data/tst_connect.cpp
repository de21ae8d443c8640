#include "support/TestSupport.h"

#include <QFile>
#include <QTest>

class TestConnect : public QObject {
    Q_OBJECT
private slots:
    void init() { KORVEX_TEST_INIT(); }

    void wrongAlertsPath_oneErrorLineOneOk_noTickNoClearNoTimer() {
        TTestWorkspace ws;
        ws.Exec(ws.Trading(),
                "INSERT INTO tOrderNumber (trans_id, id_order, filled, code) VALUES (0, 1, 0, '111')");
        TTestRobot r(ws);
        r.S().Alerts = ws.Path("wrong.db");
        QVERIFY(!r.Connect());
        const QStringList j = r.JournalTexts();
        QCOMPARE(j.size(), 3);
        QCOMPARE(
            j[0],
            QStringLiteral("При подключении к базе данных %1 произошла ошибка:").arg(ws.Path("wrong.db")));
        QVERIFY(j[1].contains("wrong.db"));
        QCOMPARE(j[2], QStringLiteral("Подключение к базе данных %1: OK").arg(ws.TradingPath()));
        QCOMPARE(r.Engine->StatusPanels()[0], QStringLiteral("Подключение к Omega: Нет"));
        QCOMPARE(r.Engine->StatusPanels()[1], QStringLiteral("Подключение к Quik: OK"));
        QVERIFY(r.Engine->DatMod().QuikDataConnected());
        QCOMPARE(ws.Scalar(ws.Trading(), "SELECT count(*) FROM tOrderNumber").toInt(), 1);
        QVERIFY(!r.Engine->timUpdateTable().Enabled());
        QVERIFY(!r.Engine->Actions().actStartWatch);
        QVERIFY(!r.Engine->DatMod().tParam->IsOpen()); // no tick ran
    }

    void bothRight_tickClearTimerAndStartEnabled() {
        TTestWorkspace ws(true);
        ws.Exec(ws.Trading(),
                "INSERT INTO tOrderNumber (trans_id, id_order, filled, code) VALUES (0, 1, 0, '111')");
        TTestRobot r(ws);
        QVERIFY(r.Connect());
        QCOMPARE(r.JournalTexts(),
                 (QStringList{QStringLiteral("Подключение к базе данных %1: OK").arg(ws.AlertsPath()),
                              QStringLiteral("Подключение к базе данных %1: OK").arg(ws.TradingPath())}));
        QCOMPARE(ws.Scalar(ws.Trading(), "SELECT count(*) FROM tOrderNumber").toInt(), 0);
        QVERIFY(r.Engine->timUpdateTable().Enabled());
        QVERIFY(r.Engine->Actions().actStartWatch);
        QVERIFY(r.Engine->DatMod().tParam->IsOpen());
        QVERIFY(r.Engine->DatMod().tClients->IsOpen());
        QCOMPARE(r.Engine->SumList().SumTraded, 6);
        QCOMPARE(r.Engine->PortfolioTotals().SumId_client, 3);
        QCOMPARE(r.Engine->StatusPanels()[0], QStringLiteral("Подключение к Omega: OK"));
    }

    void rollbackJournalFile_isSwitchedToWalOnce_andTheJournalSaysSo() {
        TTestWorkspace ws;
        ws.Exec(ws.Alerts(), "PRAGMA journal_mode=DELETE");
        TTestRobot r(ws);
        QVERIFY(r.Connect());
        QVERIFY(r.Connect());
        const QStringList wal = r.JournalTexts().filter("режим WAL");
        QCOMPARE(wal.size(), 1);
        QVERIFY(wal[0].contains(ws.AlertsPath()));
    }

    void databaseFileGoneOrReplaced_isToldOnce_andTheConnectionShowsClosed() {
        TTestWorkspace ws(true);
        TTestRobot r(ws);
        QVERIFY(r.Connect());
        QVERIFY(QFile::rename(ws.TradingPath(), ws.Path("moved.db")));
        QVERIFY(!r.Tick());
        r.Tick(); // the next tick has nothing new to tell
        QCOMPARE(r.Errors.filter(QStringLiteral("Файл базы данных %1 исчез").arg(ws.TradingPath())).size(),
                 1);
        QCOMPARE(r.Engine->StatusPanels()[1], QStringLiteral("Подключение к Quik: Нет"));
        // Another file put at the alerts database's path.
        QVERIFY(QFile::copy(ws.AlertsPath(), ws.Path("copy.db")));
        QVERIFY(QFile::remove(ws.AlertsPath()));
        QVERIFY(QFile::rename(ws.Path("copy.db"), ws.AlertsPath()));
        r.Tick();
        r.Tick();
        // The platform's new file: connected to again, told once.
        QCOMPARE(r.JournalTexts()
                     .filter(QStringLiteral("Файл базы данных %1 заменен новым").arg(ws.AlertsPath()))
                     .size(),
                 1);
        QCOMPARE(r.Engine->StatusPanels()[0], QStringLiteral("Подключение к Omega: OK"));
        for (const QString& e : r.Errors)
            QVERIFY2(!e.contains(": .") && !e.trimmed().endsWith(':'),
                     qPrintable(e)); // every text has its reason
    }

    // A reconnect forgets nothing of the day: QUIK's later answers still find their orders.
    void secondConnectWhileWatching_keepsActions_andTheDaysOrders() {
        TTestWorkspace ws(true);
        TTestRobot r(ws);
        QVERIFY(r.Connect());
        r.Engine->actStartWatchExecute();
        ws.Exec(ws.Trading(),
                "INSERT INTO tOrderNumber (trans_id, id_order, filled, code) VALUES (0, 1, 0, '111')");
        QVERIFY(r.Connect());
        QVERIFY(!r.Engine->Actions().actStartWatch);
        QVERIFY(r.Engine->Actions().actStopWatch);
        QCOMPARE(ws.Scalar(ws.Trading(), "SELECT count(*) FROM tOrderNumber").toInt(), 1);
        // The tables of the reopened connection work again.
        ws.InsertAlert("FilledOrders", {});
        QVERIFY(r.Tick());
        QCOMPARE(r.Engine->DatMod().tFilledOrders->RowCount(), 1);
    }

    void connectAtStartUp_whenSet() {
        TTestWorkspace ws(true);
        TTestRobot r(ws);
        WriteBytes(ws.Path("quik/info.log"), "12345");
        r.S().Connect = true;
        r.Engine->ConnectAtStartUp();
        QVERIFY(r.Engine->DatMod().OmegaConnected());
        QVERIFY(r.Engine->timUpdateTable().Enabled());
        r.S().Connect = false;
        TTestRobot off(ws);
        off.Engine->ConnectAtStartUp();
        QVERIFY(!off.Engine->DatMod().OmegaConnected());
        QVERIFY(!off.Engine->Actions().actStartWatch);
        QVERIFY(!off.Engine->timUpdateTable().Enabled());
    }
};

QTEST_GUILESS_MAIN(TestConnect)
#include "tst_connect.moc"

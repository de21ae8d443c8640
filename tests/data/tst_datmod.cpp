#include "common/KorvexError.h"
#include "data/Connection.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>

class TestDatMod : public QObject {
    Q_OBJECT
private slots:
    void init() { KORVEX_TEST_INIT(); }

    void refresh_keepsCurrentRowById_orFallsBackToFirst() {
        TTestWorkspace ws;
        TDatMod dm;
        dm.OpenOmega(ws.AlertsPath());
        // An empty table: nothing remembered; rows that arrive make the first one current.
        dm.RefreshDataSet(dm.tFilledOrders);
        QVERIFY(dm.tFilledOrders->IsOpen());
        QCOMPARE(dm.tFilledOrders->Current(), -1);
        for (int i = 0; i < 3; ++i) ws.InsertAlert("FilledOrders", {});
        dm.RefreshDataSet(dm.tFilledOrders);
        QCOMPARE(dm.tFilledOrders->CurrentId(), 1);
        // The operator's row stays current across a re-read that brings new rows.
        QVERIFY(dm.tFilledOrders->LocateId(2));
        ws.InsertAlert("FilledOrders", {});
        dm.RefreshDataSet(dm.tFilledOrders);
        QCOMPARE(dm.tFilledOrders->CurrentId(), 2);
        QCOMPARE(dm.tFilledOrders->RowCount(), 4);
        // Deleted meanwhile: the first row becomes current.
        ws.Exec(ws.Alerts(), "DELETE FROM FilledOrders WHERE ID = 2");
        dm.RefreshDataSet(dm.tFilledOrders);
        QCOMPARE(dm.tFilledOrders->CurrentId(), 1);
    }

    void refresh_ofTableWithoutId_rereadsAndTakesFirstRow() {
        TTestWorkspace ws(true);
        TDatMod dm;
        dm.OpenQuikData(ws.TradingPath());
        dm.RefreshDataSet(dm.tSecCode);
        dm.tSecCode->SetCurrent(3);
        ws.Exec(ws.Trading(), "INSERT INTO tSecCode (SecCode, Ticker, Traded) VALUES ('AFLT', 'AFLT', 1)");
        dm.RefreshDataSet(dm.tSecCode);
        QCOMPARE(dm.tSecCode->RowCount(), 8);
        QCOMPARE(dm.tSecCode->Current(), 0);
    }

    void tableMissingAColumn_failsToOpen_refreshKeepsTrying() {
        TTestWorkspace ws;
        ws.Exec(ws.Alerts(), "ALTER TABLE OpenPositions RENAME TO OpenPositionsOld");
        ws.Exec(ws.Alerts(), "CREATE TABLE OpenPositions (ID INTEGER PRIMARY KEY, Symbol TEXT)");
        TDatMod dm;
        dm.OpenOmega(ws.AlertsPath());
        dm.RefreshDataSet(dm.tOpenPisitions);
        QVERIFY(!dm.tOpenPisitions->IsOpen());
        dm.RefreshDataSet(dm.tFilledOrders);  // the rest works
        QVERIFY(dm.tFilledOrders->IsOpen());
        ws.Exec(ws.Alerts(), "DROP TABLE OpenPositions");
        ws.Exec(ws.Alerts(), "ALTER TABLE OpenPositionsOld RENAME TO OpenPositions");
        dm.RefreshDataSet(dm.tOpenPisitions);
        QVERIFY(dm.tOpenPisitions->IsOpen());
    }

    void getLastId_emptyClosedAndSortIndependent() {
        TTestWorkspace ws;
        TDatMod dm;
        QCOMPARE(dm.GetLastID(dm.tFilledOrders), -1);  // closed
        dm.OpenOmega(ws.AlertsPath());
        dm.RefreshDataSet(dm.tFilledOrders);
        QCOMPARE(dm.GetLastID(dm.tFilledOrders), 0);
        ws.InsertAlert("FilledOrders", {{"ID", 40}, {"Symbol", "ZZZZ"}});
        ws.InsertAlert("FilledOrders", {{"ID", 41}, {"Symbol", "AAAA"}});
        dm.RefreshDataSet(dm.tFilledOrders);
        // The operator sorts the grid by symbol: the last row shown is 40, the highest id still 41.
        dm.tFilledOrders->SetSortColumn("Symbol");
        QCOMPARE(dm.tFilledOrders->Record(dm.tFilledOrders->RowCount() - 1).value("ID").toInt(), 40);
        QCOMPARE(dm.GetLastID(dm.tFilledOrders), 41);
    }

    void instrumentRule_refusesEmptySecCode_thenAccepts() {
        TTestWorkspace ws(true);
        TDatMod dm;
        dm.OpenQuikData(ws.TradingPath());
        dm.tSecCode->Open();
        QSignalSpy refused(&dm, &TDatMod::PostRefused);
        QSignalSpy changed(&dm, &TDatMod::SecCodeChanged);
        const TSecCodeSum before = dm.qSecCodeSum();
        auto* m = dm.tSecCode->Model();
        const int row = m->rowCount();
        QVERIFY(m->insertRow(row));
        m->setData(m->index(row, m->fieldIndex("Ticker")), "AFLT");
        m->setData(m->index(row, m->fieldIndex("Traded")), 1);
        m->setData(m->index(row, m->fieldIndex("FixVol")), 1000.0);
        QVERIFY(!dm.tSecCode->PostEdits());
        QCOMPARE(refused.size(), 1);
        QCOMPARE(refused.first().first().toString(), QStringLiteral("Введите данные в поле \"Код в Quik`е\""));
        QVERIFY(m->isDirty());  // still in editing
        QCOMPARE(dm.qSecCodeSum().SumTraded, before.SumTraded);
        m->setData(m->index(row, m->fieldIndex("SecCode")), "AFLT");
        QVERIFY(dm.tSecCode->PostEdits());
        QCOMPARE(changed.size(), 1);
        QCOMPARE(dm.qSecCodeSum().SumTraded, before.SumTraded + 1);
        QCOMPARE(dm.qSecCodeSum().SumFixVol, before.SumFixVol + 1000.0);
        // Deleting a traded row lowers the count by one and tells the totals.
        dm.tSecCode->Reread();
        QVERIFY(m->removeRow(0));
        QVERIFY(dm.tSecCode->PostEdits());
        QCOMPARE(changed.size(), 2);
        QCOMPARE(dm.qSecCodeSum().SumTraded, before.SumTraded);
    }

    void totals_readNullsAsZero() {
        TTestWorkspace ws;
        TDatMod dm;
        dm.OpenQuikData(ws.TradingPath());
        const TSecCodeSum s = dm.qSecCodeSum();
        QCOMPARE(s.SumTraded, 0);
        QCOMPARE(s.SumFixVol, 0.0);
        const TPortfolioSum p = dm.qPortfolioSum();
        QCOMPARE(p.SumId_client, 0);
        QCOMPARE(p.SumCurAllAssets, 0.0);
        QCOMPARE(p.AvgMargin, 0.0);
        ws.Exec(ws.Trading(), "INSERT INTO tSecCode (SecCode, Ticker, Traded, FixVol, Part) VALUES ('A','A',0,5,5)");
        QCOMPARE(dm.qSecCodeSum().SumPart, 0.0);  // an untraded instrument does not count
        ws.Exec(ws.Trading(), "INSERT INTO tPortfolio (id_client, curallassets, margin) VALUES ('1', 100, 2), ('2', 50.5, 4)");
        QCOMPARE(dm.qPortfolioSum().SumId_client, 2);
        QCOMPARE(dm.qPortfolioSum().SumCurAllAssets, 150.5);
        QCOMPARE(dm.qPortfolioSum().AvgMargin, 3.0);
    }

    void concurrentWriter_losesNothingWhileTheRobotRefreshes() {
        TTestWorkspace ws;
        TDatMod dm;
        dm.OpenOmega(ws.AlertsPath());
        // A second connection (as the strategy platform) inserts while the robot re-reads.
        for (int i = 0; i < 200; ++i) {
            ws.InsertAlert("FilledOrders", {{"Order", QStringLiteral("Buy %1 at 1.5 Limit").arg(i + 1)}});
            if (i % 7 == 0) dm.RefreshDataSet(dm.tFilledOrders);
        }
        dm.RefreshDataSet(dm.tFilledOrders);
        dm.tFilledOrders->FetchAll();
        QCOMPARE(dm.tFilledOrders->RowCount(), 200);
        QCOMPARE(dm.GetLastID(dm.tFilledOrders), 200);
    }

    void schemaAndInitDb_giveDatabasesTheRobotOpens() {
        QTemporaryDir dir;
        const QString db = dir.filePath("t.db");
        QCOMPARE(QProcess::execute(INITDB_EXE, {"--trading", db, "--demo"}), 0);
        QVERIFY(QProcess::execute(INITDB_EXE, {"--trading", db}) != 0);  // never overwrites
        QCOMPARE(QProcess::execute(INITDB_EXE, {"--alerts", dir.filePath("a.db")}), 0);
        TDatMod dm;
        dm.OpenOmega(dir.filePath("a.db"));
        dm.OpenQuikData(db);
        for (TDataTable* t : dm.Tables()) {
            t->Open();
            QVERIFY2(t->IsOpen(), qPrintable(t->objectName()));
        }
        QCOMPARE(dm.qSecCodeSum().SumTraded, 6);
        QCOMPARE(dm.tClients->RowCount(), 3);
    }

    void wrongPath_neverCreatesAnEmptyDatabase() {
        QTemporaryDir dir;
        TDatMod dm;
        try {
            dm.OpenOmega(dir.filePath("no-such.db"));
            QFAIL("expected a failure");
        } catch (const KorvexError& e) {
            QVERIFY(e.Message.contains("no-such.db"));
        }
        QVERIFY(!QFileInfo::exists(dir.filePath("no-such.db")));
        QVERIFY(!dm.OmegaConnected());
    }

    void connectionTarget_byTheSettingsText_data() {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("name");
        QTest::newRow("access mdb") << "C:\\Korvex\\Data\\dbQuikData.mdb" << "QODBC"
                                    << "DRIVER={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=C:\\Korvex\\Data\\dbQuikData.mdb";
        QTest::newRow("access accdb, any case") << "D:\\A.ACCDB" << "QODBC" << "DRIVER={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=D:\\A.ACCDB";
        QTest::newRow("odbc string") << "odbc:DSN=Alerts;UID=x" << "QODBC" << "DSN=Alerts;UID=x";
        QTest::newRow("sqlite file") << "/data/alerts.db" << "QSQLITE" << "/data/alerts.db";
    }
    void connectionTarget_byTheSettingsText() {
        QFETCH(QString, setting);
        const TConnectionTarget t = ConnectionTargetFor(setting);
        QTEST(t.Driver, "driver");
        QTEST(t.DatabaseName, "name");
    }

    void odbcPath_connectsRefreshesAndBindsParameters() {
        TTestWorkspace ws(true);
        TDatMod dm;
        try {
            dm.OpenQuikData("odbc:DRIVER=SQLite3;Database=" + ws.TradingPath());
        } catch (const KorvexError& e) {
            QFAIL(qPrintable(e.Message));
        }
        dm.RefreshDataSet(dm.tSecCode);
        QVERIFY(dm.tSecCode->IsOpen());
        QCOMPARE(dm.tSecCode->RowCount(), 7);
        QSqlQuery q = RunSql(dm.conQuikData(), {"SELECT *", "FROM tSecCode", "WHERE Ticker= :ticker"}, {{"ticker", "LKOH"}});
        QVERIFY(q.next());
        QCOMPARE(ColumnInt(q.record(), "LotSize"), 1);
        // A ticker holding quotes and SQL words is looked up as the text it is.
        QSqlQuery none = RunSql(dm.conQuikData(), {"SELECT *", "FROM tSecCode", "WHERE Ticker= :ticker"}, {{"ticker", "x\" or \"1\"=\"1"}});
        QVERIFY(!none.next());
    }
};

QTEST_GUILESS_MAIN(TestDatMod)
#include "tst_datmod.moc"

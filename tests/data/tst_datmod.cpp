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
        for (int i = 0; i < 3; ++i)
            ws.InsertAlert("FilledOrders", {});
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
        dm.RefreshDataSet(dm.tFilledOrders); // the rest works
        QVERIFY(dm.tFilledOrders->IsOpen());
        ws.Exec(ws.Alerts(), "DROP TABLE OpenPositions");
        ws.Exec(ws.Alerts(), "ALTER TABLE OpenPositionsOld RENAME TO OpenPositions");
        dm.RefreshDataSet(dm.tOpenPisitions);
        QVERIFY(dm.tOpenPisitions->IsOpen());
    }

    void getLastId_emptyClosedAndSortIndependent() {
        TTestWorkspace ws;
        TDatMod dm;
        QCOMPARE(dm.GetLastID(dm.tFilledOrders), -1); // closed
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
        QCOMPARE(refused.first().first().toString(),
                 QStringLiteral("Введите данные в поле \"Код в Quik`е\""));
        QVERIFY(m->isDirty()); // still in editing
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

    // A typed value QUIK would read as another key or line, or get as another byte, and an instrument
    // figure the sizing cannot use, are refused as typed: the cell keeps its value and one message
    // names the window, the row and the column's title. Already in the database, the value keeps its
    // row from being posted with the same words; mended, the row posts.
    void editors_refuseBadValues_asTypedAndAtThePost_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("cell");
        const QString client = QStringLiteral("Клиенты, строка \"111\", колонка ");
        const QString instrument = QStringLiteral("Инструменты, строка \"SBER\", колонка ");
        QTest::newRow("account with a key")
            << "tClients"
            << "AccountMicex" << QVariant("L01;QUANTITY=1000") << client + "\"Счет на ММВБ\"";
        QTest::newRow("client code with LF")
            << "tClients"
            << "Code" << QVariant("C1\nTRANS_ID =9") << client + "\"Код клиента\"";
        QTest::newRow("forts account with NUL")
            << "tClients"
            << "AccountFORTS" << QVariant(QStringLiteral("F1") + QChar(0)) << client + "\"Счет на ФОРТС\"";
        QTest::newRow("account with a zero-width space")
            << "tClients"
            << "AccountMicex" << QVariant(QStringLiteral("L01\u200b")) << client + "\"Счет на ММВБ\"";
        QTest::newRow("account with a line separator")
            << "tClients"
            << "AccountMicex" << QVariant(QStringLiteral("L01\u2028")) << client + "\"Счет на ММВБ\"";
        QTest::newRow("code with NEL")
            << "tClients"
            << "Code" << QVariant(QStringLiteral("C\u0085")) << client + "\"Код клиента\"";
        QTest::newRow("seccode with CR")
            << "tSecCode"
            << "SecCode" << QVariant("SBER\r") << instrument + "\"Код в Quik`е\"";
        QTest::newRow("seccode with a zero-width space")
            << "tSecCode"
            << "SecCode" << QVariant(QStringLiteral("SBER\u200b")) << instrument + "\"Код в Quik`е\"";
        QTest::newRow("class with a BOM")
            << "tSecCode"
            << "Class_Code" << QVariant(QStringLiteral("TQ\ufeffBR")) << instrument + "\"Код класса\"";
        QTest::newRow("ticker with DEL")
            << "tSecCode"
            << "Ticker" << QVariant(QStringLiteral("SBER") + QChar(0x7F)) << instrument + "\"Тикер в Омеге\"";
        QTest::newRow("lot size below 0") << "tSecCode"
                                          << "LotSize" << QVariant(-5) << instrument + "\"Лот\"";
        QTest::newRow("lot size 0 typed as text") << "tSecCode"
                                                  << "LotSize" << QVariant("0") << instrument + "\"Лот\"";
        QTest::newRow("digits 11") << "tSecCode"
                                   << "Digits" << QVariant(11) << instrument + "\"Знаки после запятой\"";
        QTest::newRow("digits -11") << "tSecCode"
                                    << "Digits" << QVariant("-11") << instrument + "\"Знаки после запятой\"";
        QTest::newRow("negative slippage") << "tSecCode"
                                           << "Slippage" << QVariant(-0.5) << instrument + "\"Проск-е (%)\"";
    }
    void editors_refuseBadValues_asTypedAndAtThePost() {
        QFETCH(QString, table);
        QFETCH(QString, field);
        QFETCH(QVariant, value);
        QFETCH(QString, cell);
        TTestWorkspace ws(true);
        TDatMod dm;
        dm.OpenQuikData(ws.TradingPath());
        TDataTable* t = table == "tClients" ? dm.tClients : dm.tSecCode;
        t->Open();
        QSignalSpy refused(&dm, &TDatMod::PostRefused);
        auto* m = t->Model();
        const QModelIndex index = m->index(0, m->fieldIndex(field));
        const QVariant before = index.data(Qt::EditRole);
        QVERIFY(!m->setData(index, value));
        QCOMPARE(refused.size(), 1);
        const QString message = refused.first().first().toString();
        QVERIFY2(message.startsWith(cell + ": "), qPrintable(message));
        QCOMPARE(index.data(Qt::EditRole), before);
        QVERIFY(!m->isDirty());
        // The same value written into the database by another program.
        const QString key = table == "tClients" ? "Code" : "SecCode";
        const QString code = m->index(0, m->fieldIndex(key)).data(Qt::EditRole).toString();
        QSqlQuery q(ws.Trading());
        q.prepare(QStringLiteral("UPDATE %1 SET %2 = :v WHERE %3 = :code").arg(table, field, key));
        q.bindValue(":v", value);
        q.bindValue(":code", code);
        QVERIFY(q.exec());
        t->Reread();
        const QString other = table == "tClients" ? "note" : "FixVol";
        QVERIFY(
            m->setData(m->index(0, m->fieldIndex(other)), table == "tClients" ? QVariant("x") : QVariant(1)));
        QVERIFY(!t->PostEdits());
        QCOMPARE(refused.size(), 2);
        const QString atPost = refused.last().first().toString();
        QVERIFY2(atPost.endsWith(message.mid(message.indexOf("колонка"))), qPrintable(atPost));
        QVERIFY(m->isDirty());
        // Mended, the row posts.
        const QVariant sound = field == "LotSize"    ? QVariant(7)
                               : field == "Digits"   ? QVariant(-10)
                               : field == "Slippage" ? QVariant(0)
                                                     : QVariant("OK2");
        QVERIFY(m->setData(m->index(0, m->fieldIndex(field)), sound));
        QVERIFY(t->PostEdits());
        QCOMPARE(ws.Scalar(ws.Trading(), QStringLiteral("SELECT count(*) FROM %1 WHERE %2 = '%3'")
                                             .arg(table, field, sound.toString()))
                     .toInt(),
                 1);
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
        ws.Exec(ws.Trading(),
                "INSERT INTO tSecCode (SecCode, Ticker, Traded, FixVol, Part) VALUES ('A','A',0,5,5)");
        QCOMPARE(dm.qSecCodeSum().SumPart, 0.0); // an untraded instrument does not count
        ws.Exec(
            ws.Trading(),
            "INSERT INTO tPortfolio (id_client, curallassets, margin) VALUES ('1', 100, 2), ('2', 50.5, 4)");
        QCOMPARE(dm.qPortfolioSum().SumId_client, 2);
        QCOMPARE(dm.qPortfolioSum().SumCurAllAssets, 150.5);
        QCOMPARE(dm.qPortfolioSum().AvgMargin, 3.0);
    }

    void bigTables_holdNoSnapshot_seeNewRows_andRereadOnlyWhatChanged() {
        TTestWorkspace ws;
        ws.Exec(ws.Alerts(),
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                "INSERT INTO FilledOrders (Symbol, \"Order\") SELECT 'S' || i, 'Buy 1 at 1 Limit' FROM n");
        ws.Exec(ws.Trading(), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
                              "INSERT INTO tParam (code, bid) SELECT 'C' || i, i FROM n");
        TDatMod dm;
        dm.OpenOmega(ws.AlertsPath());
        dm.OpenQuikData(ws.TradingPath());
        dm.tFilledOrders->AddView(); // as their grids do
        dm.tParam->AddView();
        for (TDataTable* t : {dm.tFilledOrders, dm.tParam, dm.tOrderNumber})
            dm.RefreshDataSet(t);
        // The grid shows the whole table, and reads the rows it paints.
        QCOMPARE(dm.tFilledOrders->RowCount(), 3000);
        QVERIFY(dm.tFilledOrders->LocateId(2999));
        QCOMPARE(dm.tFilledOrders->CurrentRecord().value("Symbol").toString(), QStringLiteral("S2999"));
        QCOMPARE(dm.tParam->Record(599).value("code").toString(), QStringLiteral("C600"));

        // Other programs write both databases; the robot still sees their rows and can write.
        ws.Exec(ws.Trading(), "UPDATE tParam SET bid = bid + 1");
        ws.InsertAlert("FilledOrders", {{"Symbol", "NEW"}});
        QCOMPARE(dm.GetLastID(dm.tFilledOrders), 3001);
        RunSql(dm.conQuikData(),
               {"INSERT INTO tOrderNumber (trans_id, id_order, code) VALUES (1, 3001, '111')"});
        ws.Exec(ws.Trading(), "UPDATE tParam SET bid = bid + 1");
        RunSql(dm.conOmega(), {"UPDATE FilledOrders SET [order number] = '3001' WHERE id = 3001"});

        // New rows are added to the grid without a reset: the operator's row and scroll stay.
        QSignalSpy resets(dm.tFilledOrders->Model(), &QAbstractItemModel::modelReset);
        QSignalSpy inserts(dm.tFilledOrders->Model(), &QAbstractItemModel::rowsInserted);
        dm.RefreshDataSet(dm.tFilledOrders);
        QCOMPARE(resets.size(), 0);
        QCOMPARE(inserts.size(), 1);
        QCOMPARE(dm.tFilledOrders->RowCount(), 3001);
        QCOMPARE(dm.tFilledOrders->CurrentId(), 2999);
        QCOMPARE(dm.tFilledOrders->Record(3000).value("Order Number").toString(), QStringLiteral("3001"));
        dm.RefreshDataSet(dm.tParam);
        QCOMPARE(dm.tParam->Record(0).value("bid").toDouble(), 3.0);
        // A table no grid shows is read when it is looked at, not on every refresh.
        QSignalSpy orderRows(dm.tOrderNumber->Model(), &QAbstractItemModel::rowsInserted);
        dm.RefreshDataSet(dm.tOrderNumber);
        QCOMPARE(orderRows.size(), 0);
        QCOMPARE(dm.tOrderNumber->RowCount(), 1);
        QCOMPARE(orderRows.size(), 1);

        // Nothing changed: nothing is read again.
        QSignalSpy changes(dm.tFilledOrders->Model(), &QAbstractItemModel::dataChanged);
        dm.RefreshDataSet(dm.tFilledOrders);
        QCOMPARE(changes.size() + resets.size(), 0);
        // A deleted row is noticed (the current row is gone: the first becomes current).
        ws.Exec(ws.Alerts(), "DELETE FROM FilledOrders WHERE id = 2999");
        dm.RefreshDataSet(dm.tFilledOrders);
        QCOMPARE(dm.tFilledOrders->RowCount(), 3000);
        QCOMPARE(dm.tFilledOrders->CurrentId(), 1);
    }

    void schemaAndInitDb_giveDatabasesTheRobotOpens() {
        QTemporaryDir dir;
        const QString db = dir.filePath("t.db");
        QCOMPARE(QProcess::execute(INITDB_EXE, {"--trading", db, "--demo"}), 0);
        QVERIFY(QProcess::execute(INITDB_EXE, {"--trading", db}) != 0); // never overwrites
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
        QTest::newRow("access mdb")
            << "C:\\Korvex\\Data\\dbQuikData.mdb"
            << "QODBC"
            << "DRIVER={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=C:\\Korvex\\Data\\dbQuikData.mdb";
        QTest::newRow("access accdb, any case")
            << "D:\\A.ACCDB"
            << "QODBC"
            << "DRIVER={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=D:\\A.ACCDB";
        QTest::newRow("odbc string") << "odbc:DSN=Alerts;UID=x"
                                     << "QODBC"
                                     << "DSN=Alerts;UID=x";
        QTest::newRow("sqlite file") << "/data/alerts.db"
                                     << "QSQLITE"
                                     << "/data/alerts.db";
    }
    void connectionTarget_byTheSettingsText() {
        QFETCH(QString, setting);
        const TConnectionTarget t = ConnectionTargetFor(setting);
        QTEST(t.Driver, "driver");
        QTEST(t.DatabaseName, "name");
    }

    // Statements are kept and a value equal to the one bound before is not bound again: every run must
    // still write exactly what it was given, of the type it was given, in any order of the names; a
    // value left out is an error, never the last run's value.
    void keptStatements_writeExactlyWhatEachRunGives() {
        TTestWorkspace ws(true);
        TDatMod dm;
        dm.OpenQuikData(ws.TradingPath());
        const QSqlDatabase db = dm.conQuikData();
        RunSql(db, {QStringLiteral("CREATE TABLE tBind (n INTEGER PRIMARY KEY, a, b)")});
        const QVariantList values = {1, 1.0, QString("1"), 1, QVariant(), -0.0, 0.0, true, QString(), 7LL};
        const QStringList types = {"integer", "real", "text",    "integer", "null",
                                   "real",    "real", "integer", "text",    "integer"};
        for (int i = 0; i < values.size(); ++i)
            RunSql(db, {QStringLiteral("INSERT INTO tBind (n, a, b)"), QStringLiteral("VALUES (:n, :a, :b)")},
                   {{"n", i}, {"a", values[i]}, {"b", "same"}});
        TSqlRows r = RunSql(db, {QStringLiteral("SELECT typeof(a), a, b FROM tBind ORDER BY n")});
        QStringList seen;
        while (r.next()) {
            seen << r.value(0).toString();
            QCOMPARE(r.value(2).toString(), QStringLiteral("same"));
        }
        QCOMPARE(seen, types);
        QVERIFY_THROWS_EXCEPTION(
            StoreError,
            RunSql(db, {QStringLiteral("INSERT INTO tBind (n, a, b)"), QStringLiteral("VALUES (:n, :a, :b)")},
                   {{"n", 99}, {"a", 5}}));
        QVERIFY_THROWS_EXCEPTION(
            StoreError,
            RunSql(db, {QStringLiteral("INSERT INTO tBind (n, a, b)"), QStringLiteral("VALUES (:n, :a, :b)")},
                   {{"n", 98}, {"a", 5}, {"a", 6}}));
        RunSql(db, {QStringLiteral("INSERT INTO tBind (n, a, b)"), QStringLiteral("VALUES (:n, :a, :b)")},
               {{"b", "x"}, {"a", 2}, {"n", 100}});
        QCOMPARE(ws.Scalar(ws.Trading(), "SELECT a || b FROM tBind WHERE n = 100").toString(),
                 QStringLiteral("2x"));
        QCOMPARE(ws.Scalar(ws.Trading(), "SELECT count(*) FROM tBind").toInt(), values.size() + 1);
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
        TSqlRows q = RunSql(dm.conQuikData(), {"SELECT *", "FROM tSecCode", "WHERE Ticker= :ticker"},
                            {{"ticker", "LKOH"}});
        QVERIFY(q.next());
        QCOMPARE(ColumnInt(q.record(), "LotSize"), 1);
        // A ticker holding quotes and SQL words is looked up as the text it is.
        TSqlRows none = RunSql(dm.conQuikData(), {"SELECT *", "FROM tSecCode", "WHERE Ticker= :ticker"},
                               {{"ticker", "x\" or \"1\"=\"1"}});
        QVERIFY(!none.next());
    }
};

QTEST_GUILESS_MAIN(TestDatMod)
#include "tst_datmod.moc"

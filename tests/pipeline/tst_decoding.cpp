#include "data/SqlRun.h"
#include "pipeline/AlertDecoding.h"
#include "support/TestSupport.h"

#include <QSqlQuery>
#include <QTest>

namespace {
QSqlRecord Row(TTestWorkspace& ws, const QString& table, qint64 id) {
    QSqlQuery q(ws.Alerts());
    q.exec(QStringLiteral("SELECT * FROM %1 WHERE ID = %2").arg(table).arg(id));
    q.next();
    return q.record();
}
} // namespace

class TestDecoding : public QObject {
    Q_OBJECT
private slots:
    void init() { KORVEX_TEST_INIT(); }

    void load_readsColumnsAndNulls_filledOnlyForFilledSources() {
        TTestWorkspace ws;
        const qint64 f = ws.InsertAlert("FilledOrders", {{"Fill Price", 5.176}, {"Order Number", "17"}});
        const qint64 a =
            ws.InsertAlert("ActiveOrders", {{"Order Number", QVariant()}, {"Signal", QVariant()}});
        TOmegaOrder alert;
        LoadOmegaOrder(alert, Row(ws, "FilledOrders", f), true);
        QVERIFY(alert.Filled);
        QCOMPARE(alert.FillPrice, 5.176);
        QCOMPARE(alert.TimeFilled(), QDateTime(QDate(2026, 1, 15), QTime(11, 0)));
        QCOMPARE(alert.OrderNumber, QStringLiteral("17"));
        QCOMPARE(alert.System, QStringLiteral("Breakout(20,2)"));
        // The same record reused for an active alert: not filled, fill price 0, fill time untouched.
        LoadOmegaOrder(alert, Row(ws, "ActiveOrders", a), false);
        QVERIFY(!alert.Filled);
        QCOMPARE(alert.FillPrice, 0.0);
        QCOMPARE(alert.TimeFilled(), QDateTime(QDate(2026, 1, 15), QTime(11, 0)));
        QCOMPARE(alert.OrderNumber, QString());
        QCOMPARE(alert.Signal, QString());
        QCOMPARE(alert.ID, static_cast<int>(a));
    }

    void strategyKey_isTextBeforeFirstBracket() {
        QCOMPARE(StrategyKey("Breakout(20,2)"), QStringLiteral("Breakout"));
        QCOMPARE(StrategyKey("Breakout (20,2)"), QStringLiteral("Breakout "));
        QCOMPARE(StrategyKey("Breakout"), QStringLiteral("Breakout"));
        QCOMPARE(StrategyKey("(20)Breakout"), QStringLiteral("(20)Breakout"));
    }

    void filters_data() {
        QTest::addColumn<QString>("workspace");
        QTest::addColumn<QString>("system");
        QTest::addColumn<QTime>("now");
        QTest::addColumn<bool>("passes");
        const QString ws = "C:\\Omega\\Trend.orw";
        QTest::newRow("all match") << ws << "Breakout(20,2)" << QTime(12, 0) << true;
        QTest::newRow("workspace other case") << "C:\\Omega\\TREND.ORW"
                                              << "Breakout(20,2)" << QTime(12, 0) << true;
        QTest::newRow("workspace prefix only") << "C:\\Omega\\Trend"
                                               << "Breakout(20,2)" << QTime(12, 0) << false;
        QTest::newRow("workspace path ends in backslash") << "C:\\Omega\\"
                                                          << "Breakout(20,2)" << QTime(12, 0) << false;
        QTest::newRow("strategy with blank before bracket")
            << ws << "Breakout (20,2)" << QTime(12, 0) << false;
        QTest::newRow("strategy other case") << ws << "BREAKOUT(1)" << QTime(12, 0) << true;
        QTest::newRow("strategy unknown") << ws << "Other(1)" << QTime(12, 0) << false;
        // The tables also hold a NULL and an empty row: they let no alert through.
        QTest::newRow("workspace empty") << ""
                                         << "Breakout" << QTime(12, 0) << false;
        QTest::newRow("strategy empty") << ws << "" << QTime(12, 0) << false;
        QTest::newRow("strategy only a bracket") << ws << "(20)" << QTime(12, 0) << false;
        QTest::newRow("session start exact") << ws << "Breakout" << QTime(10, 30, 0, 0) << true;
        QTest::newRow("just before start") << ws << "Breakout" << QTime(10, 29, 59, 999) << false;
        QTest::newRow("session end exact") << ws << "Breakout" << QTime(17, 45, 0, 0) << true;
        QTest::newRow("half a second after end") << ws << "Breakout" << QTime(17, 45, 0, 500) << false;
    }
    void filters() {
        QFETCH(QString, workspace);
        QFETCH(QString, system);
        QFETCH(QTime, now);
        QFETCH(bool, passes);
        TTestWorkspace ws;
        ws.Exec(ws.Trading(), "INSERT INTO tWorkSpaces (workspace) VALUES ('trend.ORW')");
        ws.Exec(ws.Trading(), "INSERT INTO tStrategy (strategy) VALUES ('Breakout')");
        for (const char* t : {"tWorkSpaces (workspace)", "tStrategy (strategy)"})
            ws.Exec(ws.Trading(), QStringLiteral("INSERT INTO %1 VALUES (NULL), ('')").arg(t));
        TTestRobot r(ws);
        QVERIFY(r.Connect());
        r.Clock.SetTime(now);
        TOmegaOrder a;
        a.Workspace = workspace;
        a.System = system;
        QCOMPARE(CheckFilters(r.Engine->Context(), a), passes);
    }

    void filters_useCurrentTableContents_andInvertedSessionFailsAll() {
        TTestWorkspace ws;
        ws.Exec(ws.Trading(), "INSERT INTO tStrategy (strategy) VALUES ('Breakout')");
        TTestRobot r(ws);
        QVERIFY(r.Connect());
        TOmegaOrder a;
        a.Workspace = "Trend.orw";
        a.System = "Breakout";
        QVERIFY(!CheckFilters(r.Engine->Context(), a));
        ws.Exec(ws.Trading(), "INSERT INTO tWorkSpaces (workspace) VALUES ('Trend.orw')"); // added meanwhile
        QVERIFY(CheckFilters(r.Engine->Context(), a));
        r.S().time1 = "18:00:00";
        r.S().time2 = "09:00:00";
        QVERIFY(!CheckFilters(r.Engine->Context(), a));
    }

    void unreadableSessionBound_failsTheFilter_toldOncePerBadText() {
        TTestWorkspace ws;
        ws.Exec(ws.Trading(), "INSERT INTO tWorkSpaces (workspace) VALUES ('Trend.orw')");
        ws.Exec(ws.Trading(), "INSERT INTO tStrategy (strategy) VALUES ('Breakout')");
        TTestRobot r(ws);
        QVERIFY(r.Connect());
        TOmegaOrder a;
        a.Workspace = "Trend.orw";
        a.System = "Breakout";
        const QString start = QStringLiteral("Время начала торгов (time1) не читается: '%1'. Ордера не "
                                             "проходят фильтр, пока настройка не исправлена.");
        const QString end = QStringLiteral("Время окончания торгов (time2) не читается: '%1'. Ордера не "
                                           "проходят фильтр, пока настройка не исправлена.");
        struct TPass {
            const char* time1;
            const char* time2;
            bool passes;
            QStringList newLines;
        };
        const TPass passes[] = {
            {"9:00", "17:45", true, {}},
            {"xx", "17:45", false, {start.arg("xx")}},
            {"xx", "17:45", false, {}}, // the same bad text: not told again
            {"xx", "late", false, {end.arg("late")}},
            {"xx", "late", false, {}},
            {"yy", "late", false, {start.arg("yy")}}, // another bad text is told
            {"10:00", "18:00:00", true, {}},
            {"yy", "18:00:00", false, {start.arg("yy")}}, // bad again after being corrected
        };
        qsizetype seen = r.JournalTexts().size();
        for (const TPass& p : passes) {
            r.S().time1 = p.time1;
            r.S().time2 = p.time2;
            QCOMPARE(CheckFilters(r.Engine->Context(), a), p.passes);
            QCOMPARE(r.JournalTexts().mid(seen), p.newLines);
            seen = r.JournalTexts().size();
        }
    }
};

QTEST_GUILESS_MAIN(TestDecoding)
#include "tst_decoding.moc"

// The cost of one watching tick with no new alert, with 1,000 and with 1,000,000 rows already in
// FilledOrders, with the operator's row first, last, or the executed-orders grid sorted by a column:
// it must not grow with the table (goal: the large table costs at most 1.5 times the small one).
// After the timed ticks a new alert must still be seen and sent, or the figures mean nothing.
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {
enum class TCase { CurrentFirst, CurrentLast, SortedBySymbol };
const char* Name(TCase c) {
    switch (c) {
    case TCase::CurrentFirst:
        return "current row first";
    case TCase::CurrentLast:
        return "current row last";
    default:
        return "grid sorted by Symbol";
    }
}

// One robot watching a FilledOrders table of `rows` rows, its grid in the state of the case.
struct TSetup {
    TSetup(int rows, TCase c) : Ws(true) {
        Ws.Exec(Ws.Alerts(),
                QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                               "INSERT INTO FilledOrders (Symbol, OrderType, \"Order\", \"Fill Price\", "
                               "System, Workspace, Interval) "
                               "SELECT 'S' || (i % 977), 'LE', 'Buy 10 at 1 Limit', 285.4, 'Breakout', "
                               "'Trend.orw', '5 min' FROM n")
                    .arg(rows));
        // As after the platform's writes have been checkpointed into the database file.
        Ws.Exec(Ws.Alerts(), "PRAGMA wal_checkpoint(TRUNCATE)");
        R = std::make_unique<TTestRobot>(Ws);
        // Every table shown, as in the window: each tick looks whether it changed.
        for (TDataTable* t : R->Engine->DatMod().Tables())
            t->AddView();
        R->Connect();
        R->Engine->actStartWatchExecute();
        R->Tick();
        TDataTable* t = R->Engine->DatMod().tFilledOrders;
        if (c == TCase::CurrentLast) t->SetCurrent(t->RowCount() - 1);
        if (c == TCase::SortedBySymbol) t->SetSortColumn("Symbol");
        R->Tick();
    }
    double TimedTick() {
        QElapsedTimer timer;
        timer.start();
        R->Tick();
        return timer.nsecsElapsed() / 1e6;
    }
    // The proof that the ticks still watch: a new alert goes out.
    bool NewAlertSent() {
        Ws.InsertAlert("FilledOrders", {});
        R->Tick();
        return R->TriLines().size() == 1;
    }
    TTestWorkspace Ws;
    std::unique_ptr<TTestRobot> R;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    std::printf("tick while watching, no new alert (median of 200 ticks, interleaved)\n");
    bool allSeen = true;
    for (TCase c : {TCase::CurrentFirst, TCase::CurrentLast, TCase::SortedBySymbol}) {
        TSetup small(1000, c), large(1000000, c);
        std::vector<double> a, b;
        // Interleaved, so that whatever else the machine does weighs on both alike.
        for (int i = 0; i < 200; ++i) {
            a.push_back(small.TimedTick());
            b.push_back(large.TimedTick());
        }
        const bool seen = small.NewAlertSent() && large.NewAlertSent();
        allSeen = allSeen && seen;
        std::printf("  %-22s 1,000 rows: %7.3f ms   1,000,000 rows: %7.3f ms   ratio %.2f (goal <= 1.5)%s\n",
                    Name(c), Median(a), Median(b), Median(b) / Median(a),
                    seen ? "" : "   NEW ALERT NOT SENT");
    }
    return allSeen ? 0 : 1;
}

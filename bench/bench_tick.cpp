// The cost of one watching tick with no new alert, with 1,000 and with 1,000,000 rows already in
// FilledOrders: it must not grow with the table.
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <cstdio>

namespace {
double MillisPerTick(int rows) {
    TTestWorkspace ws(true);
    ws.Exec(ws.Alerts(), "BEGIN");
    QSqlQuery q(ws.Alerts());
    q.prepare("INSERT INTO FilledOrders (Symbol, OrderType, \"Order\", \"Fill Price\", System, Workspace, Interval) "
              "VALUES ('SBER', 'LE', 'Buy 10 at 1 Limit', 285.4, 'Breakout', 'Trend.orw', '5 min')");
    for (int i = 0; i < rows; ++i) q.exec();
    ws.Exec(ws.Alerts(), "COMMIT");
    // As after the platform's writes have been checkpointed into the database file.
    ws.Exec(ws.Alerts(), "PRAGMA wal_checkpoint(TRUNCATE)");
    TTestRobot r(ws);
    r.Connect();
    r.Engine->actStartWatchExecute();
    r.Tick();
    const int rounds = 20;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < rounds; ++i) r.Tick();
    return t.nsecsElapsed() / 1e6 / rounds;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    const double small = MillisPerTick(1000);
    const double large = MillisPerTick(1000000);
    std::printf("tick while watching, no new alert\n");
    std::printf("  %9s rows in FilledOrders: %8.2f ms/tick\n", "1,000", small);
    std::printf("  %9s rows in FilledOrders: %8.2f ms/tick\n", "1,000,000", large);
    return 0;
}

// One pass over 1,000 new FilledOrders rows for 20 active clients, against the floor of the same
// number of plain tOrderNumber inserts and file appends.
#include "quik/TransactionWriter.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    const int alerts = 1000, clients = 20;
    TTestWorkspace ws(true);
    ws.Exec(ws.Trading(), "DELETE FROM tClients");
    for (int c = 0; c < clients; ++c)
        ws.Insert(ws.Trading(), "tClients", {{"Code", QString::number(1000 + c)}, {"AccountMicex", "L01"}, {"AccountFORTS", "SPB"}, {"Active", 1}});
    TTestRobot r(ws);
    r.S().rgpSingleMulti = 1;
    r.S().PositionSize = 0;
    r.Connect();
    r.Engine->actStartWatchExecute();
    ws.Exec(ws.Alerts(), "BEGIN");
    for (int i = 0; i < alerts; ++i) ws.InsertAlert("FilledOrders", {{"OrderType", "SE"}, {"Order", "Sell 10 at 1 Limit"}});
    ws.Exec(ws.Alerts(), "COMMIT");
    QElapsedTimer t;
    t.start();
    r.Tick();
    const double secs = t.nsecsElapsed() / 1e9;
    const int written = r.Engine->Writer().TransSent;

    // The floor: the same number of plain inserts and appends, one transaction each, as the robot does.
    QFile f(ws.Path("floor.tri"));
    QElapsedTimer t2;
    t2.start();
    QSqlQuery q(ws.Trading());
    q.prepare("INSERT INTO tOrderNumber (trans_id, id_order, filled, code) VALUES (?, ?, 1, '1000')");
    for (int i = 0; i < written; ++i) {
        q.addBindValue(i);
        q.addBindValue(i);
        q.exec();
        if (i % clients == clients - 1) {
            f.open(QIODevice::Append);
            f.write(QByteArray(140 * clients, 'x'));
            f.close();
        }
    }
    const double floorSecs = t2.nsecsElapsed() / 1e9;
    std::printf("dispatch: %d alerts x %d clients = %d transactions\n", alerts, clients, written);
    std::printf("  robot pass: %8.2f s  %9.0f transactions/s\n", secs, written / secs);
    std::printf("  floor     : %8.2f s  %9.0f inserts+appends/s\n", floorSecs, written / floorSecs);
    return 0;
}

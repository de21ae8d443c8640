// Dispatch of 1,000 alerts x 20 clients against its floor: the durable work no sound robot can avoid,
// one commit per alert holding its rows (the registry's, tOrderNumber's and tClientOpenPositions', 20
// each) at the same synchronous setting, plus appending the same bytes to a .TRI file. Robot and floor run
// interleaved (ABAB) in one process, 100 alerts a round, so that disk drift weighs on both alike. The robot's
// work is checked: every transaction must be in the file and in the table.
// Argument "grids": every table is shown, as in the window, and read again on each tick that changed it;
// without it the robot runs as headless, where no table is shown.
// Argument "long": 100,000 transactions in one run (5,000 alerts x 20 clients, no floor): the cost of
// the last thousand against the first, which a registry that grows with the day must not raise.
#include "quik/TransactionWriter.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <algorithm>
#include <cstdio>

namespace {
int LongRun() {
    const int clients = 20, alerts = 5000, perTick = 50; // a tick of 50 alerts is 1,000 transactions
    TTestWorkspace ws(true);
    ws.SetActiveClients(clients);
    TTestRobot r(ws);
    r.S().rgpSingleMulti = 1;
    r.S().PositionSize = 0;
    r.Connect();
    r.Engine->actStartWatchExecute();
    QList<double> perThousand;
    for (int done = 0; done < alerts; done += perTick) {
        ws.Exec(ws.Alerts(), "BEGIN");
        for (int i = 0; i < perTick; ++i)
            ws.InsertAlert("FilledOrders", {{"OrderType", "SE"}, {"Order", "Sell 10 at 1 Limit"}});
        ws.Exec(ws.Alerts(), "COMMIT");
        QElapsedTimer t;
        t.start();
        r.Tick();
        perThousand << t.nsecsElapsed() / 1e6;
    }
    const int written = r.Engine->Writer().LinesSent;
    const int inRegistry = ws.Scalar(ws.Trading(), "SELECT count(*) FROM tOrderRegistry").toInt();
    // The medians of the first and the last ten thousands: a slow disk flush or a checkpoint in one of
    // them, or another program's burst on the machine, does not decide.
    auto median = [](QList<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double first = median(perThousand.mid(0, 10)),
                 last = median(perThousand.mid(perThousand.size() - 10));
    std::printf("long run: %d transactions in one run (%d alerts x %d clients)\n", written, alerts, clients);
    std::printf("  first thousands: %7.1f ms each (median)\n  last thousands:  %7.1f ms each (median)\n",
                first, last);
    std::printf("  last / first = %.2f (goal <= 1.2)\n", last / first);
    if (written != alerts * clients || inRegistry != written) {
        std::printf("  WORK NOT DONE: %d written, %d in the registry\n", written, inRegistry);
        return 1;
    }
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    if (argc > 1 && QByteArray(argv[1]) == "long") return LongRun();
    const int rounds = 10, perRound = 100, clients = 20;
    const bool grids = argc > 1 && QByteArray(argv[1]) == "grids";
    TTestWorkspace ws(true);
    ws.SetActiveClients(clients);
    TTestRobot r(ws);
    if (grids)
        for (TDataTable* t : r.Engine->DatMod().Tables())
            t->AddView();
    r.S().rgpSingleMulti = 1;
    r.S().PositionSize = 0;
    r.Connect();
    r.Engine->actStartWatchExecute();

    // The floor works on a copy of the same database, so that both write files of the same size.
    const QString floorDb = ws.Path("floor.db");
    QFile::copy(ws.TradingPath(), floorDb);
    QSqlDatabase fdb = QSqlDatabase::addDatabase("QSQLITE", "floor");
    fdb.setDatabaseName(floorDb);
    fdb.open();
    QSqlQuery(fdb).exec("PRAGMA journal_mode=WAL");
    // Every statement prepared once; every value is bound, as a robot must (they come from the alert,
    // not from the statement's text), in Qt's cheapest way: by a name made once, and only when it changes.
    QSqlQuery order(fdb), position(fdb), registry(fdb), begin(fdb), commit(fdb);
    // One registry row a transaction, as wide as the robot's: what a durable record of an order needs.
    // Its values are bound like every other (they come from the alert and the client).
    registry.prepare("INSERT INTO tOrderRegistry (day, trans_id, run_id, recorded, alert_table, alert_id, "
                     "code, account, seccode, classcode, ticker, strategy, signal, workspace, bar_interval, "
                     "action, operation, order_type, quantity, price, stop_price, digits, market, manual, "
                     "cancels, stage, book) VALUES (:day, :t, :run, :rec, :table, :o, :c, :acc, :sec, :cls, "
                     ":tick, :sys, :sig, :ws, :int, :act, :op, :type, :q, :p, :sp, :dig, :mkt, :man, :can, "
                     ":stage, :book)");
    const std::pair<const char*, QVariant> constant[] = {
        {":day", QStringLiteral("2026-01-15")},
        {":run", 1},
        {":rec", QStringLiteral("2026-01-15 12:00:00")},
        {":table", QStringLiteral("FilledOrders")},
        {":acc", QStringLiteral("L01-00000F00")},
        {":sec", QStringLiteral("SBER")},
        {":cls", QStringLiteral("TQBR")},
        {":tick", QStringLiteral("SBER")},
        {":sys", QStringLiteral("Breakout(20,2)")},
        {":sig", QStringLiteral("BO-L")},
        {":ws", QStringLiteral("Trend.orw")},
        {":int", QStringLiteral("5 min")},
        {":act", QStringLiteral("NEW_ORDER")},
        {":op", QStringLiteral("S")},
        {":type", QStringLiteral("SE")},
        {":q", 1},
        {":p", 1.0},
        {":sp", 1.0},
        {":dig", 2},
        {":mkt", 1},
        {":man", 0},
        {":can", QVariant()},
        {":stage", 0},
        {":book", QStringLiteral("+1\t1\tBO-L\t1000\tSBER\tS\t"
                                 "Breakout(20,2)\tTrend.orw\t5 min\n")}};
    for (const auto& [name, value] : constant)
        registry.bindValue(QString::fromLatin1(name), value);
    begin.prepare("BEGIN IMMEDIATE");
    commit.prepare("COMMIT");
    order.prepare("INSERT INTO tOrderNumber (trans_id, id_order, filled, code) VALUES (:t, :o, :f, :c)");
    position.prepare(
        "INSERT INTO tClientOpenPositions (quantity, symbol, code, System, Signal, Interval, Workspace) "
        "VALUES (:q, :s, :c, :y, :g, :i, :w)");
    const QString nTrans = ":t", nOrder = ":o", nFilled = ":f", nCode = ":c", nQuantity = ":q",
                  nSymbol = ":s", nSystem = ":y", nSignal = ":g", nInterval = ":i", nWorkspace = ":w";
    // What is the same for every row is bound once: Qt keeps bound values from one run to the next.
    order.bindValue(nFilled, 1);
    position.bindValue(nQuantity, 1);
    position.bindValue(nSymbol, QStringLiteral("SBER"));
    position.bindValue(nSystem, QStringLiteral("Breakout(20,2)"));
    position.bindValue(nSignal, QStringLiteral("BO-L"));
    position.bindValue(nInterval, QStringLiteral("5 min"));
    position.bindValue(nWorkspace, QStringLiteral("Trend.orw"));
    QVariantList codes;
    for (int k = 0; k < clients; ++k)
        codes << QString::number(1000 + k);

    double robotSecs = 0, floorSecs = 0;
    int floorTrans = 0;
    for (int round = 0; round < rounds; ++round) {
        ws.Exec(ws.Alerts(), "BEGIN");
        for (int i = 0; i < perRound; ++i)
            ws.InsertAlert("FilledOrders", {{"OrderType", "SE"}, {"Order", "Sell 10 at 1 Limit"}});
        ws.Exec(ws.Alerts(), "COMMIT");
        const qsizetype before = ReadBytes(ws.TriPath()).size();
        QElapsedTimer t;
        t.start();
        r.Tick();
        robotSecs += t.nsecsElapsed() / 1e9;
        // The floor appends the very bytes the robot appended, alert by alert.
        const QByteArray sent = ReadBytes(ws.TriPath()).mid(before);
        QList<QByteArray> perAlert;
        for (qsizetype from = 0; from < sent.size();) {
            qsizetype end = from;
            for (int c = 0; c < clients && end >= 0; ++c) {
                end = sent.indexOf("\r\n", end);
                if (end >= 0) end += 2;
            }
            if (end < 0) end = sent.size();
            perAlert << sent.mid(from, end - from);
            from = end;
        }

        QElapsedTimer t2;
        t2.start();
        for (int a = 0; a < perRound; ++a) {
            begin.exec();
            order.bindValue(nOrder, a);
            for (int k = 0; k < clients; ++k) {
                order.bindValue(nTrans, floorTrans);
                order.bindValue(nCode, codes[k]);
                order.exec();
                registry.bindValue(nTrans, floorTrans + 1);
                registry.bindValue(nOrder, a);
                registry.bindValue(nCode, codes[k]);
                registry.exec();
                position.bindValue(nCode, codes[k]);
                position.exec();
                ++floorTrans;
            }
            commit.exec();
            QFile file(ws.Path("floor.tri"));
            file.open(QIODevice::Append | QIODevice::Unbuffered);
            file.write(perAlert.value(a));
            file.close();
        }
        floorSecs += t2.nsecsElapsed() / 1e9;
    }
    const int written = r.Engine->Writer().LinesSent;
    const int inFile = ReadBytes(ws.TriPath()).count("\r\n");
    const int inTable = ws.Scalar(ws.Trading(), "SELECT count(*) FROM tOrderNumber").toInt();
    const int inRegistry =
        ws.Scalar(ws.Trading(), "SELECT count(*) FROM tOrderRegistry r WHERE EXISTS (SELECT 1 FROM "
                                "tLinesInFile l WHERE l.day = r.day and r.trans_id BETWEEN l.first_trans and "
                                "l.last_trans)")
            .toInt();
    const int expected = rounds * perRound * clients;
    std::printf("dispatch: %d alerts x %d clients = %d transactions (ABAB, %d rounds), %s\n",
                rounds * perRound, clients, expected, rounds,
                grids ? "every table shown as in the window" : "no table shown, as headless");
    std::printf("  robot: %7.2f s  %8.0f transactions/s\n", robotSecs, written / robotSecs);
    std::printf("  floor: %7.2f s  %8.0f transactions/s\n", floorSecs, floorTrans / floorSecs);
    std::printf("  both appended %lld bytes (%.0f a transaction)\n",
                static_cast<long long>(ReadBytes(ws.TriPath()).size()),
                ReadBytes(ws.TriPath()).size() / double(expected));
    std::printf("  robot at %.0f %% of the floor (goal >= 80 %%)\n", 100 * floorSecs / robotSecs);
    const bool sameBytes = ReadBytes(ws.Path("floor.tri")) == ReadBytes(ws.TriPath());
    if (written != expected || inFile != expected || inTable != expected || inRegistry != expected ||
        !sameBytes) {
        std::printf("  WORK NOT DONE: %d recorded, %d in the file, %d in the table, %d in the registry%s\n",
                    written, inFile, inTable, inRegistry, sameBytes ? "" : ", the floor's file differs");
        return 1;
    }
    return 0;
}

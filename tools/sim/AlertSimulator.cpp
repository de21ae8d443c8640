#include "AlertSimulator.h"

#include "DemoData.h"
#include "data/SqlRun.h"

#include <QDateTime>
#include <QLocale>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <QVariantMap>
#include <cmath>

namespace {
QString Now() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
// The platform writes the prices of its order texts in the operator's regional format, which is the
// format the robot reads them in.
QString PriceText(double p) {
    QLocale regional;
    regional.setNumberOptions(QLocale::OmitGroupSeparator);
    return regional.toString(p, 'f', p < 100 ? 2 : 1);
}
} // namespace

TAlertSimulator::TAlertSimulator(const QString& alertsDb, const QString& tradingDb, quint32 seed)
    : Random(seed) {
    AlertsConn = QStringLiteral("alertsim-") + QUuid::createUuid().toString();
    QSqlDatabase a = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), AlertsConn);
    a.setDatabaseName(alertsDb);
    a.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    a.open();
    const QString tradingConn = AlertsConn + QStringLiteral("-trading");
    {
        QSqlDatabase t = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), tradingConn);
        t.setDatabaseName(tradingDb);
        t.open();
        QSqlQuery q(t);
        q.exec(QStringLiteral("SELECT Ticker, LotSize FROM tSecCode"));
        while (q.next()) {
            double price = 100;
            for (const TDemoInstrument& d : DemoInstruments())
                if (QString::fromLatin1(d.Ticker) == q.value(0).toString()) price = d.Price;
            Instruments << TInstrument{q.value(0).toString(), price, std::max(1, q.value(1).toInt())};
        }
        q.exec(QStringLiteral("SELECT workspace FROM tWorkSpaces"));
        while (q.next())
            Workspaces << q.value(0).toString();
        q.exec(QStringLiteral("SELECT strategy FROM tStrategy"));
        while (q.next())
            Strategies << q.value(0).toString();
        t.close();
    }
    QSqlDatabase::removeDatabase(tradingConn);
    if (Instruments.isEmpty()) Instruments << TInstrument{QStringLiteral("SBER"), 285.4, 10};
    if (Workspaces.isEmpty()) Workspaces << QStringLiteral("Trend.orw");
    if (Strategies.isEmpty()) Strategies << QStringLiteral("Breakout");
}

TAlertSimulator::~TAlertSimulator() {
    QSqlDatabase::database(AlertsConn, false).close();
    QSqlDatabase::removeDatabase(AlertsConn);
}

qint64 TAlertSimulator::Insert(const QString& table, const QVariantMap& values) {
    QStringList cols, marks;
    for (auto it = values.begin(); it != values.end(); ++it) {
        cols << QStringLiteral("\"%1\"").arg(it.key());
        marks << QStringLiteral(":p%1").arg(marks.size());
    }
    QSqlQuery q(QSqlDatabase::database(AlertsConn, false));
    q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(table, cols.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    int i = 0;
    for (const QVariant& v : values)
        q.bindValue(QStringLiteral(":p%1").arg(i++), v);
    q.exec();
    return q.lastInsertId().toLongLong();
}

QString TAlertSimulator::OrderNumberOf(qint64 activeId) {
    QSqlQuery q(QSqlDatabase::database(AlertsConn, false));
    q.prepare(QStringLiteral("SELECT \"Order Number\" FROM ActiveOrders WHERE ID = ?"));
    q.addBindValue(activeId);
    q.exec();
    return q.next() ? q.value(0).toString() : QString();
}

QString TAlertSimulator::NewOrder(bool exit) {
    TPending p;
    if (exit) {
        const TPending entry = Open.takeAt(Random.bounded(Open.size()));
        p = entry;
        p.OrderType = entry.OrderType == QLatin1String("LE") ? QStringLiteral("LX") : QStringLiteral("SX");
    } else {
        p.Instrument = Instruments[Random.bounded(Instruments.size())];
        p.OrderType = Random.bounded(2) ? QStringLiteral("LE") : QStringLiteral("SE");
        p.System = QStringLiteral("%1(%2,%3)")
                       .arg(Strategies[Random.bounded(Strategies.size())])
                       .arg(Random.bounded(10, 40))
                       .arg(Random.bounded(1, 4));
        p.Workspace =
            QStringLiteral("C:\\Omega Research\\MyWork\\") + Workspaces[Random.bounded(Workspaces.size())];
        p.Signal = p.OrderType == QLatin1String("LE") ? QStringLiteral("BO-L") : QStringLiteral("BO-S");
        p.Interval = QStringList{QStringLiteral("5 min"), QStringLiteral("15 min"),
                                 QStringLiteral("1 hour")}[Random.bounded(3)];
        p.Quantity = p.Instrument.LotSize * Random.bounded(1, 10);
    }
    const bool buy = p.OrderType == QLatin1String("LE") || p.OrderType == QLatin1String("SX");
    p.Price = p.Instrument.Price * (1 + (Random.generateDouble() - 0.5) * 0.01);
    p.Order = QStringLiteral("%1 %2 at %3 Limit")
                  .arg(buy ? QStringLiteral("Buy") : QStringLiteral("Sell"))
                  .arg(p.Quantity)
                  .arg(PriceText(p.Price));
    p.ActiveId = Insert(QStringLiteral("ActiveOrders"), {{"Symbol", p.Instrument.Ticker},
                                                         {"Description", p.Instrument.Ticker},
                                                         {"OrderType", p.OrderType},
                                                         {"Order", p.Order},
                                                         {"Last", p.Instrument.Price},
                                                         {"Time Placed", Now()},
                                                         {"System", p.System},
                                                         {"Signal", p.Signal},
                                                         {"Workspace", p.Workspace},
                                                         {"Interval", p.Interval},
                                                         {"AlertType", 1}});
    Pending << p;
    return QStringLiteral("ActiveOrders #%1: %2 %3").arg(p.ActiveId).arg(p.OrderType, p.Order);
}

QString TAlertSimulator::Fill(int index) {
    TPending p = Pending.takeAt(index);
    // The platform carries the order number it reads back from the active row into the fill.
    const QString number = OrderNumberOf(p.ActiveId);
    const qint64 id = Insert(QStringLiteral("FilledOrders"),
                             {{"Symbol", p.Instrument.Ticker},
                              {"Description", p.Instrument.Ticker},
                              {"OrderType", p.OrderType},
                              {"Order", p.Order},
                              {"Fill Price", std::round(p.Price * 100) / 100},
                              {"Time Placed", Now()},
                              {"Time Filled", Now()},
                              {"System", p.System},
                              {"Signal", p.Signal},
                              {"Workspace", p.Workspace},
                              {"Interval", p.Interval},
                              {"Order Number", number.isEmpty() ? QVariant() : QVariant(number)},
                              {"AlertType", 2}});
    if (p.OrderType == QLatin1String("LE") || p.OrderType == QLatin1String("SE")) {
        Open << p;
        Insert(QStringLiteral("OpenPositions"),
               {{"Symbol", p.Instrument.Ticker},
                {"Description", p.Instrument.Ticker},
                {"Entry Price", p.Price},
                {"Last", p.Price},
                {"Profit", 0.0},
                {"Entry Time", Now()},
                {"System", p.System},
                {"Signal", p.Signal},
                {"Workspace", p.Workspace},
                {"Interval", p.Interval},
                {"Alert String", QStringLiteral("%1 %2").arg(p.OrderType).arg(p.Quantity)}});
    } else {
        QSqlQuery q(QSqlDatabase::database(AlertsConn, false));
        q.prepare(
            QStringLiteral("DELETE FROM OpenPositions WHERE Symbol = ? AND System = ? AND Interval = ?"));
        q.addBindValue(p.Instrument.Ticker);
        q.addBindValue(p.System);
        q.addBindValue(p.Interval);
        q.exec();
    }
    return QStringLiteral("FilledOrders #%1: fill of active #%2 (order number %3)")
        .arg(id)
        .arg(p.ActiveId)
        .arg(number.isEmpty() ? QStringLiteral("-") : number);
}

QString TAlertSimulator::Cancel(int index) {
    TPending p = Pending.takeAt(index);
    const QString number = OrderNumberOf(p.ActiveId);
    const qint64 id = Insert(QStringLiteral("CanceledOrders"),
                             {{"Symbol", p.Instrument.Ticker},
                              {"Description", p.Instrument.Ticker},
                              {"OrderType", p.OrderType},
                              {"Order", p.Order},
                              {"Time Placed", Now()},
                              {"Time Canceled", Now()},
                              {"System", p.System},
                              {"Signal", p.Signal},
                              {"Workspace", p.Workspace},
                              {"Interval", p.Interval},
                              {"Order Number", number.isEmpty() ? QVariant() : QVariant(number)},
                              {"AlertType", 3}});
    if (p.OrderType == QLatin1String("LX") || p.OrderType == QLatin1String("SX")) {
        // The exit was cancelled: the position it was to close stays open.
        p.OrderType = p.OrderType == QLatin1String("LX") ? QStringLiteral("LE") : QStringLiteral("SE");
        Open << p;
    }
    return QStringLiteral("CanceledOrders #%1: cancel of active #%2 (order number %3)")
        .arg(id)
        .arg(p.ActiveId)
        .arg(number.isEmpty() ? QStringLiteral("-") : number);
}

QString TAlertSimulator::Step() {
    const int r = Random.bounded(100);
    if (!Pending.isEmpty() && r < 45) return Fill(Random.bounded(Pending.size()));
    if (!Pending.isEmpty() && r < 60) return Cancel(Random.bounded(Pending.size()));
    if (!Open.isEmpty() && r < 80) return NewOrder(true);
    return NewOrder(false);
}

#pragma once

#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

// Stands in for the strategy platform: writes believable alert rows for a few strategies, workspaces
// and the instruments of tSecCode into an alerts database.
class TAlertSimulator {
public:
    TAlertSimulator(const QString& alertsDb, const QString& tradingDb, quint32 seed = 7);
    ~TAlertSimulator();

    // One event of the platform: a new entry order, the fill of a placed order, an exit of an open
    // position, or the cancellation of a placed order. Returns a short description of what it wrote.
    QString Step();

    struct TInstrument {
        QString Ticker;
        double Price;
        int LotSize;
    };

private:
    struct TPending {
        qint64 ActiveId;
        TInstrument Instrument;
        QString OrderType, Order, System, Workspace, Signal, Interval;
        int Quantity;
        double Price;
    };
    QString NewOrder(bool exit);
    QString Fill(int index);
    QString Cancel(int index);
    QString OrderNumberOf(qint64 activeId);
    qint64 Insert(const QString& table, const QVariantMap& values);
    QString AlertsConn;
    QList<TInstrument> Instruments;
    QStringList Workspaces;
    QStringList Strategies;
    QList<TPending> Pending; // placed, not yet filled or cancelled
    QList<TPending> Open;    // filled entries
    QRandomGenerator Random;
};

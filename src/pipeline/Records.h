#pragma once

#include <QDateTime>
#include <QHashFunctions>
#include <QString>
#include <QVariant>

// One alert, decoded from one row of an alert table.
struct TOmegaOrder {
    qint64 ID = 0; // the platform's ids pass 32 bits in long-lived databases
    QString Symbol;
    QString Description;
    QString OrderType;
    QString Order;
    QString System;
    QString Workspace;
    QString Signal;
    QString Interval;
    double FillPrice = 0;
    // The fill time as its row holds it, read as a date and time only when asked for: nothing decides
    // by it, and making a local time of it costs a look at the time zone for every alert.
    QVariant TimeFilledValue;
    bool Filled = false;
    QString OrderNumber;

    QDateTime TimeFilled() const {
        return TimeFilledValue.isNull() ? QDateTime() : TimeFilledValue.toDateTime();
    }
};

// One outgoing QUIK transaction, built from an alert for one account.
struct TOrder {
    QString Action;
    QString Operation;
    qint32 Quantity = 0;
    double Price = 0;
    double StopPrice = 0;
    bool IsStop = false;
    bool Filled = false;
    QString ClientCode;
    QString Account;
    QString SecCode;
    QString Ticker;
    QString ClassCode;
    QString OrderKey;
    QString StopOrderKey;
    QString OrderType;
    qint32 Digits = 0;
    qint64 IdOrder = 0;
    bool Traded = false;
    bool Refused = false; // the builder or the sizing refused it and journalled why
};

// The client code and the two exchange accounts one transaction is addressed to.
struct TClientAccount {
    QString Code;
    QString AccountMicex;
    QString AccountFORTS;
    bool operator==(const TClientAccount&) const = default;
};
inline size_t qHash(const TClientAccount& a, size_t seed = 0) {
    return qHashMulti(seed, a.Code, a.AccountMicex, a.AccountFORTS);
}
Q_DECLARE_TYPEINFO(TClientAccount, Q_RELOCATABLE_TYPE);

// The alert as the journal names it after "Ордер # ": its id and its table ("17 (FilledOrders)").
QString AlertRef(const TOmegaOrder& alert);

// Resets every field but TimeFilled, which nothing reads for an alert that was not filled.
void ClearOmegaOrder(TOmegaOrder& alert);
void ClearOrder(TOrder& order);

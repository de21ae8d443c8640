#pragma once

#include "pipeline/Records.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

// The orders QUIK accepted (status 3 with an order number) that no confirmed cancellation has pulled
// yet, each with the order as it was sent, so that it can be cancelled without anything else: not
// tOrderNumber, which every connect empties, nor the alert row. They are kept in a file beside the
// settings (Korvex.orders), written whole whenever they change, so that a restart, even after a
// crash, can still cancel what lives in QUIK. A new trading day starts with none.
class TLiveOrders {
public:
    struct TLive {
        qint64 OrderNumber = 0;
        qint32 TransId = -1;
        bool FromFilled = false; // the alert came from FilledOrders (else ActiveOrders)
        TOrder Order;            // the new order as it was sent
        bool Carried = false;    // from an earlier run
        qint32 KillTrans = -1;   // a cancellation sent and not yet answered
    };

    // The file; nothing is read yet.
    void SetPath(const QString& path) { FilePath = path; }
    // Reads the file: the orders of `today` are kept as carried over, another day's are dropped.
    // A missing or unreadable file gives none. Returns how many were carried; `otherDay` gets how
    // many were dropped for their day.
    int Load(const QDate& today, int* otherDay = nullptr);
    // Written whole through a temporary file; false when the system refused the write.
    bool Save(const QDate& today);

    void Accepted(qint64 orderNumber, qint32 transId, bool fromFilled, const TOrder& order);
    // A new order whose line reached the file and that QUIK has not answered yet: kept too, so that
    // an answer read only after a restart still makes it a live order.
    void Awaiting(qint32 transId, bool fromFilled, const TOrder& order);
    void Answered(qint32 transId);
    // An earlier run's order awaiting its answer; QUIK accepted it as `orderNumber`: it becomes live.
    // False when no such order is kept.
    bool AcceptAwaited(qint32 transId, qint64 orderNumber);
    bool AwaitsEarlier(qint32 transId) const {
        const auto it = Waiting.constFind(transId);
        return it != Waiting.cend() && it->Carried;
    }
    void KillSent(qint64 orderNumber, qint32 killTrans);
    void KillFailed(qint64 orderNumber, qint32 killTrans);
    void Pulled(qint64 orderNumber);

    // The number of the latest live order of an alert, its market flag (as tOrderNumber's "filled")
    // and a client: what a cancellation pulls when tOrderNumber no longer knows it.
    std::optional<qint64> NumberFor(qint64 alertId, bool market, const QString& code) const;
    // The orders no cancellation is on its way for, oldest first.
    QList<TLive> ToPull() const;
    int Count() const { return static_cast<int>(Orders.size()); }
    bool Dirty = false;

private:
    QString FilePath;
    QHash<qint64, TLive> Orders;  // by QUIK's order number
    QHash<qint32, TLive> Waiting; // by TRANS_ID: sent, not answered yet
};

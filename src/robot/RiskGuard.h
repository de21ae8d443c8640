#pragma once

#include "pipeline/PipelineContext.h"
#include "pipeline/Records.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class TPositionBook;

// The guards between a built order and QUIK: the most lots and the most money of one order, and the
// circuit breaker on the transactions of a minute. Only what opens something new is held back: an
// exit up to the quantity the book holds and a cancellation always go out. A limit that does not read
// refuses every order it would check.
class TRiskGuard {
public:
    TRiskGuard(const TPipelineContext& ctx, const TPositionBook& book) : Ctx(ctx), Book(book) {}

    // The limits that do not read as a number >= 0 (MaxTransPerMinute: a whole one), each as
    // "key=value"; empty when all read. Watching does not start while one does not.
    QStringList UnreadableLimits() const;
    // Why an order may not go (MaxLots, MaxMoney), in words: the part of an exit beyond the held
    // quantity counts as an entry. Empty when it may go. Throws StoreError when the book cannot be read.
    QString LimitRefusal(const TOrder& order, const TOmegaOrder& alert) const;
    // True when the order opens something new (an entry, or an exit beyond the held quantity): only
    // those trip the breaker.
    bool OpensNew(const TOrder& order, const TOmegaOrder& alert) const;

    // The breaker: `lines` transactions about to go, `opening` of them opening something new. Returns
    // the limit it would pass (0: the limit does not read), or -1 when they may go.
    int WouldTrip(int lines, bool opening, qint64 nowMs);
    // They went: every line counts toward the minute.
    void Count(int lines, qint64 nowMs);
    // Trips the breaker with the count it would have reached; returns the journal text.
    QString Trip(int wouldBe, int limit);
    void Reset();
    bool Tripped() const { return IsTripped; }
    QString Text() const { return TripText; }
    int RecentCount() const { return static_cast<int>(Recent.size()); }

private:
    const TPipelineContext& Ctx;
    const TPositionBook& Book;
    // A limit read once for its text: a dispatch checks it for every account.
    struct TLimitMemo {
        QString Text;
        std::optional<double> Value;
        bool Read = false;
    };
    std::optional<double> CachedLimit(TLimitMemo& memo, const QString& text) const;
    mutable TLimitMemo LotsMemo, MoneyMemo;
    QList<qint64> Recent; // times of the transactions of the last minute, monotonic ms
    bool IsTripped = false;
    QString TripText;
};

#pragma once

#include "pipeline/PipelineContext.h"
#include "pipeline/Records.h"
#include "quik/LiveOrders.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// The robot's book follows what QUIK got: each transaction's row of tOrderNumber, the open positions
// it added or removed, and where it stands. This class writes them in the commit of the transaction,
// and takes them back when its line never reached the .TRI file or QUIK refused it. It keeps, for the
// run, what each transaction did (tOrderNumber starts empty at every connect, so memory is enough).
class TTransactionBook {
public:
    explicit TTransactionBook(const TPipelineContext& ctx) : Ctx(ctx) {}

    enum class TKind : quint8 { Entry, Exit, Cancel, Other };
    // Where a transaction stands; it only ever moves forward.
    enum class TStage : quint8 { Committed, InFile, AtServer, Done, Refused, GivenUp };

    struct TPositionRow {
        qint64 Id = 0;
        qint32 Quantity = 0;
        QString Symbol, System, Signal, Workspace, Interval, Code;
    };
    // What one transaction did to the book.
    struct TEffect {
        TKind Kind = TKind::Other;
        TStage Stage = TStage::Committed;
        char MarkTable = 0;                 // 'F' FilledOrders, 'A' ActiveOrders: the alert row it marks
        std::vector<TPositionRow> Added;    // the open-position row an entry added
        std::vector<TPositionRow> Removed;  // the rows an exit closed
        qint64 OrderNumber = 0;             // QUIK's, once known
        std::shared_ptr<const TOrder> Sent; // a new order as sent, until QUIK's final answer
        qint64 Pulls = 0;                   // a cancellation: the order number it pulls
    };

    // Writes the transaction's tOrderNumber row and its effect on the open positions, on the caller's
    // database transaction, and returns the effect to Add once that transaction committed. Throws
    // StoreError when the database refuses.
    TEffect Record(qint32 transId, const TOrder& order, const TOmegaOrder& alert);
    // After the commit.
    void Add(qint32 transId, TEffect effect);
    const TEffect* Find(qint32 transId) const;

    // The line reached the file.
    void LineWritten(qint32 transId);
    // The line never reached the file: what its recording did is taken back in a database
    // transaction of its own. Returns a text saying what was corrected (empty: nothing to take back).
    // Throws StoreError when the database refuses; nothing changed then, and it may be tried again.
    QString GiveUp(qint32 transId);

    // One of QUIK's answers, on the reader's database transaction.
    enum class TAnswer {
        Unknown,  // a TRANS_ID this run never sent
        Repeated, // the same answer again, or one that would move the transaction back: no effect
        Applied,  // the transaction moved forward; its row is to be updated
    };
    struct TAnswerResult {
        TAnswer Answer = TAnswer::Unknown;
        qint64 OrderNumber = 0; // the number to store: the first non-zero one QUIK gave
        QString Corrected;      // what a refusal took back, for the journal
    };
    TAnswerResult Answer(qint32 transId, const QString& status, qint64 orderNumber);
    // A reading's answers take effect together: a reading that fails is rolled back in the database,
    // and here too.
    void BeginBatch();
    void CommitBatch();
    void RollbackBatch();
    // An answer to an earlier run's new order, read in this run: QUIK accepted it as `orderNumber`, and
    // it becomes a live order. False when it is no such order.
    bool AcceptEarlier(qint32 transId, qint64 orderNumber);
    // Writes the live orders' file when they changed.
    void SaveLive();

    // Lines that reached the .TRI file in this run.
    qint32 Sent = 0;
    // The orders living in QUIK, this run's and an earlier run's of the day.
    TLiveOrders Live;

    // QUIK's codes for an answer that is not final: sent to the server, received by it.
    static bool InProgress(const QString& status) {
        return status == QLatin1String("0") || status == QLatin1String("1");
    }
    static bool IsRefusal(const QString& status) {
        return !InProgress(status) && status != QLatin1String("3");
    }

private:
    TEffect* At(qint32 transId);
    // Removes the row an entry added and puts back the rows an exit closed, on the caller's
    // transaction; returns what it did in words.
    QString TakeBack(qint32 transId, TEffect& e);
    void Keep(qint32 transId); // a batch keeps the effect as it was before its first change

    const TPipelineContext& Ctx;
    qint32 Base = -1; // the first number of the run: effects are kept by number from it
    std::vector<TEffect> Effects;
    bool InBatch = false;
    bool LiveSaveFailed = false;
    std::vector<std::function<void()>> BatchLive; // changes of the live orders, made when the batch commits
    std::vector<std::pair<qint32, TEffect>> BatchBefore;
    QSet<qint32> BatchKept;
};

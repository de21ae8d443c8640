#pragma once

#include "pipeline/PipelineContext.h"
#include "quik/OrderStage.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <deque>
#include <optional>
#include <vector>

// One transaction of the day as the robot knows it, from the alert to QUIK's last answer.
struct TOrderRecord {
    qint32 TransId = 0;
    QString Day; // the trading day its number belongs to, yyyy-MM-dd
    qint64 RunId = 0;
    QDateTime Recorded;
    QString AlertTable; // FilledOrders, ActiveOrders or CanceledOrders
    qint64 AlertId = 0;
    QString Code, Account, SecCode, ClassCode, Ticker;
    QString Strategy, Signal, Workspace, Interval; // the alert's keys of the position book
    QString Action, Operation, OrderType;
    qint32 Quantity = 0;
    double Price = 0, StopPrice = 0;
    qint32 Digits = 0;
    bool Market = false; // filled at once (a FilledOrders alert, or an order text saying "Market")
    bool Manual = false;
    qint32 Cancels = 0; // a cancellation: the TRANS_ID of the order it pulls
    TOrderStage Stage = TOrderStage::Recorded;
    qint64 OrderNumber = 0; // QUIK's, the first non-zero one it gave
    int Status = -1;        // QUIK's last status; -1: none yet
    QString TransName, Description;
    QDateTime Answered;
    qint32 KillTrans = 0;      // the cancellation on its way for this order
    bool CancelWanted = false; // a cancellation came before QUIK's number: it goes out with the number
    QString Book;              // what it did to the position book (TPositionBook::TEffect as text)

    bool IsKill() const { return Action.startsWith(QLatin1String("KILL")); }
    bool IsNew() const { return Action.startsWith(QLatin1String("NEW")); }
    bool IsStop() const { return Action == QLatin1String("NEW_STOP_ORDER"); }
    // A limit or stop order lives in QUIK once accepted; a market order is done at once.
    bool CanLive() const { return IsNew() && !Market; }
};

// The registry of the day's transactions: the only place the robot knows its orders by. It hands
// out the TRANS_IDs (from 1 up to 2,147,483,647, never twice in a day) and keeps one row per
// transaction in tOrderRegistry of the trading database, written in the same database transaction
// as the rest of the dispatch and updated in place with every move of its stage. What the database
// refused is never assumed: a registry that could not be read gives out no number.
class TOrderRegistry {
public:
    explicit TOrderRegistry(const TPipelineContext& ctx) : Ctx(ctx) {}

    static constexpr qint32 MaxTransId = 2147483647;

    // Creates tOrderRegistry and tWatchState where they are missing; returns a journal line for each
    // one made. Throws StoreError.
    static QStringList EnsureTables(const QSqlDatabase& db);

    // Reads the day's transactions; numbers go on after the highest of them and after `atLeast`.
    // Throws StoreError; the registry then gives out no number until a load succeeds.
    void Load(const QString& day, qint64 runId, qint64 atLeast = 0);
    bool Ready() const { return IsReady; }
    // Why no number can be given out now; empty when one can.
    QString NotReadyReason() const { return Reason; }
    void SetNotReady(const QString& why) {
        IsReady = false;
        Reason = why;
    }
    QString LoadedDay() const { return Day; }
    qint64 RunId() const { return Run; }
    // The number the next transaction will get.
    qint64 NextTransId() const { return Next; }
    // Numbers below this one may have reached QUIK: never given out again (a .TRI from before).
    void NumbersUsedUpTo(qint64 highest);

    // Gives the record its TRANS_ID and its day and inserts it, on the caller's database
    // transaction. Throws KorvexError when the registry is not ready or the day's numbers are used
    // up, StoreError when the database refuses.
    qint32 Record(TOrderRecord record);

    // Changes made while a database transaction of the caller is open are taken back with it.
    void Begin();
    void Commit();
    void Rollback();
    // Begin on construction, Rollback on destruction unless committed: beside a TDbTransaction.
    class TScopeGuard {
    public:
        explicit TScopeGuard(TOrderRegistry& r) : R(r) { R.Begin(); }
        ~TScopeGuard() {
            if (!Done) R.Rollback();
        }
        TScopeGuard(const TScopeGuard&) = delete;
        TScopeGuard& operator=(const TScopeGuard&) = delete;
        void Commit() {
            Done = true;
            R.Commit();
        }

    private:
        TOrderRegistry& R;
        bool Done = false;
    };

    // Moves a transaction's stage; false when the event does not apply to where it stands (nothing
    // changes then). Written on the caller's transaction, if any. Throws StoreError.
    bool Move(qint32 transId, TOrderEvent event);
    // Stores QUIK's answer (status, texts, the order number when none is stored yet), written at once.
    void StoreAnswer(qint32 transId, int status, qint64 orderNumber, const QString& name,
                     const QString& description);
    void SetKill(qint32 transId, qint32 killTrans);
    void SetCancelWanted(qint32 transId, bool wanted);
    void SetBook(qint32 transId, const QString& book);

    // The lines of these transactions are wholly in the .TRI. What the database keeps of it is the runs
    // of their numbers (tLinesInFile), written once a tick (SaveLinesWrittenNow): rewriting the
    // registry's own rows would write its pages twice, and a row with every dispatch would add a page
    // to each commit. Until then a restart reads it from the .TRI the run left behind.
    void LinesWritten(const QList<qint32>& ids);
    // Writes those runs on the caller's transaction. Throws StoreError.
    void SaveLinesWritten();
    // Writes them in a transaction of its own; a refusal leaves them for the next commit.
    void SaveLinesWrittenNow();

    const TOrderRecord* Find(qint32 transId) const;
    // The new orders recorded for an alert row, oldest first.
    QList<const TOrderRecord*> OrdersOfAlert(const QString& table, qint64 alertId) const;
    // Every transaction the registry holds, by number.
    const std::deque<TOrderRecord>& All() const { return Records; }
    // Orders that can be live in QUIK on `day`: accepted limit and stop orders with no cancellation
    // on their way, and those still waiting for QUIK's answer.
    QList<const TOrderRecord*> LiveOrders(const QString& day, bool* anyAwaiting = nullptr) const;
    // Limit and stop exits that may still fill: what they close is not the book's to sell again.
    QList<const TOrderRecord*> OpenExits() const;
    // Accepted orders whose cancellation came before their number: to be sent now.
    QList<const TOrderRecord*> WantedCancellations() const;

private:
    TOrderRecord* At(qint32 transId);
    qsizetype PositionOf(qint32 transId) const; // in Records; -1: not there
    void Keep(qint32 transId); // an open scope keeps the record as it was before its first change
    void Persist(const TOrderRecord& r);
    void Index(qsizetype at);

    const TPipelineContext& Ctx;
    // In the order of their numbers, found by halving. A deque: the day's records are never moved as it
    // grows (a vector of 100,000 would be copied whole at each doubling).
    std::deque<TOrderRecord> Records;
    QMultiHash<qint64, qint32> ByAlert;
    QSet<qint32> Wanted; // accepted or not, with a cancellation waiting for their number
    QSet<qint32> Exits;  // limit and stop exits not yet filled, refused, cancelled or given up
    void TrackExit(const TOrderRecord& r);
    QString Day;
    qint64 Run = 0;
    qint64 StampSecond = -1;
    QDateTime StampMoment;
    QString StampDay, StampText;
    qint64 Next = 1;
    bool IsReady = false;
    QString Reason = QStringLiteral("реестр транзакций не прочитан: нет подключения к базе данных Quik");
    // Lines in the file whose stage the database has not taken yet.
    QList<qint32> InFileUnsaved;
    struct TScope {
        qsizetype Size = 0;
        QHash<qint32, TOrderRecord> Before;
        std::optional<QList<qint32>> InFileUnsaved; // as it was before the scope wrote it
    };
    std::optional<TScope> Scope;
};

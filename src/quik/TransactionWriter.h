#pragma once

#include "pipeline/PipelineContext.h"
#include "pipeline/Records.h"
#include "quik/OrderRegistry.h"
#include "quik/PositionBook.h"

#include <QDateTime>
#include <QHash>
#include <QPair>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TMailNotifier;

// What the registry keeps of a transaction beside the order itself.
struct TTransactionOptions {
    bool Manual = false;
    qint32 Cancels = 0;         // a cancellation: the TRANS_ID of the order it pulls
    QString AlertTable;         // empty: the alert's own (FilledOrders or ActiveOrders)
    bool FieldsChecked = false; // the caller found no unsafe field (UnsafeField) in this very order
};

// Turns built transactions into QUIK import lines, records them in the order registry (and what they
// do to the position book) and appends them to the .TRI file.
//
// A dispatch records all its transactions inside one database transaction (RecordTransaction) and
// releases them only after the commit (ReleaseTransactions): then their lines become pending. A line
// goes to the file before anything else happens; its "отправлена в Quik" journal line and its mail
// follow once it is wholly in the file. A line that does not reach the file within the retry period
// is given up, and the book takes back what its recording did. A rolled-back dispatch leaves no line,
// no row and no journal line behind; its numbers never reached a line and are given out again.
class TTransactionWriter {
public:
    TTransactionWriter(const TPipelineContext& ctx, TMailNotifier& mail, TOrderRegistry& registry,
                       TPositionBook& book);

    // Lines that reached the .TRI file in this run.
    qint32 LinesSent = 0;
    // Lines released and not yet completely in the file, oldest first. The first one may be partly
    // written already (FirstLineWritten bytes of it).
    QStringList PendingLines;
    qint64 FirstLineWritten = 0;

    // Called after a line reached the file or was given up (the status bar shows the counters).
    std::function<void()> OnStatusChanged;
    // Called after the open-position table changed (its grid re-reads it).
    std::function<void()> OnOpenPositionsChanged;

    // One transaction recorded and not yet released.
    struct TRecorded {
        qint32 TransId = 0;
        QString Line;
        QString JournalText;
        QString MailText;      // empty when mails of sent transactions are off
        qint64 DeadlineMs = 0; // given up when not started by then (monotonic ms)
        bool OpenPositionsChanged = false;
    };
    using TRecordOptions = TTransactionOptions;

    // Records one transaction in the registry and the book, on the caller's database transaction,
    // which the registry's scope follows. `seenMs` is when the robot first saw its alert: the line is
    // not sent later than the retry period after it. Throws StoreError when the database refuses,
    // KorvexError when the registry gives out no number, ConversionError when a price cannot be
    // written as a number or a field would break the line (nothing is recorded).
    TRecorded RecordTransaction(const TOrder& order, const TOmegaOrder& alert, qint64 seenMs,
                                const TRecordOptions& options = {});
    // After the commit: the lines become pending.
    void ReleaseTransactions(const QList<TRecorded>& done);
    // Record and release one transaction in a database transaction of its own, seen now.
    void WriteTransaction(const TOrder& order, const TOmegaOrder& alert);

    // Appends the pending lines to the .TRI file, continuing a line that a failed write left half
    // written, so that no byte reaches QUIK twice; each line wholly written is journalled and mailed
    // then. Returns true when nothing is left pending. It never throws: a failure is journalled once
    // (and its end once more), the lines stay pending. Lines never started whose deadline passed are
    // given up with a journal line each, and the book takes back what they did.
    bool FlushTransactions();
    // Gives up every pending line, a line cut short included (an orderly exit: the next start empties
    // the file, and QUIK never takes half a line). Returns how many were given up.
    int GiveUpPending(const QString& why);
    // Takes back what a transaction did to the position book (its line never reached QUIK, or QUIK
    // refused it), on the caller's database transaction and registry scope. A later exit that closed
    // a row this one opened no longer puts it back. Returns what was corrected in words. Throws
    // StoreError.
    QString TakeBackEffect(qint32 transId);
    // A transaction whose line never reached the file: its registry stage, its tOrderNumber row and
    // what it did to the position book are taken back in a database transaction of its own (a
    // cancellation leaves its order live again). Returns what was corrected in words. Throws
    // StoreError when the database refuses; nothing changed then.
    QString TakeBackUnsent(qint32 transId);
    // The reason the last flush failed; empty after a flush that wrote everything.
    QString FlushError() const { return LastFlushError; }

    // The retry period in ms (setting RetryPeriod, 1..3600 s, 30 when it does not read).
    static qint64 RetryPeriodMs(const QString& setting);

    // Why a field of the order cannot go into a line (it holds ";", a control character or one that
    // Windows-1251 has no byte for): where it came from (the settings key, or the table's window, row
    // and column title) and what it holds. Empty when every field is safe.
    static QString UnsafeField(const TOrder& order, const TSettings& settings);

    static QString TransactionLine(qint32 transId, const TOrder& order);
    static QString TransactionLine(qint32 transId, const TOrder& order, const QString& price,
                                   const QString& stopPrice);
    // "покупка" for B, "продажа" for S: the side in the operator's words.
    static QString SideWord(const QString& operation);
    static QString OperatorText(const TOrder& order);
    static QString OperatorText(const TOrder& order, const QString& price);

private:
    void GiveUp(int index, const QString& why);
    void TakeBackLater();
    TPipelineContext Ctx;
    TMailNotifier& Mail;
    TOrderRegistry& Registry;
    TPositionBook& Book;
    struct TPending {
        qint32 Id;
        qint64 DeadlineMs;
        QString JournalText;
        QString MailText;
    };
    QList<TPending> Pending; // parallel to PendingLines
    // Given up, with the book's taking back refused by the database: tried again on every flush.
    QList<QPair<qint32, QString>> Undone;
    QString LastFlushError;
    QString RetryText; // the RetryPeriod text RetryMs was read from
    qint64 RetryMs = 0;
};

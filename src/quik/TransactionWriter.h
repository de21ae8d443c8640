#pragma once

#include "pipeline/PipelineContext.h"
#include "pipeline/Records.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>
#include <functional>
#include <vector>

class TMailNotifier;

// Turns built transactions into QUIK import lines, records them and appends them to the .TRI file.
//
// A dispatch records all its transactions inside one database transaction (RecordTransaction) and
// releases them only after the commit (ReleaseTransactions): then, and only then, their lines become
// pending and the operator hears of them. A rolled-back dispatch leaves no line, no row and no
// journal line behind; its numbers are simply not used again.
class TTransactionWriter {
public:
    TTransactionWriter(const TPipelineContext& ctx, TMailNotifier& mail);

    // The TRANS_ID of the next transaction; grows by one for every transaction recorded, also when
    // its dispatch is rolled back, so that no number is ever written twice in one run.
    qint32 TransSent = 0;
    // Lines released and not yet completely in the file, oldest first. The first one may be partly
    // written already (FirstLineWritten bytes of it).
    QStringList PendingLines;
    qint64 FirstLineWritten = 0;

    // Called after every released transaction (the status bar shows the counters).
    std::function<void()> OnStatusChanged;
    // Called after the open-position table changed (its grid re-reads it).
    std::function<void()> OnOpenPositionsChanged;

    // One transaction recorded and not yet released.
    struct TRecorded {
        qint32 TransId = 0;
        QString Line;
        QString JournalText;
        QString MailText;        // empty when mails of sent transactions are off
        bool FromFilled = false; // the alert came from FilledOrders (else ActiveOrders)
        bool OpenPositionsChanged = false;
    };

    // Records one transaction in tOrderNumber and the open-position bookkeeping, on the caller's
    // database transaction. Throws StoreError when the database refuses (the number is used up),
    // ConversionError when a price cannot be written as a number (nothing is recorded).
    TRecorded RecordTransaction(const TOrder& order, const TOmegaOrder& alert);
    // After the commit: the lines become pending, the journal and the mail hear of them.
    void ReleaseTransactions(const QList<TRecorded>& done);
    // Record and release one transaction in a database transaction of its own.
    void WriteTransaction(const TOrder& order, const TOmegaOrder& alert);

    // Appends the pending lines to the .TRI file, continuing a line that a failed write left half
    // written, so that no byte reaches QUIK twice. Returns true when nothing is left pending. It
    // never throws: a failure is journalled once (and its end once more), the lines stay pending.
    // Lines that were never started and have waited longer than the retry period are given up
    // with a journal line each: a late order is worse than none.
    bool FlushTransactions();
    // The reason the last flush failed; empty after a flush that wrote everything.
    QString FlushError() const { return LastFlushError; }

    // The alert table that an executed transaction marks: its own source table.
    QString MarkTableFor(qint32 transId) const;

    static QString TransactionLine(qint32 transId, const TOrder& order);
    static QString TransactionLine(qint32 transId, const TOrder& order, const QString& price,
                                   const QString& stopPrice);
    static QString OperatorText(const TOrder& order);
    static QString OperatorText(const TOrder& order, const QString& price);

private:
    TPipelineContext Ctx;
    TMailNotifier& Mail;
    // The alert table of each transaction released in this run, by its number (numbers start at 0
    // and only grow): 'F' FilledOrders, 'A' ActiveOrders, 0 none. A byte each: a day holds many.
    std::vector<char> MarkKinds;
    QList<qint64> PendingSince; // parallel to PendingLines: when released, ms since the epoch
    QList<qint32> PendingIds;
    QString LastFlushError;
};
Q_DECLARE_TYPEINFO(TTransactionWriter::TRecorded, Q_RELOCATABLE_TYPE);

#pragma once

#include "pipeline/PipelineContext.h"
#include "pipeline/Records.h"

#include <QHash>
#include <QStringList>
#include <functional>

class TMailNotifier;

// Turns built transactions into QUIK import lines, records them and appends them to the .TRI file.
class TTransactionWriter {
public:
    TTransactionWriter(const TPipelineContext& ctx, TMailNotifier& mail);

    // The TRANS_ID of the next transaction; grows by one for every transaction written.
    qint32 TransSent = 0;
    // Lines written and not yet appended to the file.
    QStringList PendingLines;

    // Called after every transaction (the status bar shows the counters).
    std::function<void()> OnStatusChanged;
    // Called after the open-position table changed (its grid re-reads it).
    std::function<void()> OnOpenPositionsChanged;

    // Records one transaction: its tOrderNumber row first, then the pending line, the journal line,
    // the mail and the open-position bookkeeping. A failure to record throws; the line then never
    // reaches the file, and its number is not used again in this run.
    void WriteTransaction(const TOrder& order, const TOmegaOrder& alert);
    // Appends every pending line to the .TRI file in one write. Throws IoError when the file cannot
    // be opened or written; the lines then stay pending for the next flush.
    void FlushTransactions();

    // The alert table that an executed transaction marks: its own source table.
    QString MarkTableFor(qint32 transId) const;

    static QString TransactionLine(qint32 transId, const TOrder& order);
    static QString OperatorText(const TOrder& order);

private:
    TPipelineContext Ctx;
    TMailNotifier& Mail;
    QHash<qint32, QString> MarkTable;
};

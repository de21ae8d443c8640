#pragma once

#include "pipeline/PipelineContext.h"

#include <QHash>
#include <QList>
#include <QString>
#include <functional>

class TMailNotifier;
class TTransactionWriter;

// Reads QUIK's result file: stores every result in the transaction's tOrderNumber row, counts and
// journals the results sent to the server (status 0), executed (status 3) and refused (4, 5, 6), and marks
// executed alerts in the alerts database. Each reading costs what is new: it starts at the byte after the
// last complete line it handled.
class TResultReader {
public:
    TResultReader(const TPipelineContext& ctx, TMailNotifier& mail, const TTransactionWriter& writer);

    qint32 TroLinesRead = 0;
    qint32 TransAtServer = 0;
    qint32 TransDone = 0;
    qint32 TransRefused = 0; // results with status 4, 5 or 6, journalled with QUIK's description

    std::function<void()> OnStatusChanged;

    // One reading. A missing file does nothing. A line still being written (no line break yet) waits
    // for the next reading; a file that became shorter is read again from its first line. Empty
    // lines are passed over; a line without a usable TRANS_ID, or holding control bytes (a NUL among
    // them), is journalled once and passed over. A database failure throws and leaves that line for
    // the next reading, which finishes it: its counter, journal line and mail happen only once.
    void actCheckTROExecute();

private:
    void HandleLine(const QByteArray& bytes, qint64 offset, int number);
    // What of a line not yet done has already taken effect, should the reading be cut short: the
    // database updates of one reading commit together, the announcements cannot be taken back.
    struct TLineProgress {
        bool Announced = false; // counter, journal line and mail
        bool Marked = false;    // the alert row marked as executed
    };
    QHash<qint64, TLineProgress> Progress; // by the line's offset in the file
    // The alert rows one reading marks as executed, written when its lines are through.
    struct TAlertMark {
        QString Table;
        qint64 Id;
    };
    QList<TAlertMark> Marks;
    bool StatusChanged = false; // a counter moved in this reading
    TPipelineContext Ctx;
    TMailNotifier& Mail;
    const TTransactionWriter& Writer;
    qint64 ReadOffset = 0;
};

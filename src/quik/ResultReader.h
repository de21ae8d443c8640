#pragma once

#include "pipeline/PipelineContext.h"

#include <QHash>
#include <QList>
#include <QString>
#include <functional>

class TMailNotifier;
class TTransactionBook;

// Reads QUIK's result file: each answer takes effect once and only forward, through the book: it is
// stored in the transaction's tOrderNumber row, counted and journalled (sent to the server, status 0;
// executed, 3; refused, any other final status, whose open-position effect the book takes back), and
// executed alerts are marked in the alerts database. A repeated or stale answer changes nothing; an
// answer for a number this run never sent is journalled as unknown. Each reading costs what is new: it starts
// at the byte after the last complete line it handled.
class TResultReader {
public:
    TResultReader(const TPipelineContext& ctx, TMailNotifier& mail, TTransactionBook& book);

    qint32 TroLinesRead = 0;
    qint32 TransAtServer = 0;
    qint32 TransDone = 0;
    qint32 TransRefused = 0; // refused by QUIK (journalled with its description) or by a limit

    std::function<void()> OnStatusChanged;
    // Called after a refusal changed the open positions.
    std::function<void()> OnOpenPositionsChanged;
    // Told of each refusal (the window keeps the last one in sight).
    std::function<void(const QString&)> OnRefusal;

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
    // Marks of readings whose answers took effect, not yet written to the alerts database.
    QList<TAlertMark> MarksLater;
    QString MarksFailure;
    void WriteMarks();
    bool StatusChanged = false; // a counter moved in this reading
    QStringList Corrections;    // what refusals of this reading took back, journalled after its commit
    TPipelineContext Ctx;
    TMailNotifier& Mail;
    TTransactionBook& Book;
    qint64 ReadOffset = 0;
    QString ReadIdentity;  // of the file the offset belongs to
    bool Utf8Told = false; // the journal said once that the file is read as UTF-8
};

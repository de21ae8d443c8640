#pragma once

#include "pipeline/PipelineContext.h"

#include <QHash>
#include <QList>
#include <QString>
#include <functional>

class TMailNotifier;
struct TResultLine;
class TOrderRegistry;
class TTransactionWriter;

// Reads QUIK's result file: each answer takes effect once and only forward, through the order
// registry: it moves the transaction's stage, is stored in the registry and in its tOrderNumber row,
// counted and journalled (sent to the server, status 0; executed, 3; refused, any other final status,
// whose open-position effect is taken back), and executed alerts are marked in the alerts database. A
// repeated or stale answer changes nothing; an answer for a number the registry never gave out, or
// whose line never reached the file, is journalled as unknown. Each reading costs what is new: it
// starts at the byte after the last complete line it handled.
class TResultReader {
public:
    TResultReader(const TPipelineContext& ctx, TMailNotifier& mail, TOrderRegistry& registry,
                  TTransactionWriter& writer);

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
    // QUIK's answers in a result file of an earlier run, read to its end at start-up before the file
    // was emptied: they take effect as if read then. Throws as a reading does; nothing took effect then.
    void ReadEarlierAnswers(const QByteArray& bytes);

private:
    void HandleLine(const QByteArray& bytes, qint64 offset, int number);
    // QUIK's answer shown in the transaction's tOrderNumber row.
    void UpdateReport(qint32 transId, const QString& status, const TResultLine& r, qint64 orderNumber);
    // The lines of one reading, in one commit per database.
    struct TLine {
        QByteArray Bytes;
        qint64 Offset;
    };
    void HandleLines(const QList<TLine>& lines);
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
    TOrderRegistry& Registry;
    TTransactionWriter& Writer;
    bool Earlier = false; // reading an earlier run's file: lines of unknown numbers are not journalled
    qint64 ReadOffset = 0;
    QString ReadIdentity;  // of the file the offset belongs to
    bool Utf8Told = false; // the journal said once that the file is read as UTF-8
};

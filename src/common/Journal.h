#pragma once

#include "common/Clock.h"
#include "common/ConsoleEcho.h"

#include <QFile>
#include <QLocale>
#include <QObject>
#include <QStringList>
#include <memory>

// A value from data (an alert, a table, a file) as a journal line may carry it: control characters
// shown as "?" so that it can never start a line of its own, and so are characters the Windows-1251
// journal file has no byte for; cut to `maxLength` characters.
QString JournalField(const QString& value, int maxLength = 200);

// The operator's running record, copied in batches to the journal file, Windows-1251 with CR LF,
// which stays open from start-up to exit. The whole journal is the file; in memory stay the lines
// not yet written and the last KeptLines lines for the window, so a long day does not grow the
// robot without end.
class TJournal : public QObject {
    Q_OBJECT
public:
    explicit TJournal(const TClock& clock, QObject* parent = nullptr);
    ~TJournal() override;

    // Opens `path` for appending, creating it when missing. Returns false with `error` set when the
    // file can be neither opened nor created.
    bool Open(const QString& path, QString* error = nullptr);
    void Close();
    bool IsOpen() const { return File.isOpen(); }

    // Appends "date time text"; a text with CR LF becomes several lines, only the first stamped.
    void AddJournalLine(const QString& text);
    // The same for several texts of one moment (one stamp, one notice to the window).
    void AddJournalLines(const QStringList& texts);
    // Writes the lines not yet in the file. It never throws: the journal must not stop trading. A
    // failed or short write keeps the rest for the next flush (a line cut short is finished, never
    // written twice); the failure is announced once through WriteFailed, its end through
    // WriteRecovered.
    void FlushJournal();
    // The reason the journal file cannot be written now; empty while it can.
    QString WriteError() const { return Error; }

    static constexpr int KeptLines = 10000;

    int JournalLinesWritten() const { return LinesWritten; }
    // The last lines of the run (at most KeptLines of them).
    const QStringList& Lines() const { return Recent; }
    QString LastLine() const { return Recent.isEmpty() ? QString() : Recent.last(); }

    // Headless runs print every line to standard output as well (UTF-8), without ever waiting for
    // its reader.
    void SetEcho(bool on);

signals:
    void LinesAdded(const QStringList& lines);
    void WriteFailed(const QString& message);
    void WriteRecovered();

private:
    QString Stamp();

    const TClock& Clock;
    QFile File;
    // The stamp of the last line: a burst of lines within one second formats it once.
    QLocale StampLocale;
    qint64 StampSecond = -1;
    QString StampText;
    QStringList Recent;
    QStringList Unwritten;
    int LinesWritten = 0;
    qint64 PartWritten = 0; // bytes of the first unwritten line already in the file
    std::unique_ptr<TConsoleEcho> Echo;
    QString Error;
};

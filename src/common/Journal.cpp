#include "common/Journal.h"

#include "common/Codec.h"
#include "common/KorvexError.h"
#include "common/LineAppend.h"
#include "common/Regional.h"

TJournal::TJournal(const TClock& clock, QObject* parent) : QObject(parent), Clock(clock) {}

TJournal::~TJournal() {
    Close();
}

bool TJournal::Open(const QString& path, QString* error) {
    File.setFileName(path);
    // Unbuffered: a short write on a full disk then says exactly how much reached the file.
    if (!File.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error)
            *error = QStringLiteral("Не удалось открыть файл журнала %1: %2").arg(path, File.errorString());
        return false;
    }
    return true;
}

void TJournal::SetEcho(bool on) {
    constexpr int StandardOutput = 1; // the descriptor of standard output, here and on Windows
    if (on && !Echo) Echo = std::make_unique<TConsoleEcho>(StandardOutput);
    if (!on) Echo.reset();
}

void TJournal::Close() {
    if (File.isOpen()) File.close();
}

QString TJournal::Stamp() {
    // The regional long time shows whole seconds: the text changes at most once a second, and the
    // local date and time are worked out only then.
    const qint64 second = Clock.NowMs() / 1000;
    const QLocale locale;
    if (second != StampSecond || locale != StampLocale) {
        // One reading: date and time of the same moment, also across midnight.
        const QDateTime now = Clock.Now();
        StampText = Regional::ShortDate(now.date()) + QLatin1Char(' ') + Regional::LongTime(now.time()) +
                    QLatin1Char(' ');
        StampSecond = second;
        StampLocale = locale;
    }
    return StampText;
}

QString JournalField(const QString& value, int maxLength) {
    QString out = value.size() > maxLength ? value.left(maxLength) + QStringLiteral("…") : value;
    for (QChar& c : out)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || !Cp1251::Holds(c)) c = QLatin1Char('?');
    return out;
}

void TJournal::AddJournalLine(const QString& text) {
    AddJournalLines({text});
}

void TJournal::AddJournalLines(const QStringList& texts) {
    if (texts.isEmpty()) return;
    const QString stamp = Stamp();
    QStringList lines;
    lines.reserve(texts.size());
    for (const QString& text : texts) {
        if (text.contains(QLatin1Char('\r'))) { // split at CR LF; most texts hold no CR at all
            QStringList parts = text.split(QStringLiteral("\r\n"));
            for (QString& p : parts)
                p.replace(QLatin1Char('\r'), QLatin1Char('?')).replace(QLatin1Char('\n'), QLatin1Char('?'));
            parts[0] = stamp + parts[0];
            lines += parts;
        } else if (text.contains(QLatin1Char('\n'))) { // a bare line break would start an unstamped line
            lines << stamp + QString(text).replace(QLatin1Char('\n'), QLatin1Char('?'));
        } else {
            lines << stamp + text;
        }
    }
    Recent += lines;
    // Trimmed in steps, not line by line: removing from the front moves the whole list.
    if (Recent.size() > KeptLines + KeptLines / 10) Recent.remove(0, Recent.size() - KeptLines);
    Unwritten += lines;
    if (Echo) Echo->Add(lines);
    emit LinesAdded(lines);
}

void TJournal::FlushJournal() {
    if (Unwritten.isEmpty()) return;
    if (!File.isOpen()) {
        LinesWritten += Unwritten.size();
        Unwritten.clear();
        return;
    }
    qint64 written = 0, wanted = 0;
    const int done = AppendLines(File, Unwritten, PartWritten, &written, &wanted);
    Unwritten.remove(0, done);
    LinesWritten += done;
    if (written == wanted) {
        if (!Error.isEmpty()) {
            Error.clear();
            emit WriteRecovered();
        }
        return;
    }
    const QString message =
        QStringLiteral("Ошибка записи в файл журнала %1: %2").arg(File.fileName(), File.errorString());
    if (Error.isEmpty()) {
        Error = message;
        emit WriteFailed(message);
    }
    Error = message;
}

#include "common/Journal.h"

#include "common/Codec.h"
#include "common/KorvexError.h"
#include "common/Regional.h"

#include <cstdio>

TJournal::TJournal(const TClock& clock, QObject* parent) : QObject(parent), Clock(clock) {}

TJournal::~TJournal() { Close(); }

bool TJournal::Open(const QString& path, QString* error) {
    File.setFileName(path);
    // Unbuffered: a short write on a full disk then says exactly how much reached the file.
    if (!File.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error) *error = QStringLiteral("Не удалось открыть файл журнала %1: %2").arg(path, File.errorString());
        return false;
    }
    return true;
}

void TJournal::Close() {
    if (File.isOpen()) File.close();
}

void TJournal::AddJournalLine(const QString& text) {
    // Date and time are two separate readings, as the clock gives them.
    const QDate date = Clock.Now().date();
    const QTime time = Clock.Now().time();
    QStringList parts = text.split(QStringLiteral("\r\n"));
    parts[0] = Regional::ShortDate(date) + QLatin1Char(' ') + Regional::LongTime(time) + QLatin1Char(' ') + parts[0];
    AllLines += parts;
    if (Echo) {
        for (const QString& l : parts) std::fprintf(stdout, "%s\n", l.toUtf8().constData());
        std::fflush(stdout);
    }
    emit LinesAdded(parts);
}

void TJournal::FlushJournal() {
    const int n = AllLines.size();
    if (n <= LinesWritten || !File.isOpen()) {
        if (!File.isOpen()) LinesWritten = n;
        return;
    }
    QByteArray bytes;
    for (int i = LinesWritten; i < n; ++i) {
        bytes += Cp1251::Encode(AllLines[i]);
        bytes += "\r\n";
    }
    const QByteArray rest = bytes.mid(PartWritten);
    const qint64 written = std::max<qint64>(0, File.write(rest));
    qint64 consumed = PartWritten + written;
    while (LinesWritten < n) {
        const qint64 size = Cp1251::Encode(AllLines[LinesWritten]).size() + 2;
        if (consumed < size) break;
        consumed -= size;
        ++LinesWritten;
    }
    PartWritten = LinesWritten < n ? consumed : 0;
    if (written == rest.size()) {
        if (!Error.isEmpty()) {
            Error.clear();
            emit WriteRecovered();
        }
        return;
    }
    const QString message = QStringLiteral("Ошибка записи в файл журнала %1: %2").arg(File.fileName(), File.errorString());
    if (Error.isEmpty()) {
        Error = message;
        emit WriteFailed(message);
    }
    Error = message;
}

#include "common/Journal.h"

#include "common/Codec.h"
#include "common/KorvexError.h"
#include "common/Regional.h"

#include <cstdio>

TJournal::TJournal(const TClock& clock, QObject* parent) : QObject(parent), Clock(clock) {}

TJournal::~TJournal() { Close(); }

bool TJournal::Open(const QString& path, QString* error) {
    File.setFileName(path);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Append)) {
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
    if (n > LinesWritten && File.isOpen()) {
        QByteArray bytes;
        for (int i = LinesWritten; i < n; ++i) {
            bytes += Cp1251::Encode(AllLines[i]);
            bytes += "\r\n";
        }
        if (File.write(bytes) != bytes.size() || !File.flush())
            throw IoError(QStringLiteral("Ошибка записи в файл журнала %1: %2").arg(File.fileName(), File.errorString()));
    }
    LinesWritten = n;
}

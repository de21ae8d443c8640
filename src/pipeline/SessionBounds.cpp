#include "pipeline/SessionBounds.h"

#include "common/Journal.h"
#include "common/Regional.h"

std::optional<QTime> TSessionBounds::Read(TBound bound, const QString& text, TJournal& journal) {
    if (LastText[bound].isNull() || LastText[bound] != text) {
        LastText[bound] = text.isNull() ? QString(QLatin1String("")) : text;
        LastTime[bound] = Regional::ParseTimeOfDay(text);
    }
    const std::optional<QTime> time = LastTime[bound];
    std::optional<QString>& reported = Reported[bound];
    if (time) {
        reported.reset();
        return time;
    }
    if (reported != text) {
        reported = text;
        const QString setting = bound == Start ? QStringLiteral("Время начала торгов (time1)")
                                               : QStringLiteral("Время окончания торгов (time2)");
        journal.AddJournalLine(
            QStringLiteral("%1 не читается: '%2'. Ордера не проходят фильтр, пока настройка не исправлена.")
                .arg(setting, text));
    }
    return std::nullopt;
}

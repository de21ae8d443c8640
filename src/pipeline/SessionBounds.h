#pragma once

#include <QString>
#include <QTime>
#include <optional>

class TJournal;

// The trading session's two bounds, time1 and time2, as the filter reads them on every pass. A bound
// whose text is not a time of day is told to the operator once, not on every pass: the same bad text
// stays quiet until it is corrected (or changed to another bad text).
class TSessionBounds {
public:
    enum TBound { Start, End };

    // The time of day of `text`. When it is not one: std::nullopt, and one journal line naming the
    // setting unless this very text was the last one reported for that bound.
    std::optional<QTime> Read(TBound bound, const QString& text, TJournal& journal);

private:
    std::optional<QString> Reported[2];
    // The last text read for each bound and what it read as: the filter runs for every alert.
    QString LastText[2];
    std::optional<QTime> LastTime[2];
};

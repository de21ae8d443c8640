#pragma once

#include <QHash>
#include <QString>

// What the robot remembers between runs beside its settings (Korvex.state): the last alert id it
// handled in each alert table of the alerts database it watched, so that alerts that arrived while
// it was not watching can be named when watching starts again, and the last transaction number of
// the day.
class TRunState {
public:
    explicit TRunState(QString path) : FilePath(std::move(path)) {}

    // A missing or unreadable file gives an empty state.
    void Load();
    // Written whole through a temporary file, so a failure never leaves half a file. Returns false
    // when the system refused the write.
    bool Save() const;

    QString Alerts;                     // the alerts database the ids belong to
    QHash<QString, qint64> LastHandled; // alert table -> last id handled
    // The trading day of the last transaction number given out, and that number: a run continues
    // after it within the same day, so that QUIK never sees a TRANS_ID twice in one day.
    QString Day; // yyyy-MM-dd
    qint64 LastTransId = -1;

private:
    QString FilePath;
};

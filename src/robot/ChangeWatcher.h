#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>

// Tells the robot at once when the alerts database or QUIK's result file changed, so that an alert
// goes out in milliseconds instead of at the next tick. It watches the files and their folders: a
// file that is replaced or made anew (SQLite's -wal, a result file QUIK starts again) is watched
// again as soon as it reappears. Bursts of changes come out as one signal, and a change of the alerts
// database is told again a few milliseconds later, when a writer's commit has become visible.
class TChangeWatcher : public QObject {
    Q_OBJECT
public:
    explicit TChangeWatcher(QObject* parent = nullptr);

    // The database files whose change means new alerts (the database and its write-ahead log), and
    // QUIK's result file. Empty lists watch nothing.
    void Watch(const QStringList& alertFiles, const QString& resultFile);
    void Clear() { Watch({}, QString()); }
    bool IsWatching() const { return !AlertFiles.isEmpty() || !ResultFile.isEmpty(); }

signals:
    void AlertsChanged();
    void ResultsChanged();

private:
    void Rearm();
    void Changed(const QString& path);
    QFileSystemWatcher Files;
    QStringList AlertFiles;
    QString ResultFile;
    bool AlertsPending = false;
    bool ResultsPending = false;
};

#include "robot/ChangeWatcher.h"

#include <QFileInfo>
#include <QTimer>

TChangeWatcher::TChangeWatcher(QObject* parent) : QObject(parent) {
    connect(&Files, &QFileSystemWatcher::fileChanged, this, &TChangeWatcher::Changed);
    connect(&Files, &QFileSystemWatcher::directoryChanged, this, [this](const QString&) {
        // A watched file may have been made anew (or made at last): watch it again and look.
        Rearm();
        Changed(QString());
    });
}

void TChangeWatcher::Watch(const QStringList& alertFiles, const QString& resultFile) {
    if (!Files.files().isEmpty()) Files.removePaths(Files.files());
    if (!Files.directories().isEmpty()) Files.removePaths(Files.directories());
    AlertFiles.clear();
    for (const QString& f : alertFiles)
        AlertFiles << QFileInfo(f).absoluteFilePath();
    ResultFile = resultFile.isEmpty() ? QString() : QFileInfo(resultFile).absoluteFilePath();
    Rearm();
}

void TChangeWatcher::Rearm() {
    QStringList all = AlertFiles;
    if (!ResultFile.isEmpty()) all << ResultFile;
    const QStringList watched = Files.files() + Files.directories();
    for (const QString& f : all) {
        const QString dir = QFileInfo(f).absolutePath();
        if (!watched.contains(dir) && QFileInfo::exists(dir)) Files.addPath(dir);
        if (!watched.contains(f) && QFileInfo::exists(f)) Files.addPath(f);
    }
}

void TChangeWatcher::Changed(const QString& path) {
    const bool alerts = path.isEmpty() || AlertFiles.contains(path);
    const bool results = path.isEmpty() || path == ResultFile;
    if (!QFileInfo::exists(path)) Rearm();
    // Coalesced: one signal for all the changes that arrived before the event loop comes round.
    if (alerts && !AlertsPending && !AlertFiles.isEmpty()) {
        AlertsPending = true;
        QTimer::singleShot(0, this, [this] {
            AlertsPending = false;
            emit AlertsChanged();
        });
        // SQLite writes the log first and publishes the commit in its shared-memory index only after
        // the log is on disk, which no file event tells: look again a few times, less often as the
        // slowest disks take longer.
        for (int ms : {3, 15, 60, 200, 500})
            QTimer::singleShot(ms, Qt::PreciseTimer, this, [this] { emit AlertsChanged(); });
    }
    if (results && !ResultsPending && !ResultFile.isEmpty()) {
        ResultsPending = true;
        QTimer::singleShot(0, this, [this] {
            ResultsPending = false;
            emit ResultsChanged();
        });
    }
}

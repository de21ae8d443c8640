#pragma once

#include "pipeline/PipelineContext.h"

#include <QByteArray>
#include <QLockFile>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>

class TOrderRegistry;
class TTransactionWriter;
class TResultReader;

// What a start must settle before anything is sent: no second robot on the same workdir or the same
// .TRI, the .TRI and .TRO of the earlier run read to their end (nothing QUIK appends meanwhile is
// lost), and the day's earlier transactions taken over from the registry: a line that reached the
// file is known as sent, one that did not is named and taken back, QUIK's answers the earlier run
// never read take effect.
class TStartupRecovery {
public:
    TStartupRecovery(const TPipelineContext& ctx, TOrderRegistry& registry, TTransactionWriter& writer,
                     TResultReader& reader);
    ~TStartupRecovery();

    // The lock of a workdir (Korvex.lock in it), taken before the journal is opened. Null, with the
    // reason naming the other robot's process, when another robot holds it.
    static std::unique_ptr<QLockFile> LockWorkDir(const QString& folder, QString* error);
    // The lock of the .TRI's path; false, with the reason naming the other robot's folder and
    // process, when another robot holds it.
    bool LockTransactionFile(const QString& triPath, QString* error);

    // Moves the .TRI and .TRO aside (atomically, so that an answer QUIK appends meanwhile lands in
    // the new file), leaves empty ones in their place and empties the .TRR. A failure is journalled.
    void PrepareFiles();
    // At the first connect: reads the day's registry and settles the earlier run's files. Throws
    // StoreError when the database refuses; it is tried again, and the files moved aside are kept
    // until it succeeds.
    void Recover(qint64 runId);
    bool Done() const { return Recovered; }

private:
    QStringList AsideFiles(const QString& path) const;
    const TPipelineContext& Ctx;
    TOrderRegistry& Registry;
    TTransactionWriter& Writer;
    TResultReader& Reader;
    std::unique_ptr<QLockFile> TriLock;
    QString TriLockOwnerPath;
    // What could not be moved aside was read here before the file was emptied.
    QByteArray TriRead, TroRead;
    bool TriReadToday = false;
    bool Recovered = false;
};

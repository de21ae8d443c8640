#include "robot/StartupRecovery.h"

#include "common/Clock.h"
#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "quik/OrderRegistry.h"
#include "quik/PositionBook.h"
#include "quik/ResultReader.h"
#include "quik/TransactionWriter.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {
void CreateFolderOneLevel(const QString& filePath) {
    const QString folder = QFileInfo(filePath).path();
    QDir dir(folder);
    if (!dir.exists()) {
        // Only the last folder is made: a missing parent shows up as the failure to create the file.
        QDir parent = QFileInfo(QDir::cleanPath(folder)).dir();
        parent.mkdir(QFileInfo(QDir::cleanPath(folder)).fileName());
    }
}

QString TrrPath(const QString& troPath) {
    const QFileInfo fi(troPath);
    const QString name = fi.fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? name : name.left(dot);
    return fi.dir().filePath(base + QStringLiteral(".TRR"));
}

// Creates the file when it is missing, never shortening one that is there (QUIK may have begun it).
void EnsureFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        throw IoError(QStringLiteral("Не удалось создать файл %1: %2").arg(path, f.errorString()));
}

void Truncate(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw IoError(QStringLiteral("Не удалось создать файл %1: %2").arg(path, f.errorString()));
}

// The TRANS_IDs of the whole lines of a .TRI: QUIK never took a line the run did not finish.
QSet<qint64> TransIds(const QByteArray& bytes) {
    QSet<qint64> ids;
    const QList<QByteArray> lines = bytes.left(bytes.lastIndexOf('\n') + 1).split('\n');
    for (const QByteArray& line : lines) {
        if (!line.startsWith("TRANS_ID =")) continue;
        const int end = line.indexOf(';');
        bool ok = false;
        const qint64 id = line.mid(10, end < 0 ? -1 : end - 10).trimmed().toLongLong(&ok);
        if (ok) ids.insert(id);
    }
    return ids;
}

QString OwnerText(const QLockFile& lock, const QString& ownerFile) {
    qint64 pid = 0;
    QString host, app;
    QString text;
    if (lock.getLockInfo(&pid, &host, &app))
        text = QStringLiteral("процесс %1 на %2").arg(pid).arg(host.isEmpty() ? QStringLiteral("?") : host);
    QFile f(ownerFile);
    if (f.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = f.readAll().split('\n');
        if (lines.size() > 1 && !lines[1].trimmed().isEmpty())
            text += QStringLiteral(", рабочая папка ") + QString::fromUtf8(lines[1].trimmed());
    }
    return text.isEmpty() ? QStringLiteral("другой процесс") : text;
}
} // namespace

TStartupRecovery::TStartupRecovery(const TPipelineContext& ctx, TOrderRegistry& registry,
                                   TTransactionWriter& writer, TResultReader& reader)
    : Ctx(ctx), Registry(registry), Writer(writer), Reader(reader) {}

TStartupRecovery::~TStartupRecovery() {
    if (TriLock && TriLock->isLocked()) QFile::remove(TriLockOwnerPath);
}

std::unique_ptr<QLockFile> TStartupRecovery::LockWorkDir(const QString& folder, QString* error) {
    auto lock = std::make_unique<QLockFile>(QDir(folder).filePath(QStringLiteral("Korvex.lock")));
    // Never stale by age: a robot that runs for days keeps its lock; one that died is found dead.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) return lock;
    if (error)
        *error = lock->error() == QLockFile::LockFailedError
                     ? QStringLiteral("В папке %1 уже работает Korvex (%2). Второй запуск на той же рабочей "
                                      "папке не допускается: он испортил бы файлы транзакций первого.")
                           .arg(QDir::toNativeSeparators(folder), OwnerText(*lock, QString()))
                     : QStringLiteral("Не удалось взять блокировку рабочей папки %1 (файл Korvex.lock): "
                                      "папка недоступна для записи.")
                           .arg(QDir::toNativeSeparators(folder));
    return nullptr;
}

bool TStartupRecovery::LockTransactionFile(const QString& triPath, QString* error) {
    const QString path = QFileInfo(triPath).absoluteFilePath() + QStringLiteral(".lock");
    CreateFolderOneLevel(path);
    auto lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (error)
            *error =
                lock->error() == QLockFile::LockFailedError
                    ? QStringLiteral("Файл транзакций %1 уже занят другим Korvex (%2). Два робота на одном "
                                     "файле транзакций дали бы Quik одни и те же номера.")
                          .arg(QDir::toNativeSeparators(triPath), OwnerText(*lock, path + ".owner"))
                    : QStringLiteral("Не удалось взять блокировку файла транзакций %1 (файл %2).")
                          .arg(QDir::toNativeSeparators(triPath), QDir::toNativeSeparators(path));
        return false;
    }
    TriLockOwnerPath = path + QStringLiteral(".owner");
    QFile owner(TriLockOwnerPath);
    if (owner.open(QIODevice::WriteOnly | QIODevice::Truncate))
        owner.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                    QDir::currentPath().toUtf8() + '\n');
    TriLock = std::move(lock);
    return true;
}

QStringList TStartupRecovery::AsideFiles(const QString& path) const {
    const QFileInfo fi(path);
    QStringList out;
    const QStringList names =
        fi.dir().entryList({fi.fileName() + QStringLiteral(".*.prev")}, QDir::Files, QDir::Name);
    for (const QString& n : names)
        out << fi.dir().filePath(n);
    return out;
}

void TStartupRecovery::PrepareFiles() {
    const QString tri = LocalFilePath(Ctx.Settings.pathTRI);
    const QString tro = LocalFilePath(Ctx.Settings.pathTRO);
    const QString stamp = QString::number(Ctx.Clock.NowMs());
    // Moved, not copied and emptied: whatever QUIK appends from now on lands in the new file, and the
    // old one is read to its end at the first connect.
    auto aside = [&](const QString& path, QByteArray& readInstead, bool* today) {
        CreateFolderOneLevel(path);
        const QFileInfo fi(path);
        if (fi.exists() && fi.size() > 0) {
            if (!QFile::rename(path, path + QLatin1Char('.') + stamp + QStringLiteral(".prev"))) {
                // Held open by QUIK: read to its end, then emptied.
                QFile f(path);
                if (f.open(QIODevice::ReadOnly)) readInstead += f.readAll();
                if (today) *today = fi.lastModified().date() == Ctx.Clock.Now().date();
                Truncate(path);
                return;
            }
        }
        EnsureFile(path);
    };
    try {
        aside(tri, TriRead, &TriReadToday);
        aside(tro, TroRead, nullptr);
        Truncate(TrrPath(tro));
    } catch (const std::exception& e) {
        Ctx.Journal.AddJournalLine(
            QStringLiteral("При создании файлов транзакций %1, %2 произошла ошибка: \r\n%3")
                .arg(Ctx.Settings.pathTRI, Ctx.Settings.pathTRO, ErrorText(e)));
    }
}

void TStartupRecovery::Recover(qint64 runId) {
    const QSqlDatabase db = Ctx.DM.conQuikData();
    for (const QString& line : TOrderRegistry::EnsureTables(db))
        Ctx.Journal.AddJournalLine(line);
    const QString side = TPositionBook::EnsurePositionSide(db);
    if (!side.isEmpty()) Ctx.Journal.AddJournalLine(side);

    const QString today = Ctx.Clock.Now().date().toString(Qt::ISODate);
    const QString tri = LocalFilePath(Ctx.Settings.pathTRI);
    const QString tro = LocalFilePath(Ctx.Settings.pathTRO);
    const QStringList triAside = AsideFiles(tri), troAside = AsideFiles(tro);
    // The lines the earlier runs left in the .TRI; today's numbers are never given out again, even
    // if the registry lost them.
    QSet<qint64> inFile = TransIds(TriRead);
    qint64 highestToday = 0;
    if (TriReadToday)
        for (const qint64 id : inFile)
            highestToday = std::max(highestToday, id);
    for (const QString& path : triAside) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            throw IoError(QStringLiteral("Не удалось прочитать файл %1: %2").arg(path, f.errorString()));
        const QSet<qint64> ids = TransIds(f.readAll());
        inFile += ids;
        if (QFileInfo(path).lastModified().date() == Ctx.Clock.Now().date())
            for (const qint64 id : ids)
                highestToday = std::max(highestToday, id);
    }

    Registry.Load(today, runId, highestToday);
    if (Registry.All().empty()) {
        // The first start of a trading day: the report of QUIK's answers starts empty, and what the
        // earlier days left is not carried.
        RunSql(db, {QStringLiteral("DELETE FROM tOrderNumber")});
        const TSqlRows old =
            RunSql(db,
                   {QStringLiteral("SELECT count(*) FROM tOrderRegistry WHERE day < :day and market = 0 and "
                                   "(stage = :accepted or stage = :pending) and action LIKE 'NEW%'")},
                   {{"day", today},
                    {"accepted", static_cast<int>(TOrderStage::Accepted)},
                    {"pending", static_cast<int>(TOrderStage::CancelPending)}});
        const int dropped = old.Rows.empty() ? 0 : old.Rows.front().value(0).toInt();
        if (dropped > 0)
            Ctx.Journal.AddJournalLine(
                QStringLiteral("Новый торговый день: заявки прошлого дня (%1) не перенесены.").arg(dropped));
    }

    // The earlier runs' transactions whose line had not been seen in the file.
    QList<qint32> written, unsent;
    for (const TOrderRecord& r : Registry.All())
        if (r.Stage == TOrderStage::Recorded) (inFile.contains(r.TransId) ? written : unsent) << r.TransId;
    Registry.LinesWritten(written);
    {
        TDbTransaction tx(db);
        Registry.SaveLinesWritten();
        tx.Commit();
    }
    for (const qint32 id : unsent) {
        const TOrderRecord r = *Registry.Find(id);
        QString taken = Writer.TakeBackUnsent(id);
        if (!taken.isEmpty()) taken = QStringLiteral(" Отменено: ") + taken + QLatin1Char('.');
        Ctx.Journal.AddJournalLine(
            QStringLiteral("Транзакция номер %1 прошлого запуска (ордер # %2, счет %3) не "
                           "отправлена в Quik: строки нет в файле транзакций.%4")
                .arg(QString::number(id), QString::number(r.AlertId), JournalField(r.Code), taken));
    }
    if (!unsent.isEmpty())
        Ctx.Journal.AddJournalLine(
            QStringLiteral("Транзакций прошлого запуска, не отправленных в Quik: %1.").arg(unsent.size()));

    // QUIK's answers the earlier run did not read take effect now.
    if (!TroRead.isEmpty()) Reader.ReadEarlierAnswers(TroRead);
    for (const QString& path : troAside) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            throw IoError(QStringLiteral("Не удалось прочитать файл %1: %2").arg(path, f.errorString()));
        Reader.ReadEarlierAnswers(f.readAll());
    }
    for (const QString& path : triAside + troAside)
        QFile::remove(path);
    TriRead.clear();
    TroRead.clear();

    int carried = 0;
    for (const TOrderRecord* r : Registry.LiveOrders(today))
        if (r->RunId != Registry.RunId()) ++carried;
    if (carried > 0)
        Ctx.Journal.AddJournalLine(
            QStringLiteral("Перенесено заявок прошлого запуска, живущих в Quik: %1. Их можно снять.")
                .arg(carried));
    if (Registry.NextTransId() > 1)
        Ctx.Journal.AddJournalLine(
            QStringLiteral("Номера транзакций продолжаются с %1: в течение торгового дня они не повторяются.")
                .arg(Registry.NextTransId()));
    Recovered = true;
}

#include "data/Connection.h"

#include "common/FileNames.h"
#include "common/KorvexError.h"
#include "data/SqlRun.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

TConnectionTarget ConnectionTargetFor(const QString& setting) {
    const QString lower = setting.trimmed().toLower();
    if (lower.startsWith(QLatin1String("odbc:"))) return {QStringLiteral("QODBC"), setting.trimmed().mid(5)};
    if (lower.endsWith(QLatin1String(".mdb")) || lower.endsWith(QLatin1String(".accdb")))
        return {QStringLiteral("QODBC"),
                QStringLiteral("DRIVER={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=%1").arg(setting)};
    return {QStringLiteral("QSQLITE"), LocalFilePath(setting)};
}

bool OpenConnection(const QString& connectionName, const QString& setting) {
    const TConnectionTarget target = ConnectionTargetFor(setting);
    ForgetStatements(connectionName);
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        if (db.isValid()) {
            db.close();
            if (db.driverName() != target.Driver) {
                db = QSqlDatabase();
                QSqlDatabase::removeDatabase(connectionName);
            }
        }
    }
    QSqlDatabase db = QSqlDatabase::contains(connectionName)
                          ? QSqlDatabase::database(connectionName, false)
                          : QSqlDatabase::addDatabase(target.Driver, connectionName);
    if (!db.isValid())
        throw KorvexError(QStringLiteral("Драйвер базы данных %1 недоступен").arg(target.Driver));
    if (target.Driver == QLatin1String("QSQLITE")) {
        QFileInfo fi(target.DatabaseName);
        if (target.DatabaseName.isEmpty() || !fi.exists() || !fi.isFile())
            throw KorvexError(QStringLiteral("Файл базы данных не найден: %1").arg(target.DatabaseName));
        // The platform and QUIK write the same files: wait for their locks instead of failing.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    }
    db.setDatabaseName(target.DatabaseName);
    if (!db.open()) throw KorvexError(db.lastError().text());
    if (target.Driver != QLatin1String("QSQLITE")) return false;
    // WAL lets the platform and QUIK write while the robot reads (a rollback journal makes every writer
    // wait for the readers). The mode stays in the file: it is set once, and the caller says so.
    QSqlQuery q(db);
    // A file that is not a database fails here rather than at the first table.
    auto run = [&](const QString& text) {
        if (!q.exec(text) || !q.next()) {
            const QString msg = q.lastError().text();
            q.finish();
            db.close();
            throw KorvexError(
                msg.isEmpty() ? QStringLiteral("Файл не является базой данных: %1").arg(target.DatabaseName)
                              : msg);
        }
        const QString mode = q.value(0).toString().toLower();
        q.finish();
        return mode;
    };
    if (run(QStringLiteral("PRAGMA journal_mode")) == QLatin1String("wal")) return false;
    if (run(QStringLiteral("PRAGMA journal_mode=WAL")) != QLatin1String("wal")) {
        db.close();
        throw KorvexError(QStringLiteral("Режим WAL для файла %1 не включен").arg(target.DatabaseName));
    }
    return true;
}

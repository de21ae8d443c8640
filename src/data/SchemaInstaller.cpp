#include "data/SchemaInstaller.h"

#include "common/KorvexError.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

QString SchemaText(TDatabaseKind kind) {
    Q_INIT_RESOURCE(schema);
    QFile f(kind == TDatabaseKind::Alerts ? QStringLiteral(":/schema/alerts.sql")
                                          : QStringLiteral(":/schema/trading.sql"));
    if (!f.open(QIODevice::ReadOnly)) throw KorvexError(QStringLiteral("Схема базы данных недоступна"));
    return QString::fromUtf8(f.readAll());
}

void CreateDatabase(const QString& path, TDatabaseKind kind) {
    if (QFileInfo::exists(path))
        throw KorvexError(QStringLiteral("Файл %1 уже существует: база данных не создана").arg(path));
    const QString schema = SchemaText(kind);
    const QString name = QStringLiteral("schema-") + QUuid::createUuid().toString();
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QString statement;
            for (const QString& line : schema.split(QLatin1Char('\n'))) {
                if (line.trimmed().startsWith(QLatin1String("--"))) continue;
                statement += line + QLatin1Char('\n');
                if (line.trimmed().endsWith(QLatin1Char(';'))) {
                    QSqlQuery q(db);
                    if (!q.exec(statement)) {
                        error = q.lastError().text() + QStringLiteral(" [") + statement.trimmed() +
                                QLatin1Char(']');
                        break;
                    }
                    statement.clear();
                }
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!error.isEmpty()) {
        QFile::remove(path);
        throw KorvexError(QStringLiteral("Не удалось создать базу данных %1: %2").arg(path, error));
    }
}

QStringList SchemaStatementsFor(TDatabaseKind kind, const QString& table) {
    QStringList out;
    QString statement;
    for (const QString& line : SchemaText(kind).split(QLatin1Char('\n'))) {
        if (line.trimmed().startsWith(QLatin1String("--"))) continue;
        statement += line + QLatin1Char('\n');
        if (!line.trimmed().endsWith(QLatin1Char(';'))) continue;
        const QString s = statement.trimmed();
        statement.clear();
        const QString head = s.section(QLatin1Char('('), 0, 0).simplified();
        // "CREATE TABLE name" or "CREATE [UNIQUE] INDEX x ON name"
        if (head.compare(QStringLiteral("CREATE TABLE ") + table, Qt::CaseInsensitive) == 0 ||
            (head.startsWith(QLatin1String("CREATE"), Qt::CaseInsensitive) &&
             head.endsWith(QStringLiteral(" ON ") + table, Qt::CaseInsensitive)))
            out << s.left(s.size() - 1);
    }
    return out;
}

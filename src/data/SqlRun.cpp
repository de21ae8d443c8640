#include "data/SqlRun.h"

#include "common/KorvexError.h"

#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

namespace {
QHash<QString, quint64>& WriteCounts() {
    static QHash<QString, quint64> counts;
    return counts;
}

bool IsSqlite(const QSqlDatabase& db) {
    return db.driverName() == QLatin1String("QSQLITE");
}

// A text the robot binds is a text, never SQL NULL: an empty setting or a NULL read from a row must
// match the empty text it was recorded as (NULL = NULL is never true).
QVariant Bindable(const QVariant& v) {
    if (v.typeId() == QMetaType::QString && v.toString().isNull()) return QString(QLatin1String(""));
    return v;
}

TSqlRows Finish(QSqlQuery& q, const QSqlDatabase& db) {
    TSqlRows rows;
    if (q.isSelect()) {
        while (q.next())
            rows.Rows.push_back(q.record());
        if (q.lastError().isValid()) throw StoreError(q.lastError().text());
    } else {
        rows.Affected = q.numRowsAffected();
        NoteLocalWrite(db.connectionName());
    }
    q.finish();
    return rows;
}

// Prepared statements kept per connection and statement text: preparing costs more than running
// the short statements of a dispatch. A statement is finished after every use, so keeping it holds
// no snapshot; the cache is dropped before its connection closes.
QHash<QString, QHash<QString, QSqlQuery>>& Statements() {
    static QHash<QString, QHash<QString, QSqlQuery>> statements;
    return statements;
}
constexpr int StatementsPerConnection = 200;

QSqlQuery& Prepared(const QSqlDatabase& db, const QString& text) {
    auto& mine = Statements()[db.connectionName()];
    auto it = mine.find(text);
    if (it != mine.end()) return it.value();
    if (mine.size() >= StatementsPerConnection) mine.clear(); // statements built from data: start afresh
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(text)) throw StoreError(q.lastError().text());
    return mine.insert(text, q).value();
}

TSqlRows Run(const QSqlDatabase& db, QSqlQuery& q) {
    if (!q.exec()) {
        const QString error = q.lastError().text();
        q.finish();
        throw StoreError(error);
    }
    try {
        return Finish(q, db);
    } catch (...) {
        q.finish();
        throw;
    }
}
} // namespace

TSqlRows RunSql(const QSqlDatabase& db, const QStringList& lines,
                std::initializer_list<std::pair<const char*, QVariant>> binds) {
    QSqlQuery& q = Prepared(db, lines.join(QLatin1Char('\n')));
    for (const auto& [name, value] : binds)
        q.bindValue(QLatin1Char(':') + QLatin1String(name), Bindable(value));
    return Run(db, q);
}

TSqlRows RunSqlPositional(const QSqlDatabase& db, const QString& text, const QVariantList& binds) {
    QSqlQuery& q = Prepared(db, text);
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, Bindable(binds[i]));
    return Run(db, q);
}

void ForgetStatements(const QString& connectionName) {
    Statements().remove(connectionName);
}

quint64 LocalWriteCount(const QString& connectionName) {
    return WriteCounts().value(connectionName);
}
void NoteLocalWrite(const QString& connectionName) {
    ++WriteCounts()[connectionName];
}

qint64 DatabaseChangeStamp(const QSqlDatabase& db) {
    if (!db.isOpen() || !IsSqlite(db)) return -1;
    try {
        TSqlRows r = RunSql(db, {QStringLiteral("PRAGMA data_version")});
        if (!r.next()) return -1;
        // The engine's counter in the high bits, ours in the low: either changing changes the stamp.
        return (r.value(0).toLongLong() << 24) ^
               static_cast<qint64>(LocalWriteCount(db.connectionName()) & 0xFFFFFF);
    } catch (const std::exception&) {
        return -1;
    }
}

TDbTransaction::TDbTransaction(const QSqlDatabase& db) : Db(db) {
    if (IsSqlite(Db))
        RunSql(Db, {QStringLiteral("BEGIN IMMEDIATE")});
    else if (!Db.transaction())
        throw StoreError(Db.lastError().text());
    Open = true;
}

TDbTransaction::~TDbTransaction() {
    if (!Open) return;
    try {
        if (IsSqlite(Db))
            RunSql(Db, {QStringLiteral("ROLLBACK")});
        else
            Db.rollback();
    } catch (const std::exception&) {
        // A failed statement may have ended the transaction already.
    }
    NoteLocalWrite(Db.connectionName());
}

void TDbTransaction::Commit() {
    if (IsSqlite(Db))
        RunSql(Db, {QStringLiteral("COMMIT")}); // throws; the destructor rolls back
    else if (!Db.commit())
        throw StoreError(Db.lastError().text());
    Open = false;
    NoteLocalWrite(Db.connectionName());
}

QVariant ColumnValue(const QSqlRecord& rec, const QString& column) {
    const int i = rec.indexOf(column); // QSqlRecord compares names without regard to case
    if (i >= 0) return rec.value(i);
    throw KorvexError(QStringLiteral("Поле '%1' не найдено").arg(column));
}

int ColumnInt(const QSqlRecord& rec, const QString& column) {
    QVariant v = ColumnValue(rec, column);
    if (v.isNull()) return 0;
    bool ok = false;
    int r = v.toInt(&ok);
    if (!ok) throw ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(v.toString()));
    return r;
}

qint64 ColumnInt64(const QSqlRecord& rec, const QString& column) {
    QVariant v = ColumnValue(rec, column);
    if (v.isNull()) return 0;
    bool ok = false;
    qint64 r = v.toLongLong(&ok);
    if (!ok) throw ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(v.toString()));
    return r;
}

double ColumnDouble(const QSqlRecord& rec, const QString& column) {
    QVariant v = ColumnValue(rec, column);
    if (v.isNull()) return 0;
    bool ok = false;
    double r = v.toDouble(&ok);
    if (!ok)
        throw ConversionError(QStringLiteral("'%1' is not a valid floating point value").arg(v.toString()));
    return r;
}

QString ColumnText(const QSqlRecord& rec, const QString& column) {
    QVariant v = ColumnValue(rec, column);
    // Never a null QString: bound as a parameter, a null would become SQL NULL and match nothing.
    return v.isNull() ? QString(QLatin1String("")) : v.toString();
}

bool ColumnBool(const QSqlRecord& rec, const QString& column) {
    QVariant v = ColumnValue(rec, column);
    if (v.isNull()) return false;
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
    }
    return v.toLongLong() != 0;
}

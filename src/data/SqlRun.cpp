#include "data/SqlRun.h"

#include "common/KorvexError.h"

#include <QSqlError>
#include <QSqlRecord>

QSqlQuery RunSql(const QSqlDatabase& db, const QStringList& lines,
                 std::initializer_list<std::pair<const char*, QVariant>> binds) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const QString text = lines.join(QLatin1Char('\n'));
    if (!q.prepare(text)) throw KorvexError(q.lastError().text());
    for (const auto& [name, value] : binds) q.bindValue(QLatin1Char(':') + QLatin1String(name), value);
    if (!q.exec()) throw KorvexError(q.lastError().text());
    return q;
}

QVariant ColumnValue(const QSqlRecord& rec, const QString& column) {
    for (int i = 0; i < rec.count(); ++i)
        if (rec.fieldName(i).compare(column, Qt::CaseInsensitive) == 0) return rec.value(i);
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

double ColumnDouble(const QSqlRecord& rec, const QString& column) {
    QVariant v = ColumnValue(rec, column);
    if (v.isNull()) return 0;
    bool ok = false;
    double r = v.toDouble(&ok);
    if (!ok) throw ConversionError(QStringLiteral("'%1' is not a valid floating point value").arg(v.toString()));
    return r;
}

QString ColumnText(const QSqlRecord& rec, const QString& column) {
    QVariant v = ColumnValue(rec, column);
    return v.isNull() ? QString() : v.toString();
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

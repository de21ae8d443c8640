#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <initializer_list>
#include <utility>

// Runs a statement made of text lines on a connection, every value bound as a parameter (":name"
// placeholders). Throws KorvexError with the engine's message on failure.
QSqlQuery RunSql(const QSqlDatabase& db, const QStringList& lines,
                 std::initializer_list<std::pair<const char*, QVariant>> binds = {});

// The value of a column found by name without regard to case; a NULL reads as an invalid variant.
// Throws KorvexError when the column does not exist.
QVariant ColumnValue(const class QSqlRecord& rec, const QString& column);

// Conversions with the rules of the alert rows: a NULL reads as 0, an empty text, a null date-time.
int ColumnInt(const QSqlRecord& rec, const QString& column);
double ColumnDouble(const QSqlRecord& rec, const QString& column);
QString ColumnText(const QSqlRecord& rec, const QString& column);
bool ColumnBool(const QSqlRecord& rec, const QString& column);

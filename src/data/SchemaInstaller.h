#pragma once

#include <QString>
#include <QStringList>

enum class TDatabaseKind { Alerts, Trading };

// Creates a new SQLite database file with the tables of schema/alerts.sql or schema/trading.sql.
// Refuses (throws KorvexError) when the file already exists, so no database is ever overwritten.
void CreateDatabase(const QString& path, TDatabaseKind kind);

// The schema text as shipped with the program.
QString SchemaText(TDatabaseKind kind);

// The schema's statements (comments left out) that create `table` or an index on it, in their order.
QStringList SchemaStatementsFor(TDatabaseKind kind, const QString& table);

#pragma once

#include <QSqlDatabase>
#include <QString>

// How a database setting becomes a connection: a path ending in .mdb or .accdb is an Access file
// reached through ODBC; "odbc:" followed by a connection string is any ODBC source; anything else is
// an SQLite file, which must already exist (a wrong path never creates an empty database).
struct TConnectionTarget {
    QString Driver;       // "QSQLITE" or "QODBC"
    QString DatabaseName; // file path or ODBC connection string
};

TConnectionTarget ConnectionTargetFor(const QString& setting);

// (Re)opens the named connection on the target of `setting`; an SQLite file is put in WAL mode, which
// stays in the file. True when this call changed the file's mode. Throws KorvexError with the engine's
// message when the database cannot be opened.
bool OpenConnection(const QString& connectionName, const QString& setting);

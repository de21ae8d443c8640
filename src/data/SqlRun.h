#pragma once

#include <QSqlDatabase>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>
#include <initializer_list>
#include <utility>
#include <vector>

// The rows of one finished statement. The statement itself is gone by the time the caller sees them:
// an open SELECT would pin its connection to an old snapshot of a WAL database (new rows unseen,
// writes refused as stale), and would hold back the commit of the connection's own writes.
class TSqlRows {
public:
    // Moves to the next row; false after the last one.
    bool next() { return ++Pos < static_cast<int>(Rows.size()); }
    const QSqlRecord& record() const { return Rows[Pos]; }
    QVariant value(int column) const { return Rows[Pos].value(column); }
    int size() const { return static_cast<int>(Rows.size()); }
    int numRowsAffected() const { return Affected; }

    std::vector<QSqlRecord> Rows;
    int Affected = 0;
    QVariant LastInsertId; // of an INSERT, where the driver tells it

private:
    int Pos = -1;
};

// Runs a statement made of text lines on a connection, every value bound as a parameter (":name"
// placeholders), reads all its rows and finishes it. Throws StoreError with the engine's message on
// failure.
TSqlRows RunSql(const QSqlDatabase& db, const QStringList& lines,
                std::initializer_list<std::pair<const char*, QVariant>> binds = {});
// The same with positional "?" placeholders.
TSqlRows RunSqlPositional(const QSqlDatabase& db, const QString& text, const QVariantList& binds);

// Drops the prepared statements of a connection; done before the connection closes or reopens.
void ForgetStatements(const QString& connectionName);

// How many writes this program has made on a connection: the database's own change counter does not
// count a connection's own writes, so a table that must notice them adds this count.
quint64 LocalWriteCount(const QString& connectionName);
void NoteLocalWrite(const QString& connectionName);

// A stamp that changes whenever anything in the database changed: another connection's commit or a
// write of this program. -1 when the engine cannot tell (every reading must then look).
qint64 DatabaseChangeStamp(const QSqlDatabase& db);

// A stamp of one table that changes whenever another connection commits anything to the database or
// this program writes the table through its grids (the writers that report it with NoteTableWrite).
// -1 when the engine cannot tell.
qint64 TableChangeStamp(const QSqlDatabase& db, const QString& table);
// The same for several tables of one database at one moment (one look at the database).
std::vector<qint64> TableChangeStamps(const QSqlDatabase& db, const QStringList& tables);
void NoteTableWrite(const QString& connectionName, const QString& table);

// One database transaction. SQLite takes the write lock at once (BEGIN IMMEDIATE), so waiting for
// another writer happens up front under the busy timeout and never ends in a stale snapshot. The
// destructor rolls back what was not committed. Both throw StoreError on failure.
class TDbTransaction {
public:
    explicit TDbTransaction(const QSqlDatabase& db);
    ~TDbTransaction();
    TDbTransaction(const TDbTransaction&) = delete;
    TDbTransaction& operator=(const TDbTransaction&) = delete;
    void Commit();

private:
    QSqlDatabase Db;
    bool Open = false;
};

// The value of a column found by name without regard to case; a NULL reads as an invalid variant.
// Throws KorvexError when the column does not exist.
QVariant ColumnValue(const QSqlRecord& rec, const QString& column);

// Conversions with the rules of the alert rows: a NULL reads as 0, an empty (never null) text, a
// null date-time. A NULL text therefore binds as '' and matches a recorded empty text.
int ColumnInt(const QSqlRecord& rec, const QString& column);
qint64 ColumnInt64(const QSqlRecord& rec, const QString& column);
double ColumnDouble(const QSqlRecord& rec, const QString& column);
QString ColumnText(const QSqlRecord& rec, const QString& column);
bool ColumnBool(const QSqlRecord& rec, const QString& column);
// The same rules for a value already taken from its row.
qint64 Int64Value(const QVariant& v);
double DoubleValue(const QVariant& v);
QString TextValue(const QVariant& v);

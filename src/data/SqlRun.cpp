#include "data/SqlRun.h"

#include "common/KorvexError.h"

#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace {
// A map: a statement keeps a pointer to its connection's count, which no later insert moves.
std::map<QString, quint64>& WriteCounts() {
    static std::map<QString, quint64> counts;
    return counts;
}

bool IsSqlite(const QSqlDatabase& db) {
    return db.driverName() == QLatin1String("QSQLITE");
}

// A text the robot binds is a text, never SQL NULL: an empty setting or a NULL read from a row must
// match the empty text it was recorded as (NULL = NULL is never true).
const QVariant& Bindable(const QVariant& v) {
    static const QVariant empty = QString(QLatin1String(""));
    if (v.typeId() == QMetaType::QString && static_cast<const QString*>(v.constData())->isNull())
        return empty;
    return v;
}

// The engine's words for a failure; a driver that fails without a word still gets a reason.
QString Reason(const QSqlError& e, const QSqlDatabase& db) {
    const QString text = e.text().trimmed();
    if (!text.isEmpty()) return text;
    // An ODBC connection string may carry a password: only a file's name is shown.
    const QString where = db.driverName() == QLatin1String("QSQLITE") ? db.databaseName() : db.driverName();
    return QStringLiteral("база данных %1 не ответила (драйвер не сообщил причину%2)")
        .arg(where,
             e.nativeErrorCode().isEmpty() ? QString() : QStringLiteral(", код ") + e.nativeErrorCode());
}

TSqlRows Finish(QSqlQuery& q, const QSqlDatabase& db, quint64* writes) {
    TSqlRows rows;
    if (q.isSelect()) {
        while (q.next())
            rows.Rows.push_back(q.record());
        if (q.lastError().isValid()) throw StoreError(Reason(q.lastError(), db));
    } else {
        rows.Affected = q.numRowsAffected();
        rows.LastInsertId = q.lastInsertId();
        if (writes)
            ++*writes;
        else
            NoteLocalWrite(db.connectionName());
    }
    q.finish();
    return rows;
}

// The ":name" placeholders of a statement, each once, in the order of their first appearance, and
// the count of "?" placeholders, outside quoted texts and bracketed names.
QList<QByteArray> PlaceholderNames(const QString& text, qsizetype* marks = nullptr) {
    QList<QByteArray> names;
    if (marks) *marks = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            i = text.indexOf(close, i + 1);
            if (i < 0) break;
            continue;
        }
        if (c == QLatin1Char('?') && marks) ++*marks;
        if (c != QLatin1Char(':') || i + 1 >= n) continue;
        const QChar first = text[i + 1];
        if (!(first.isLetter() || first == QLatin1Char('_'))) continue;
        qsizetype j = i + 1;
        while (j < n && (text[j].isLetterOrNumber() || text[j] == QLatin1Char('_')))
            ++j;
        const QByteArray name = text.mid(i + 1, j - i - 1).toLatin1();
        if (!names.contains(name)) names << name;
        i = j - 1;
    }
    return names;
}

// A statement prepared once per connection and statement text. It is finished after every use, so
// keeping it holds no snapshot; the cache is dropped before its connection closes.
struct TStatement {
    QSqlQuery Query;
    // Its placeholders in the order of the text. When each name appears once (Unique), a value is
    // found its place by name and bound through the name made once in Placeholders (":name"): Qt
    // formats a name for every value bound by position. A statement with a name twice is bound by
    // the name given, every time.
    QList<QByteArray> Names;
    bool Unique = false;
    QStringList Placeholders;
    // What is bound now, by position: a kept statement keeps its values between runs (also after a
    // failed one), so a value equal to the last one is not bound again. A dispatch binds the same
    // alert's texts for every account.
    QVariantList Bound;
    qsizetype Marks = 0; // "?" placeholders
    // Where the caller's names were the last time: a name given by the same literal is found without
    // comparing its text.
    std::vector<const char*> NameAt;
    quint64* Writes = nullptr; // the connection's count of this program's writes
};

struct TConnectionStatements {
    QHash<QString, std::shared_ptr<TStatement>> ByText;
    // Statements whose lines are all literals of the program, found by where the lines live: no
    // joining and hashing of the text on every run.
    std::map<std::vector<const void*>, std::shared_ptr<TStatement>> ByLiteral;
};

// A map, so that the connection found last stays where it is until it is forgotten.
std::map<QString, TConnectionStatements>& Statements() {
    static std::map<QString, TConnectionStatements> statements;
    return statements;
}
struct TLastConnection {
    QString Name;
    TConnectionStatements* Statements = nullptr;
};
TLastConnection& LastConnection() {
    static TLastConnection last;
    return last;
}
// The statements of a connection; most runs are on the one used last.
TConnectionStatements& StatementsOf(const QSqlDatabase& db) {
    TLastConnection& last = LastConnection();
    const QString name = db.connectionName();
    if (!last.Statements || name != last.Name) {
        last.Statements = &Statements()[name];
        last.Name = name;
    }
    return *last.Statements;
}
constexpr int StatementsPerConnection = 200;

// How often a connection was opened: a connection opened anew (another file, perhaps) starts its
// change counter again, so its stamps must differ from the old ones all the same.
QHash<QString, quint64>& Openings() {
    static QHash<QString, quint64> counts;
    return counts;
}

std::shared_ptr<TStatement> PreparedText(TConnectionStatements& mine, const QSqlDatabase& db,
                                         const QString& text) {
    auto it = mine.ByText.find(text);
    if (it != mine.ByText.end()) return *it;
    if (mine.ByText.size() >= StatementsPerConnection) { // statements built from data: start afresh
        mine.ByText.clear();
        mine.ByLiteral.clear();
    }
    auto st = std::make_shared<TStatement>();
    st->Query = QSqlQuery(db);
    st->Query.setForwardOnly(true);
    if (!st->Query.prepare(text)) throw StoreError(Reason(st->Query.lastError(), db));
    st->Names = PlaceholderNames(text, &st->Marks);
    // Qt counts every appearance of a name: equal counts mean each name appears once.
    st->Unique = st->Names.size() == st->Query.boundValues().size() && st->Names.size() <= 64;
    if (st->Unique)
        for (const QByteArray& name : st->Names)
            st->Placeholders << QLatin1Char(':') + QString::fromLatin1(name);
    st->NameAt.assign(static_cast<size_t>(st->Names.size()), nullptr);
    st->Writes = &WriteCounts()[db.connectionName()];
    mine.ByText.insert(text, st);
    return st;
}

TStatement& Prepared(const QSqlDatabase& db, const QStringList& lines) {
    auto& mine = StatementsOf(db);
    // Reused: finding a statement allocates nothing.
    static thread_local std::vector<const void*> where;
    where.clear();
    for (const QString& l : lines) {
        if (l.data_ptr().isMutable()) { // built at run time: only its text can find it
            where.clear();
            break;
        }
        where.push_back(l.constData());
        where.push_back(reinterpret_cast<const void*>(l.size()));
    }
    if (!where.empty()) {
        auto it = mine.ByLiteral.find(where);
        if (it != mine.ByLiteral.end()) return *it->second;
    }
    std::shared_ptr<TStatement> st = PreparedText(mine, db, lines.join(QLatin1Char('\n')));
    if (!where.empty()) mine.ByLiteral[where] = st;
    return *st;
}

// Only values whose binding is their plain content are compared; any other is bound every time.
bool SameBinding(const QVariant& a, const QVariant& b) {
    if (a.typeId() != b.typeId()) return false;
    switch (a.typeId()) {
    case QMetaType::QString: {
        // The texts of one alert are shared by all its accounts: the same data is the same text.
        const QString& x = *static_cast<const QString*>(a.constData());
        const QString& y = *static_cast<const QString*>(b.constData());
        return (x.constData() == y.constData() && x.size() == y.size()) || x == y;
    }
    case QMetaType::Int:
        return *static_cast<const int*>(a.constData()) == *static_cast<const int*>(b.constData());
    case QMetaType::LongLong:
        return *static_cast<const qlonglong*>(a.constData()) == *static_cast<const qlonglong*>(b.constData());
    case QMetaType::Bool:
        return *static_cast<const bool*>(a.constData()) == *static_cast<const bool*>(b.constData());
    case QMetaType::Double: { // bit for bit: 0.0 and -0.0 are two values here
        const double x = a.toDouble(), y = b.toDouble();
        return std::memcmp(&x, &y, sizeof x) == 0;
    }
    default:
        return false;
    }
}

void BindAt(TStatement& st, qsizetype pos, const QVariant& value) {
    if (st.Bound.size() <= pos) st.Bound.resize(pos + 1);
    QVariant& bound = st.Bound[pos];
    if (bound.isValid() && SameBinding(bound, value)) return;
    if (pos < st.Placeholders.size())
        st.Query.bindValue(st.Placeholders[pos], value);
    else
        st.Query.bindValue(static_cast<int>(pos), value);
    bound = value;
}

TSqlRows Run(const QSqlDatabase& db, QSqlQuery& q, quint64* writes) {
    if (!q.exec()) {
        const QString error = Reason(q.lastError(), db);
        q.finish();
        throw StoreError(error);
    }
    try {
        return Finish(q, db, writes);
    } catch (...) {
        q.finish();
        throw;
    }
}
} // namespace

TSqlRows RunSql(const QSqlDatabase& db, const QStringList& lines,
                std::initializer_list<std::pair<const char*, QVariant>> binds) {
    TStatement& st = Prepared(db, lines);
    // A kept statement keeps its last values: every placeholder must get a new one.
    if (static_cast<qsizetype>(binds.size()) != st.Names.size())
        throw StoreError(QStringLiteral("Неверное число параметров запроса: %1 вместо %2")
                             .arg(binds.size())
                             .arg(st.Names.size()));
    int k = 0;
    quint64 given = 0; // positions bound in this run: a name given twice leaves another unbound
    for (const auto& [name, value] : binds) {
        qsizetype pos = -1;
        if (st.Unique) {
            // Usually given in the order of the text.
            if (k < st.Names.size() && st.NameAt[static_cast<size_t>(k)] == name) {
                pos = k;
            } else if (k < st.Names.size() && st.Names[k] == name) {
                pos = k;
                st.NameAt[static_cast<size_t>(k)] = name;
            } else {
                pos = st.Names.indexOf(QByteArray(name));
            }
        }
        if (pos >= 0 && (given >> pos & 1))
            throw StoreError(QStringLiteral("Параметр :%1 задан дважды").arg(QLatin1String(name)));
        if (pos >= 0) {
            given |= quint64(1) << pos;
            BindAt(st, pos, Bindable(value));
        } else if (st.Unique)
            throw StoreError(QStringLiteral("Параметр :%1 не найден в запросе").arg(QLatin1String(name)));
        else
            st.Query.bindValue(QLatin1Char(':') + QLatin1String(name), Bindable(value));
        ++k;
    }
    return Run(db, st.Query, st.Writes);
}

TSqlRows RunSqlPositional(const QSqlDatabase& db, const QString& text, const QVariantList& binds) {
    TStatement& st = *PreparedText(StatementsOf(db), db, text);
    QSqlQuery& q = st.Query;
    if (binds.size() != st.Marks)
        throw StoreError(QStringLiteral("Неверное число параметров запроса: %1 вместо %2")
                             .arg(binds.size())
                             .arg(st.Marks));
    for (int i = 0; i < binds.size(); ++i)
        BindAt(st, i, Bindable(binds[i]));
    return Run(db, q, st.Writes);
}

void ForgetStatements(const QString& connectionName) {
    Statements().erase(connectionName);
    LastConnection() = TLastConnection{};
    ++Openings()[connectionName];
}

quint64 LocalWriteCount(const QString& connectionName) {
    const auto it = WriteCounts().find(connectionName);
    return it == WriteCounts().end() ? 0 : it->second;
}
void NoteLocalWrite(const QString& connectionName) {
    ++WriteCounts()[connectionName];
}

namespace {
QHash<QString, quint64>& TableWrites() {
    static QHash<QString, quint64> counts;
    return counts;
}
QString TableKey(const QString& connectionName, const QString& table) {
    return connectionName + QLatin1Char('\n') + table.toLower();
}
} // namespace

void NoteTableWrite(const QString& connectionName, const QString& table) {
    ++TableWrites()[TableKey(connectionName, table)];
}

namespace {
// The engine's counter of other connections' commits; nothing when it cannot tell.
std::optional<qint64> DataVersion(const QSqlDatabase& db) {
    if (!db.isOpen() || !IsSqlite(db)) return std::nullopt;
    try {
        TSqlRows r = RunSql(db, {QStringLiteral("PRAGMA data_version")});
        if (!r.next()) return std::nullopt;
        return r.value(0).toLongLong();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}
} // namespace

std::vector<qint64> TableChangeStamps(const QSqlDatabase& db, const QStringList& tables) {
    std::vector<qint64> stamps(tables.size(), -1);
    const std::optional<qint64> version = DataVersion(db);
    if (!version) return stamps;
    for (qsizetype i = 0; i < tables.size(); ++i) {
        // Both of ours only grow: their sum changes whenever either does.
        const quint64 ours = TableWrites().value(TableKey(db.connectionName(), tables[i])) +
                             Openings().value(db.connectionName());
        stamps[i] = (*version << 24) | static_cast<qint64>(ours & 0xFFFFFF);
    }
    return stamps;
}

qint64 TableChangeStamp(const QSqlDatabase& db, const QString& table) {
    return TableChangeStamps(db, {table}).front();
}

qint64 DatabaseChangeStamp(const QSqlDatabase& db) {
    const std::optional<qint64> version = DataVersion(db);
    if (!version) return -1;
    // The engine's counter in the high bits, ours in the low: either changing changes the stamp.
    return (*version << 24) ^ static_cast<qint64>(LocalWriteCount(db.connectionName()) & 0xFFFFFF);
}

TDbTransaction::TDbTransaction(const QSqlDatabase& db) : Db(db) {
    if (IsSqlite(Db))
        RunSql(Db, {QStringLiteral("BEGIN IMMEDIATE")});
    else if (!Db.transaction())
        throw StoreError(Reason(Db.lastError(), Db));
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
        throw StoreError(Reason(Db.lastError(), Db));
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
    return Int64Value(ColumnValue(rec, column));
}

qint64 Int64Value(const QVariant& v) {
    if (v.isNull()) return 0;
    bool ok = false;
    qint64 r = v.toLongLong(&ok);
    if (!ok) throw ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(v.toString()));
    return r;
}

double ColumnDouble(const QSqlRecord& rec, const QString& column) {
    return DoubleValue(ColumnValue(rec, column));
}

double DoubleValue(const QVariant& v) {
    if (v.isNull()) return 0;
    bool ok = false;
    double r = v.toDouble(&ok);
    if (!ok)
        throw ConversionError(QStringLiteral("'%1' is not a valid floating point value").arg(v.toString()));
    return r;
}

QString ColumnText(const QSqlRecord& rec, const QString& column) {
    return TextValue(ColumnValue(rec, column));
}

QString TextValue(const QVariant& v) {
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

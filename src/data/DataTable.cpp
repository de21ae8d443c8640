#include "data/DataTable.h"

#include "common/KorvexError.h"
#include "data/SqlRun.h"
#include "data/TableColumns.h"

#include <QSqlDriver>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlQuery>

namespace {
// Rows read for painting at a time; the cache is dropped whole when it grows past a few screens.
constexpr int PageRows = 100;
constexpr int CacheLimit = 5000;

QString Bracket(const QString& name) {
    return QLatin1Char('[') + name + QLatin1Char(']');
}

QSqlDatabase Db(const QString& connection) {
    return QSqlDatabase::database(connection, false);
}
} // namespace

TTableModel::TTableModel(QObject* parent, const QString& connectionName)
    : QAbstractTableModel(parent), Connection(connectionName) {}

bool TTableModel::setTable(const QString& table) {
    clear();
    beginResetModel();
    Table = table;
    Columns = Db(Connection).record(table);
    IdColumn = -1;
    for (int i = 0; i < Columns.count(); ++i)
        if (Columns.fieldName(i).compare(QLatin1String("id"), Qt::CaseInsensitive) == 0) IdColumn = i;
    Keyed = IdColumn >= 0;
    SortColumn = -1;
    endResetModel();
    return !Columns.isEmpty();
}

void TTableModel::clear() {
    beginResetModel();
    Keys.clear();
    Whole.clear();
    Cache.clear();
    KeyRowsValid = false;
    Stamp = -2;
    Edits.clear();
    Deleted.clear();
    PendingRow = -1;
    // Another table or another database from now on: what was read before cannot be put back here.
    UndoRows.reset();
    endResetModel();
}

void TTableModel::setSort(int column, Qt::SortOrder order) {
    SortColumn = column;
    SortOrder = order;
}

void TTableModel::setFilter(const QString& column, const QVariant& value) {
    FilterColumn = column;
    FilterValue = value;
    Stamp = -2;
}

QString TTableModel::WhereClause() const {
    return FilterColumn.isEmpty() ? QString() : QStringLiteral(" WHERE %1 = ?").arg(Bracket(FilterColumn));
}

QVariantList TTableModel::WhereBinds() const {
    return FilterColumn.isEmpty() ? QVariantList() : QVariantList{FilterValue};
}

QString TTableModel::OrderClause() const {
    QStringList parts;
    if (SortColumn >= 0 && SortColumn < Columns.count())
        parts << Bracket(Columns.fieldName(SortColumn)) +
                     (SortOrder == Qt::AscendingOrder ? QString() : QStringLiteral(" DESC"));
    if (Keyed) parts << Bracket(Columns.fieldName(IdColumn));
    return parts.isEmpty() ? QString() : QStringLiteral(" ORDER BY ") + parts.join(QStringLiteral(", "));
}

bool TTableModel::Fail(const std::exception& e) {
    LastError = QSqlError(ErrorText(e), QString(), QSqlError::StatementError);
    return false;
}

void TTableModel::ReadKeys() {
    std::vector<qint64> keys;
    {
        QSqlQuery q(Db(Connection));
        q.setForwardOnly(true);
        q.prepare(
            QStringLiteral("SELECT %1 FROM %2%3%4")
                .arg(Bracket(Columns.fieldName(IdColumn)), Bracket(Table), WhereClause(), OrderClause()));
        for (const QVariant& v : WhereBinds())
            q.addBindValue(v);
        if (!q.exec()) throw StoreError(q.lastError().text());
        while (q.next())
            keys.push_back(q.value(0).toLongLong());
        if (q.lastError().isValid()) throw StoreError(q.lastError().text());
        q.finish();
    }
    beginResetModel();
    Keys = std::move(keys);
    Cache.clear();
    KeyRowsValid = false;
    KnownCount = static_cast<qint64>(Keys.size());
    KnownMax = 0;
    for (qint64 k : Keys)
        KnownMax = std::max(KnownMax, k);
    endResetModel();
}

std::vector<TTableModel::TRow> TTableModel::ReadAllRows() const {
    std::vector<TRow> rows;
    QSqlQuery q(Db(Connection));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT * FROM %1%2%3").arg(Bracket(Table), WhereClause(), OrderClause()));
    for (const QVariant& v : WhereBinds())
        q.addBindValue(v);
    if (!q.exec()) throw StoreError(q.lastError().text());
    QVector<int> map;
    while (q.next()) {
        const QSqlRecord r = q.record();
        if (map.isEmpty())
            for (int c = 0; c < Columns.count(); ++c)
                map << r.indexOf(Columns.fieldName(c));
        TRow row(Columns.count());
        for (int c = 0; c < Columns.count(); ++c)
            if (map[c] >= 0) row[c] = r.value(map[c]);
        rows.push_back(std::move(row));
    }
    if (q.lastError().isValid()) throw StoreError(q.lastError().text());
    q.finish();
    return rows;
}

void TTableModel::ReadWhole() {
    std::vector<TRow> rows = ReadAllRows();
    beginResetModel();
    Whole = std::move(rows);
    endResetModel();
}

bool TTableModel::select() {
    LastError = QSqlError();
    LastReset = true;
    try {
        Stamp = DatabaseChangeStamp(Db(Connection));
        if (PendingRow >= 0 || !Edits.isEmpty() || !Deleted.isEmpty()) {
            beginResetModel();
            Edits.clear();
            Deleted.clear();
            PendingRow = -1;
            endResetModel();
        }
        if (Keyed)
            ReadKeys();
        else
            ReadWhole();
        return true;
    } catch (const std::exception& e) {
        Stamp = -2;
        return Fail(e);
    }
}

bool TTableModel::refresh() {
    LastError = QSqlError();
    LastReset = false;
    if (isDirty()) return true; // the operator is editing: his rows stay until he posts or cancels
    try {
        const QSqlDatabase db = Db(Connection);
        const qint64 stamp = DatabaseChangeStamp(db);
        if (stamp != -1 && stamp == Stamp) return true;
        if (!Keyed || SortColumn >= 0) {
            LastReset = true;
            Stamp = stamp;
            if (Keyed)
                ReadKeys();
            else
                ReadWhole();
            return true;
        }
        const QString id = Bracket(Columns.fieldName(IdColumn));
        TSqlRows counts = RunSqlPositional(
            db, QStringLiteral("SELECT count(*), max(%1) FROM %2%3").arg(id, Bracket(Table), WhereClause()),
            WhereBinds());
        counts.next();
        const qint64 count = counts.value(0).toLongLong();
        const qint64 max = counts.value(1).toLongLong();
        const qint64 shown = static_cast<qint64>(Keys.size());
        if (count == shown && max == KnownMax) {
            // The same rows: only their values may have changed.
            Stamp = stamp;
            Cache.clear();
            if (shown > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
            return true;
        }
        std::vector<qint64> added;
        {
            QSqlQuery q(db);
            q.setForwardOnly(true);
            q.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE %1 > ?%3 ORDER BY %1")
                          .arg(id, Bracket(Table),
                               FilterColumn.isEmpty()
                                   ? QString()
                                   : QStringLiteral(" AND %1 = ?").arg(Bracket(FilterColumn))));
            q.addBindValue(KnownMax);
            for (const QVariant& v : WhereBinds())
                q.addBindValue(v);
            if (!q.exec()) throw StoreError(q.lastError().text());
            while (q.next())
                added.push_back(q.value(0).toLongLong());
            q.finish();
        }
        Stamp = stamp;
        if (count - shown == static_cast<qint64>(added.size())) {
            // Rows were only added (ids are unique, so none went away): the view keeps its place.
            Cache.clear();
            if (shown > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
            if (!added.empty()) {
                beginInsertRows(QModelIndex(), rowCount(), rowCount() + static_cast<int>(added.size()) - 1);
                Keys.insert(Keys.end(), added.begin(), added.end());
                KeyRowsValid = false;
                KnownCount = static_cast<qint64>(Keys.size());
                KnownMax = std::max(KnownMax, added.back());
                endInsertRows();
            }
            return true;
        }
        LastReset = true;
        ReadKeys();
        return true;
    } catch (const std::exception& e) {
        Stamp = -2;
        return Fail(e);
    }
}

int TTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    const size_t stored = Keyed ? Keys.size() : Whole.size();
    return static_cast<int>(stored) + (PendingRow >= 0 ? 1 : 0);
}

int TTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns.count();
}

int TTableModel::BaseRow(int row) const {
    if (PendingRow < 0 || row < PendingRow) return row;
    return row == PendingRow ? -1 : row - 1;
}

const TTableModel::TRow* TTableModel::StoredRow(int base) const {
    if (base < 0) return nullptr;
    if (!Keyed) return base < static_cast<int>(Whole.size()) ? &Whole[base] : nullptr;
    if (base >= static_cast<int>(Keys.size())) return nullptr;
    auto it = Cache.constFind(Keys[base]);
    if (it != Cache.cend()) return &it.value();
    // Read the page around this row in one finished statement.
    if (Cache.size() > CacheLimit) Cache.clear();
    const int first = base - base % PageRows;
    const int last = std::min(static_cast<int>(Keys.size()), first + PageRows);
    QVariantList ids;
    QStringList marks;
    for (int r = first; r < last; ++r)
        if (!Cache.contains(Keys[r])) {
            ids << Keys[r];
            marks << QStringLiteral("?");
        }
    try {
        TSqlRows rows = RunSqlPositional(
            Db(Connection),
            QStringLiteral("SELECT * FROM %1 WHERE %2 IN (%3)")
                .arg(Bracket(Table), Bracket(Columns.fieldName(IdColumn)), marks.join(QLatin1Char(','))),
            ids);
        QVector<int> map;
        for (const QSqlRecord& r : rows.Rows) {
            if (map.isEmpty())
                for (int c = 0; c < Columns.count(); ++c)
                    map << r.indexOf(Columns.fieldName(c));
            TRow row(Columns.count());
            for (int c = 0; c < Columns.count(); ++c)
                if (map[c] >= 0) row[c] = r.value(map[c]);
            Cache.insert(row[IdColumn].toLongLong(), row);
        }
    } catch (const std::exception&) {
        // Shown empty now; the next refresh tries again.
    }
    // A row deleted meanwhile shows empty until the next refresh drops it.
    for (const QVariant& id : ids)
        if (!Cache.contains(id.toLongLong())) Cache.insert(id.toLongLong(), TRow(Columns.count()));
    return &Cache[Keys[base]];
}

QVariant TTableModel::Value(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= Columns.count()) return QVariant();
    const int base = BaseRow(row);
    if (base < 0) return PendingValues.value(column);
    auto e = Edits.constFind(base);
    if (e != Edits.cend() && e->contains(column)) return e->value(column);
    if (Keyed && column == IdColumn) return Keys[base];
    const TRow* r = StoredRow(base);
    return r ? r->value(column) : QVariant();
}

QVariant TTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return QVariant();
    return Value(index.row(), index.column());
}

QVariant TTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < Columns.count())
        return Columns.fieldName(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

QSqlRecord TTableModel::record(int row) const {
    QSqlRecord r = Columns;
    for (int c = 0; c < Columns.count(); ++c)
        r.setValue(c, Value(row, c));
    return r;
}

qint64 TTableModel::idAt(int row) const {
    if (!Keyed || row < 0 || row >= rowCount()) return 0;
    const int base = BaseRow(row);
    return base < 0 ? 0 : Keys[base];
}

int TTableModel::rowOfId(qint64 id) const {
    if (!Keyed) return -1;
    if (!KeyRowsValid) {
        auto* self = const_cast<TTableModel*>(this);
        self->KeyRows.clear();
        self->KeyRows.reserve(static_cast<qsizetype>(Keys.size()));
        for (size_t i = 0; i < Keys.size(); ++i)
            self->KeyRows.insert(Keys[i], static_cast<int>(i));
        KeyRowsValid = true;
    }
    auto it = KeyRows.constFind(id);
    if (it == KeyRows.cend()) return -1;
    return PendingRow >= 0 && *it >= PendingRow ? *it + 1 : *it;
}

bool TTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    if (BeforeSetData && !BeforeSetData(index.row(), Columns.fieldName(index.column()), value)) return false;
    const int base = BaseRow(index.row());
    if (base < 0)
        PendingValues[index.column()] = value;
    else
        Edits[base][index.column()] = value;
    emit dataChanged(index, index);
    return true;
}

bool TTableModel::insertRows(int row, int count, const QModelIndex& parent) {
    if (parent.isValid() || count != 1 || PendingRow >= 0 || row < 0 || row > rowCount()) return false;
    beginInsertRows(QModelIndex(), row, row);
    PendingRow = row;
    PendingValues = TRow(Columns.count());
    endInsertRows();
    return true;
}

bool TTableModel::removeRows(int row, int count, const QModelIndex& parent) {
    if (parent.isValid() || row < 0 || count < 1 || row + count > rowCount()) return false;
    for (int r = row + count - 1; r >= row; --r) {
        const int base = BaseRow(r);
        if (base < 0)
            revertRow(r);
        else
            Deleted.insert(base);
    }
    return true;
}

bool TTableModel::isDirty() const {
    return PendingRow >= 0 || !Edits.isEmpty() || !Deleted.isEmpty();
}

void TTableModel::revertRow(int row) {
    const int base = BaseRow(row);
    if (base < 0) {
        beginRemoveRows(QModelIndex(), row, row);
        PendingRow = -1;
        PendingValues.clear();
        endRemoveRows();
        return;
    }
    Edits.remove(base);
    Deleted.remove(base);
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void TTableModel::revertAll() {
    if (PendingRow >= 0) revertRow(PendingRow);
    Edits.clear();
    Deleted.clear();
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

QString TTableModel::RowMatch(int base, QVariantList& binds) const {
    if (Keyed) {
        binds << Keys[base];
        return Bracket(Columns.fieldName(IdColumn)) + QStringLiteral(" = ?");
    }
    const TRow& row = *StoredRow(base);
    const QSqlIndex pk = Db(Connection).primaryIndex(Table);
    QStringList conds;
    for (int c = 0; c < Columns.count(); ++c) {
        if (!pk.isEmpty() && pk.indexOf(Columns.fieldName(c)) < 0) continue;
        if (row[c].isNull()) {
            conds << Bracket(Columns.fieldName(c)) + QStringLiteral(" IS NULL");
        } else {
            conds << Bracket(Columns.fieldName(c)) + QStringLiteral(" = ?");
            binds << row[c];
        }
    }
    return conds.join(QStringLiteral(" AND "));
}

void TTableModel::PostRow(int base) {
    QStringList sets;
    QVariantList binds;
    const auto& edits = Edits[base];
    for (auto it = edits.cbegin(); it != edits.cend(); ++it) {
        sets << Bracket(Columns.fieldName(it.key())) + QStringLiteral(" = ?");
        binds << it.value();
    }
    if (sets.isEmpty()) return;
    QVariantList matchBinds;
    const QString match = RowMatch(base, matchBinds);
    const TSqlRows done = RunSqlPositional(Db(Connection),
                                           QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                                               .arg(Bracket(Table), sets.join(QStringLiteral(", ")), match),
                                           binds + matchBinds);
    if (done.numRowsAffected() == 0) throw KorvexError(RowGoneText());
}

QString TTableModel::RowGoneText() const {
    // Matched by the values read: another program changed or deleted the row since.
    return QStringLiteral("Строка таблицы %1 изменена или удалена другой программой после чтения: "
                          "правка не записана. Обновите таблицу и повторите.")
        .arg(Table);
}

void TTableModel::PostInsert() {
    QStringList cols, marks;
    QVariantList binds;
    for (int c = 0; c < Columns.count(); ++c) {
        if (PendingValues.value(c).isNull()) continue;
        cols << Bracket(Columns.fieldName(c));
        marks << QStringLiteral("?");
        binds << PendingValues[c];
    }
    const QString text = cols.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(Bracket(Table))
                                        : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                              .arg(Bracket(Table), cols.join(QStringLiteral(", ")),
                                                   marks.join(QStringLiteral(", ")));
    RunSqlPositional(Db(Connection), text, binds);
}

void TTableModel::DeleteRow(int base) {
    QVariantList binds;
    const QString match = RowMatch(base, binds);
    const TSqlRows done = RunSqlPositional(
        Db(Connection), QStringLiteral("DELETE FROM %1 WHERE %2").arg(Bracket(Table), match), binds);
    if (done.numRowsAffected() == 0) throw KorvexError(RowGoneText());
}

bool TTableModel::submitAll() {
    LastError = QSqlError();
    if (!isDirty()) return true;
    // A new row nobody has typed into yet is no post: it stays open for typing.
    bool emptyNewRow = PendingRow >= 0;
    for (const QVariant& v : PendingValues)
        emptyNewRow = emptyNewRow && (v.isNull() || v.toString().isEmpty());
    if (emptyNewRow && Edits.isEmpty() && Deleted.isEmpty()) return true;
    // Every row passes the check before anything is written.
    if (BeforePost) {
        for (auto it = Edits.cbegin(); it != Edits.cend(); ++it) {
            if (Deleted.contains(it.key())) continue;
            const int row = PendingRow >= 0 && it.key() >= PendingRow ? it.key() + 1 : it.key();
            if (!BeforePost(record(row))) return false;
        }
        if (PendingRow >= 0 && !emptyNewRow && !BeforePost(record(PendingRow))) return false;
    }
    // Whoever keeps what it read of this table must read again.
    NoteTableWrite(Connection, Table);
    try {
        if (UndoSession && !UndoRows) UndoRows = ReadAllRows();
        for (int base : Deleted) {
            DeleteRow(base);
            emit AfterPost();
        }
        for (auto it = Edits.cbegin(); it != Edits.cend(); ++it) {
            if (Deleted.contains(it.key())) continue;
            PostRow(it.key());
            emit AfterPost();
        }
        if (PendingRow >= 0 && !emptyNewRow) {
            PostInsert();
            emit AfterPost();
        }
    } catch (const std::exception& e) {
        return Fail(e);
    }
    Edits.clear();
    Deleted.clear();
    PendingRow = -1;
    return select();
}

void TTableModel::keepRow(int row) {
    const int base = BaseRow(row);
    if (base >= 0 && Deleted.remove(base)) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void TTableModel::beginUndoSession() {
    if (UndoSession) return; // shown again after a refused OK: the session goes on
    UndoSession = true;
    UndoRows.reset();
}

void TTableModel::endUndoSession() {
    UndoSession = false;
    UndoRows.reset();
}

bool TTableModel::undoSession() {
    LastError = QSqlError();
    revertAll();
    UndoSession = false;
    if (!UndoRows) return true; // nothing was written
    const std::vector<TRow> rows = std::move(*UndoRows);
    UndoRows.reset();
    // The operator's tables are small and written only through these grids: the rows are put back
    // whole, keys included, so that nothing he posted in the dialog survives its "Отмена".
    NoteTableWrite(Connection, Table);
    try {
        const QSqlDatabase db = Db(Connection);
        QStringList cols, marks;
        for (int c = 0; c < Columns.count(); ++c) {
            cols << Bracket(Columns.fieldName(c));
            marks << QStringLiteral("?");
        }
        const QString insert =
            QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                .arg(Bracket(Table), cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
        TDbTransaction tx(db);
        RunSqlPositional(db, QStringLiteral("DELETE FROM %1").arg(Bracket(Table)), {});
        for (const TRow& row : rows) {
            QVariantList values;
            for (const QVariant& v : row)
                values << (v.isNull() ? QVariant() : v); // a NULL stays NULL, not an empty text
            RunSqlPositional(db, insert, values);
        }
        tx.Commit();
    } catch (const std::exception& e) {
        return Fail(e);
    }
    emit AfterPost();
    return select();
}

// ---------------------------------------------------------------------------------------------

TDataTable::TDataTable(const QString& objectName, const QString& tableName, const QString& connectionName,
                       QObject* parent)
    : QObject(parent), Table(tableName), Connection(connectionName) {
    setObjectName(objectName);
    SqlModel = new TTableModel(this, Connection);
    CurrentRow = new QItemSelectionModel(SqlModel, this);
}

void TDataTable::Rebind() {
    // The model reaches its connection by name at each use; a recreated connection only needs the
    // table read afresh.
    Close();
    emit Rebound();
}

void TDataTable::Open() {
    if (Opened) return;
    QSqlDatabase db = QSqlDatabase::database(Connection, false);
    if (!db.isOpen()) throw KorvexError(QStringLiteral("Нет подключения к базе данных (%1)").arg(Table));
    if (!SqlModel->setTable(Table)) throw KorvexError(QStringLiteral("Таблица %1 не найдена").arg(Table));
    const QSqlRecord rec = SqlModel->record();
    for (const QString& col : DeclaredColumns(objectName()))
        if (rec.indexOf(col) < 0)
            throw KorvexError(QStringLiteral("%1: поле '%2' не найдено").arg(objectName(), col));
    if (!Sort.isEmpty()) SqlModel->setSort(rec.indexOf(Sort), SortDirection);
    if (!SqlModel->select()) {
        const QString msg = SqlModel->lastError().text();
        SqlModel->clear();
        throw KorvexError(msg);
    }
    Opened = true;
    if (SqlModel->rowCount() > 0) SetCurrent(0);
}

void TDataTable::Close() {
    Opened = false;
    Stale = false;
    SqlModel->clear();
}

void TDataTable::KeepCurrentAcross(const std::function<void()>& read) {
    const qint64 keep = RowCount() > 0 && IdColumn() >= 0 ? CurrentId() : 0;
    read();
    if (!SqlModel->lastReadWasReset()) return;
    if (RowCount() > 0 && !(IdColumn() >= 0 && LocateId(keep))) SetCurrent(0);
}

void TDataTable::ReadAgain(bool whole) {
    if (!Opened) {
        Open();
        return;
    }
    KeepCurrentAcross([this, whole] {
        if (!(whole ? SqlModel->select() : SqlModel->refresh())) {
            const QString msg = SqlModel->lastError().text();
            Close();
            throw KorvexError(msg);
        }
    });
}

void TDataTable::Reread() {
    Stale = false;
    ReadAgain(true);
}

void TDataTable::Refresh() {
    // Reading a table nobody sees on every tick costs the robot's dispatch for nothing (headless, a
    // table of a whole day's transactions is counted each time).
    if (Opened && Views == 0) {
        Stale = true;
        return;
    }
    ReadAgain(false);
}

void TDataTable::CatchUp() const {
    if (!Stale) return;
    auto* self = const_cast<TDataTable*>(this);
    self->Stale = false;
    try {
        self->ReadAgain(false);
    } catch (const std::exception&) {
        self->Close(); // as a failed refresh on the tick: the table shows closed
    }
}

void TDataTable::AddView() {
    ++Views;
    CatchUp();
}

void TDataTable::RemoveView() {
    --Views;
}

int TDataTable::RowCount() const {
    CatchUp();
    return Opened ? SqlModel->rowCount() : 0;
}

int TDataTable::Current() const {
    CatchUp();
    if (!Opened) return -1;
    QModelIndex i = CurrentRow->currentIndex();
    if (i.isValid()) return i.row();
    return SqlModel->rowCount() > 0 ? 0 : -1;
}

void TDataTable::SetCurrent(int row) {
    CatchUp();
    if (row < 0 || row >= SqlModel->rowCount()) return;
    if (CurrentRow->currentIndex().row() == row && CurrentRow->isRowSelected(row)) return; // already there
    int col = std::max(0, CurrentRow->currentIndex().column());
    CurrentRow->setCurrentIndex(SqlModel->index(row, col),
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QSqlRecord TDataTable::Record(int row) const {
    CatchUp();
    return SqlModel->record(row);
}

QSqlRecord TDataTable::CurrentRecord() const {
    int r = Current();
    if (r < 0) throw KorvexError(QStringLiteral("%1: нет текущей записи").arg(objectName()));
    return SqlModel->record(r);
}

int TDataTable::IdColumn() const {
    const QSqlRecord rec = SqlModel->record();
    for (int i = 0; i < rec.count(); ++i)
        if (rec.fieldName(i).compare(QLatin1String("id"), Qt::CaseInsensitive) == 0) return i;
    return -1;
}

qint64 TDataTable::CurrentId() const {
    const int r = Current();
    if (r < 0) return 0;
    if (SqlModel->hasIdColumn()) return SqlModel->idAt(r);
    return 0;
}

bool TDataTable::LocateId(qint64 id) {
    CatchUp();
    const int r = SqlModel->rowOfId(id);
    if (r < 0) return false;
    SetCurrent(r);
    return true;
}

void TDataTable::SetSortColumn(const QString& column, Qt::SortOrder order) {
    if (column.compare(Sort, Qt::CaseInsensitive) == 0 && order == SortDirection) return;
    Sort = column;
    SortDirection = order;
    if (!Opened) return;
    const int c = SqlModel->record().indexOf(column);
    if (c < 0) return;
    SqlModel->setSort(c, order);
    Reread();
}

void TDataTable::SetFilter(const QString& column, const QVariant& value) {
    SqlModel->setFilter(column, value);
    if (Opened) Reread();
}

bool TDataTable::IsEditingExistingRow() const {
    return Opened && SqlModel->isDirty() && !SqlModel->HasPendingInsert();
}

bool TDataTable::PostEdits() {
    const qint64 keep = CurrentId();
    if (!SqlModel->submitAll()) {
        // A post refused by the table's own check has already told the operator why.
        if (SqlModel->lastError().type() == QSqlError::NoError) return false;
        throw KorvexError(SqlModel->lastError().text());
    }
    if (keep && !LocateId(keep) && RowCount() > 0) SetCurrent(0);
    return true;
}

void TDataTable::CancelEdits() {
    SqlModel->revertAll();
}

void TDataTable::BeginDialogEdits() {
    SqlModel->beginUndoSession();
}

void TDataTable::KeepDialogEdits() {
    SqlModel->endUndoSession();
}

void TDataTable::UndoDialogEdits() {
    bool done = true;
    KeepCurrentAcross([this, &done] { done = SqlModel->undoSession(); });
    if (!done)
        throw KorvexError(
            QStringLiteral("Таблица %1 не восстановлена: %2").arg(Table, SqlModel->lastError().text()));
}

#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QItemSelectionModel>
#include <QObject>
#include <QSet>
#include <QSqlError>
#include <QSqlRecord>
#include <functional>
#include <optional>
#include <vector>

// The rows of one table for a grid, read so that no statement stays open between two operations.
//
// A table with an "id" column keeps only the ids of its rows, in the order shown, and reads the
// values of the rows a grid actually paints, a page at a time. A table without one is small (the
// instruments, workspaces and strategies) and is read whole. Either way every statement is finished
// before the read returns, so the connection never rests on an old snapshot of the database.
//
// Edits of the grids (changed cells, one new row, deleted rows) are kept here until they are
// posted; a check can refuse a post, and a notice follows every post and delete.
class TTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    TTableModel(QObject* parent, const QString& connectionName);

    // Takes the table's columns from the database; false when the table does not exist.
    bool setTable(const QString& table);
    const QString& tableName() const { return Table; }
    // The table's columns, without values.
    QSqlRecord record() const { return Columns; }
    // One row with its values as shown (pending edits included).
    QSqlRecord record(int row) const;
    int fieldIndex(const QString& field) const { return Columns.indexOf(field); }
    // Sort order of the rows: a column, or -1 for the database's own order.
    void setSort(int column, Qt::SortOrder order = Qt::AscendingOrder);
    // Only the rows whose `column` holds `value` (one day of a table that keeps many); an empty column:
    // every row. Takes effect at the next read.
    void setFilter(const QString& column, const QVariant& value);

    // Reads the rows anew. False with lastError() set on failure.
    bool select();
    // Reads what changed since the last read: nothing when the database did not change, the new rows
    // when rows were only added, the shown values when rows were only changed, everything otherwise.
    // Pending edits are never thrown away: a dirty table is left as it is. False on failure.
    bool refresh();
    // Forgets the table (closed).
    void clear();
    // True when the last refresh() or select() replaced the row order (the current row is lost).
    bool lastReadWasReset() const { return LastReset; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    bool insertRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    // A view calls this when a cell editor closes with Enter: nothing is posted then. Edits are
    // posted when the operator leaves the row (the grid) or confirms the dialog, and "Отмена" undoes them.
    bool submit() override { return true; }
    void revert() override {}

    // Posts every pending edit, insert and delete. False when the check refused a row (lastError()
    // then holds no error) or the database refused a statement (lastError() says why).
    bool submitAll();
    void revertAll();
    void revertRow(int row);
    bool isDirty() const;
    QSqlError lastError() const { return LastError; }

    // The id of a row (tables with an "id" column), 0 when it has none.
    qint64 idAt(int row) const;
    // The row showing this id, -1 when none.
    int rowOfId(qint64 id) const;
    bool hasIdColumn() const { return IdColumn >= 0; }
    // The row of the highest id (the newest row wherever the sort puts it), -1 when none.
    int newestRow() const { return Keys.empty() ? -1 : rowOfId(KnownMax); }

    // Returns false to refuse the post; the row then stays in editing.
    std::function<bool(const QSqlRecord& row)> BeforePost;
    // Returns false to refuse a value as it is typed into a cell: the cell keeps what it held.
    std::function<bool(int row, const QString& field, const QVariant& value)> BeforeSetData;
    bool HasPendingInsert() const { return PendingRow >= 0; }
    // Takes back the delete of a row not yet posted.
    void keepRow(int row);

    // A dialog's session of edits: what its grids post while it is open stays undoable until it
    // closes. The table is read as it stands before the session's first write (nothing is read when
    // nothing is written). A session already open goes on.
    void beginUndoSession();
    // Throws away the pending edits and puts the table back as it was before the session's first
    // write, in one database transaction. False with lastError() set when that failed (the table then
    // keeps what was posted).
    bool undoSession();
    // Keeps what the session posted.
    void endUndoSession();
    int PendingInsertedRow() const { return PendingRow; }

signals:
    void AfterPost();

private:
    using TRow = QVector<QVariant>;
    bool Fail(const std::exception& e);
    void ReadKeys();
    void ReadWhole();
    std::vector<TRow> ReadAllRows() const;
    int BaseRow(int row) const; // the stored row shown at `row`, -1 for the new row
    const TRow* StoredRow(int base) const;
    QVariant Value(int row, int column) const;
    QString OrderClause() const;
    // " WHERE [column] = ?" of the filter (empty without one), and its value to bind.
    QString WhereClause() const;
    QVariantList WhereBinds() const;
    void PostRow(int base);
    QString RowGoneText() const;
    void PostInsert();
    void DeleteRow(int base);
    QString RowMatch(int base, QVariantList& binds) const;

    QString Connection;
    QString Table;
    QSqlRecord Columns;
    int IdColumn = -1;
    int SortColumn = -1;
    Qt::SortOrder SortOrder = Qt::AscendingOrder;
    QString FilterColumn;
    QVariant FilterValue;
    bool Keyed = false;
    std::vector<qint64> Keys;   // keyed tables: the ids in the order shown
    QHash<qint64, int> KeyRows; // id -> row, built on demand
    mutable bool KeyRowsValid = false;
    mutable QHash<qint64, TRow> Cache; // keyed tables: values of rows read for painting
    std::vector<TRow> Whole;           // small tables: every row
    qint64 Stamp = -2;                 // change stamp of the database at the last read
    qint64 KnownCount = 0, KnownMax = 0;
    bool LastReset = false;
    // Pending edits.
    QHash<int, QHash<int, QVariant>> Edits; // stored row -> column -> value
    QSet<int> Deleted;
    int PendingRow = -1;
    TRow PendingValues;
    QSqlError LastError;
    bool UndoSession = false;
    std::optional<std::vector<TRow>> UndoRows; // the table before the session's first write
};

// One table object: a grid model with an open/closed state and a current row, on one connection.
class TDataTable : public QObject {
    Q_OBJECT
public:
    TDataTable(const QString& objectName, const QString& tableName, const QString& connectionName,
               QObject* parent = nullptr);

    const QString& TableName() const { return Table; }
    QString ConnectionName() const { return Connection; }
    TTableModel* Model() const {
        CatchUp();
        return SqlModel;
    }
    QItemSelectionModel* Selection() const { return CurrentRow; }

    // Opens the table when closed. Throws KorvexError when the table or one of its declared columns
    // is missing; the table then stays closed.
    void Open();
    void Close();
    bool IsOpen() const { return Opened; }

    // Re-reads all rows now in the database, keeping the current row. Throws on failure (the table
    // is then closed).
    void Reread();
    // Re-reads what changed since the last read, keeping the current row (the first one when it is
    // gone). Throws on failure (the table is then closed). A table no grid shows is only marked: it is
    // read when it is next looked at, and a failure then closes it.
    void Refresh();

    // A grid that shows this table counts itself here for as long as it exists.
    void AddView();
    void RemoveView();

    int RowCount() const;
    int Current() const;
    void SetCurrent(int row);
    QSqlRecord CurrentRecord() const;
    QSqlRecord Record(int row) const;
    int IdColumn() const; // -1 when the table has no column "id"
    qint64 CurrentId() const;
    // Makes the row with this id current; false when there is none.
    bool LocateId(qint64 id);

    // Sort order for the grid (column name, ascending); empty for the database's own order.
    void SetSortColumn(const QString& column, Qt::SortOrder order = Qt::AscendingOrder);
    QString SortColumn() const { return Sort; }
    Qt::SortOrder SortOrder() const { return SortDirection; }
    // Shows only the rows whose `column` holds `value`, read anew at once when open.
    void SetFilter(const QString& column, const QVariant& value);

    // Pending grid edits of an existing row (not a new row still being inserted).
    bool IsEditingExistingRow() const;
    bool PostEdits();
    void CancelEdits();
    // A dialog's "Отмена" throws away everything changed while it was open, rows its grids already
    // posted included; its OK keeps them (see TTableModel::beginUndoSession).
    void BeginDialogEdits();
    // Throws KorvexError when the table could not be put back.
    void UndoDialogEdits();
    void KeepDialogEdits();

    // Called when the connection was recreated with another driver.
    void Rebind();

signals:
    void Rebound();

private:
    void KeepCurrentAcross(const std::function<void()>& read);
    // Opens a closed table, or reads it again (whole, or what changed) keeping the current row; a
    // failure closes it.
    void ReadAgain(bool whole);
    // Reads what a refresh left marked, before the table is looked at.
    void CatchUp() const;
    QString Table;
    QString Connection;
    TTableModel* SqlModel = nullptr;
    QItemSelectionModel* CurrentRow = nullptr;
    bool Opened = false;
    QString Sort;
    Qt::SortOrder SortDirection = Qt::AscendingOrder;
    int Views = 0;
    bool Stale = false;
};

#pragma once

#include <QItemSelectionModel>
#include <QObject>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <functional>

// The table model behind a grid, with a check that can refuse a post and a notice after each post
// and delete.
class TTableModel : public QSqlTableModel {
    Q_OBJECT
public:
    TTableModel(QObject* parent, const QSqlDatabase& db) : QSqlTableModel(parent, db) {}

    // Returns false to refuse the post; the row then stays in editing.
    std::function<bool(const QSqlRecord& row)> BeforePost;
    // True while a row inserted through the grid has not been posted yet.
    bool HasPendingInsert() const;
    int PendingInsertedRow() const { return HasPendingInsert() ? PendingInsertRow : -1; }
    bool insertRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

signals:
    void AfterPost();

protected:
    bool updateRowInTable(int row, const QSqlRecord& values) override;
    bool insertRowIntoTable(const QSqlRecord& values) override;
    bool deleteRowFromTable(int row) override;

private:
    int PendingInsertRow = -1;
};

// One table object: a grid model with an open/closed state and a current row, on one connection.
class TDataTable : public QObject {
    Q_OBJECT
public:
    TDataTable(const QString& objectName, const QString& tableName, const QString& connectionName,
               QObject* parent = nullptr);

    const QString& TableName() const { return Table; }
    QString ConnectionName() const { return Connection; }
    TTableModel* Model() const { return SqlModel; }
    QItemSelectionModel* Selection() const { return CurrentRow; }

    // Opens the table when closed. Throws KorvexError when the table or one of its declared columns
    // is missing; the table then stays closed.
    void Open();
    void Close();
    bool IsOpen() const { return Opened; }

    // Re-reads the rows now in the database. Throws on failure (the table is then closed).
    void Reread();

    int RowCount() const;
    int Current() const;
    void SetCurrent(int row);
    QSqlRecord CurrentRecord() const;
    QSqlRecord Record(int row) const;
    int IdColumn() const;  // -1 when the table has no column "id"
    qint64 CurrentId() const;
    // Makes the row with this id current; false when there is none.
    bool LocateId(qint64 id);
    // Loads every row of the database result into the model.
    void FetchAll();

    // Sort order for the grid (column name, ascending); empty for the database's own order.
    void SetSortColumn(const QString& column);
    QString SortColumn() const { return Sort; }

    // Pending grid edits of an existing row (not a new row still being inserted).
    bool IsEditingExistingRow() const;
    bool PostEdits();
    void CancelEdits();

    // Called when the connection was recreated with another driver.
    void Rebind();

signals:
    void Rebound();

private:
    void CreateModel();
    QString Table;
    QString Connection;
    TTableModel* SqlModel = nullptr;
    QItemSelectionModel* CurrentRow = nullptr;
    bool Opened = false;
    QString Sort;
};

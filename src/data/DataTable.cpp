#include "data/DataTable.h"

#include "common/KorvexError.h"
#include "data/TableColumns.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>

bool TTableModel::HasPendingInsert() const { return PendingInsertRow >= 0 && isDirty(); }

bool TTableModel::insertRows(int row, int count, const QModelIndex& parent) {
    bool ok = QSqlTableModel::insertRows(row, count, parent);
    if (ok) PendingInsertRow = row;
    return ok;
}

bool TTableModel::updateRowInTable(int row, const QSqlRecord& values) {
    if (BeforePost) {
        QSqlRecord full = record(row);
        for (int i = 0; i < values.count(); ++i)
            if (values.isGenerated(i)) full.setValue(values.fieldName(i), values.value(i));
        if (!BeforePost(full)) return false;
    }
    bool ok = QSqlTableModel::updateRowInTable(row, values);
    if (ok) emit AfterPost();
    return ok;
}

bool TTableModel::insertRowIntoTable(const QSqlRecord& values) {
    if (BeforePost && !BeforePost(values)) return false;
    bool ok = QSqlTableModel::insertRowIntoTable(values);
    if (ok) {
        PendingInsertRow = -1;
        emit AfterPost();
    }
    return ok;
}

bool TTableModel::deleteRowFromTable(int row) {
    bool ok = QSqlTableModel::deleteRowFromTable(row);
    if (ok) emit AfterPost();
    return ok;
}

TDataTable::TDataTable(const QString& objectName, const QString& tableName, const QString& connectionName,
                       QObject* parent)
    : QObject(parent), Table(tableName), Connection(connectionName) {
    setObjectName(objectName);
    CreateModel();
}

void TDataTable::CreateModel() {
    auto* oldModel = SqlModel;
    auto* oldSelection = CurrentRow;
    SqlModel = new TTableModel(this, QSqlDatabase::database(Connection, false));
    SqlModel->setEditStrategy(QSqlTableModel::OnRowChange);
    CurrentRow = new QItemSelectionModel(SqlModel, this);
    if (oldModel) {
        SqlModel->BeforePost = oldModel->BeforePost;
        delete oldSelection;
        oldModel->deleteLater();
    }
}

void TDataTable::Rebind() {
    Opened = false;
    auto before = SqlModel->BeforePost;
    CreateModel();
    SqlModel->BeforePost = before;
    emit Rebound();
}

void TDataTable::Open() {
    if (Opened) return;
    QSqlDatabase db = QSqlDatabase::database(Connection, false);
    if (!db.isOpen()) throw KorvexError(QStringLiteral("Нет подключения к базе данных (%1)").arg(Table));
    SqlModel->setTable(Table);
    const QSqlRecord rec = SqlModel->record();
    if (rec.isEmpty()) throw KorvexError(QStringLiteral("Таблица %1 не найдена").arg(Table));
    for (const QString& col : DeclaredColumns(objectName())) {
        bool found = false;
        for (int i = 0; i < rec.count() && !found; ++i)
            found = rec.fieldName(i).compare(col, Qt::CaseInsensitive) == 0;
        if (!found) throw KorvexError(QStringLiteral("%1: поле '%2' не найдено").arg(objectName(), col));
    }
    if (!Sort.isEmpty()) {
        int c = rec.indexOf(Sort);
        if (c >= 0) SqlModel->setSort(c, Qt::AscendingOrder);
    }
    if (!SqlModel->select()) throw KorvexError(SqlModel->lastError().text());
    Opened = true;
    if (SqlModel->rowCount() > 0) SetCurrent(0);
}

void TDataTable::Close() {
    Opened = false;
    SqlModel->clear();
}

void TDataTable::Reread() {
    if (!Opened) {
        Open();
        return;
    }
    if (!SqlModel->select()) {
        QString msg = SqlModel->lastError().text();
        Close();
        throw KorvexError(msg);
    }
}

int TDataTable::RowCount() const { return Opened ? SqlModel->rowCount() : 0; }

int TDataTable::Current() const {
    if (!Opened) return -1;
    QModelIndex i = CurrentRow->currentIndex();
    if (i.isValid()) return i.row();
    return SqlModel->rowCount() > 0 ? 0 : -1;
}

void TDataTable::SetCurrent(int row) {
    if (row < 0 || row >= SqlModel->rowCount()) return;
    int col = std::max(0, CurrentRow->currentIndex().column());
    CurrentRow->setCurrentIndex(SqlModel->index(row, col), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QSqlRecord TDataTable::Record(int row) const { return SqlModel->record(row); }

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
    int col = IdColumn();
    int r = Current();
    if (col < 0 || r < 0) return 0;
    return SqlModel->data(SqlModel->index(r, col)).toLongLong();
}

bool TDataTable::LocateId(qint64 id) {
    int col = IdColumn();
    if (col < 0) return false;
    for (int r = 0;; ++r) {
        if (r >= SqlModel->rowCount()) {
            if (!SqlModel->canFetchMore()) return false;
            SqlModel->fetchMore();
            if (r >= SqlModel->rowCount()) return false;
        }
        if (SqlModel->data(SqlModel->index(r, col)).toLongLong() == id) {
            SetCurrent(r);
            return true;
        }
    }
}

void TDataTable::FetchAll() {
    while (SqlModel->canFetchMore()) SqlModel->fetchMore();
}

void TDataTable::SetSortColumn(const QString& column) {
    if (column.compare(Sort, Qt::CaseInsensitive) == 0) return;
    Sort = column;
    if (!Opened) return;
    int c = SqlModel->record().indexOf(column);
    if (c < 0) return;
    qint64 keep = CurrentId();
    SqlModel->setSort(c, Qt::AscendingOrder);
    SqlModel->select();
    if (!LocateId(keep) && SqlModel->rowCount() > 0) SetCurrent(0);
}

bool TDataTable::IsEditingExistingRow() const { return Opened && SqlModel->isDirty() && !SqlModel->HasPendingInsert(); }

bool TDataTable::PostEdits() {
    if (SqlModel->submitAll()) return true;
    // A post refused by the table's own check has already told the operator why.
    if (SqlModel->lastError().type() == QSqlError::NoError) return false;
    throw KorvexError(SqlModel->lastError().text());
}

void TDataTable::CancelEdits() { SqlModel->revertAll(); }

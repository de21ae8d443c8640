#pragma once

#include <QString>
#include <QStringList>

// The columns each table object declares. A database that lacks one of them cannot open that table.
QStringList DeclaredColumns(const QString& tableObject);

// The title a grid shows for a column of the tables the operator keeps (instruments, clients) and of
// the transaction report; a message about a cell names the column by it. The field itself when it
// has none.
QString ColumnTitle(const QString& tableObject, const QString& field);
// A cell as a message names it: the table by the window that shows it, the row by its code and the
// column by its title, as in Инструменты, строка "SBER", колонка "Лот". An empty code is a new row.
QString CellName(const QString& tableObject, const QString& rowCode, const QString& field);

#pragma once

#include "ui/FieldsProxy.h"

#include <QTableView>
#include <QWidget>
#include <functional>

class TDataTable;
class QHeaderView;

// One footer row under a grid: static texts aligned with the grid's columns.
class TFooterBar : public QWidget {
    Q_OBJECT
public:
    TFooterBar(QTableView* view, std::function<QString(int)> textOf, QWidget* parent = nullptr);
    void SetColor(const QColor& c) { Color = c; update(); }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QTableView* View;
    std::function<QString(int)> TextOf;
    QColor Color = QColor(Qt::cyan);
};

// A grid bound to a table object: the listed columns with their titles and formats, the table's
// current row kept in step with the grid's, and an optional footer row.
class TDbGrid : public QWidget {
    Q_OBJECT
public:
    TDbGrid(TDataTable* table, QVector<TGridColumn> columns, bool editable, bool footer = false, QWidget* parent = nullptr);

    QTableView* View() const { return Table; }
    TFieldsProxy* Proxy() const { return FieldsProxy; }
    TDataTable* Source() const { return Data; }
    TFooterBar* Footer() const { return FooterRow; }
    // Sets the footer text of the column that shows `field`.
    void SetFooter(const QString& field, const QString& text);
    QString FooterText(const QString& field) const;
    // Tinted even rows (the portfolio strip).
    void SetEvenRowColor(const QColor& c);

signals:
    void TitleClicked(const QString& field);

private:
    void Bind();
    void ApplyColumns();
    void FromTableToView();
    void FromViewToTable(const QModelIndex& current);
    TDataTable* Data;
    QTableView* Table;
    TFieldsProxy* FieldsProxy;
    TFooterBar* FooterRow = nullptr;
    QHash<QString, QString> FooterTexts;  // by field, lower case
    bool Syncing = false;
};

#pragma once

#include "ui/FieldsProxy.h"

#include <QPushButton>
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
    void SetColor(const QColor& c) {
        Color = c;
        update();
    }
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
    TDbGrid(TDataTable* table, QVector<TGridColumn> columns, bool editable, bool footer = false,
            QWidget* parent = nullptr);

    QTableView* View() const { return Table; }
    TFieldsProxy* Proxy() const { return FieldsProxy; }
    TDataTable* Source() const { return Data; }
    TFooterBar* Footer() const { return FooterRow; }
    // Sets the footer text of the column that shows `field`.
    void SetFooter(const QString& field, const QString& text);
    QString FooterText(const QString& field) const;
    // Tinted even rows (the portfolio strip).
    void SetEvenRowColor(const QColor& c);

    // Runs the post of a row the operator left; an error goes to the general error report.
    std::function<void(const std::function<void()>&)> Run;

    // For tables that grow: the view follows the newest row unless the operator scrolled away or
    // selected a row; while a row is selected a hint says that new rows arrive out of sight.
    void FollowNewestRows();
    // The source row the operator selected (highlighted), -1 when none. In a read-only grid only the
    // operator selects: a re-read keeps his row by its id or drops the selection, never moves it to
    // another row.
    int SelectedRow() const;
    void ClearSelection();
    // Shown while following is held by a selected row.
    QWidget* NewRowsHint() const { return Hint; }
    // The operator's layout: the fields in the order shown, each with its width ("Symbol=120").
    QStringList Layout() const;
    // Takes a layout saved earlier; fields it does not name keep their place after the named ones.
    void SetLayout(const QStringList& layout);
    // Sizes every column to its title and to the values of the first rows.
    void FitColumnsToContents();

signals:
    void TitleClicked(const QString& field);
    // The operator selected another row or none.
    void SelectionChanged();

protected:
    // The font a grid is finally shown with is known only once it is polished and shown: titles sized
    // with the font of its creation could be cut.
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void Bind();
    void ApplyColumns();
    void FromTableToView();
    void FromViewToTable(const QModelIndex& current, const QModelIndex& previous);
    bool AtBottom() const;
    // A growing table's newest row: at the end, or where the table's sort puts it.
    bool NewestInView() const;
    void ShowNewest();
    // The sort arrow beside the title of the column the table is sorted by.
    void ShowSortIndicator();
    // A click on a title sorts by its column, a second one the other way; not while rows are edited.
    void SortBy(const QString& field);
    void UpdateHint();
    void PlaceHint();
    void SelectionMoved();
    void RememberView();
    void RestoreView();
    int TitleWidth(int column) const;
    void GrowToContents();
    // Widens every column narrower than its title, unless the operator sized the columns.
    void FitTitles();
    TDataTable* Data;
    QTableView* Table;
    TFieldsProxy* FieldsProxy;
    TFooterBar* FooterRow = nullptr;
    QHash<QString, QString> FooterTexts; // by field, lower case
    bool Syncing = false;
    // Column widths by field (lower case) and the order of the fields, as the operator left them.
    QHash<QString, int> Widths;
    QStringList Order;
    bool Adjusting = false;      // the grid itself moves or sizes sections
    bool SizedToContent = false; // sized once rows were there, or a saved layout was taken
    // What a re-read of the whole table must not take from the operator.
    struct TViewPlace {
        int HScroll = 0, VScroll = 0;
        bool AtBottom = true;
        qint64 Id = 0;
        int Row = -1;
        QString Field;
        bool Selected = false;
        bool Valid = false;
    } Place;
    QPushButton* Hint = nullptr;
    bool Editable = false;
    bool OperatorSized = false; // the operator sized or moved a column, now or in an earlier run
    bool GrowQueued = false;
    bool Follows = false;
    bool Following = true; // the view shows the newest rows and keeps doing so
    bool Paused = false;   // ... but holds still for the row the operator selected
};

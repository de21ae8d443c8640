#include "ui/DbGrid.h"

#include "data/DataTable.h"

#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

TFooterBar::TFooterBar(QTableView* view, std::function<QString(int)> textOf, QWidget* parent)
    : QWidget(parent), View(view), TextOf(std::move(textOf)) {
    auto repaint = [this] { update(); };
    connect(view->horizontalHeader(), &QHeaderView::sectionResized, this, repaint);
    connect(view->horizontalHeader(), &QHeaderView::sectionMoved, this, repaint);
    connect(view->horizontalHeader(), &QHeaderView::geometriesChanged, this, repaint);
    connect(view->horizontalScrollBar(), &QScrollBar::valueChanged, this, repaint);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize TFooterBar::sizeHint() const {
    return {100, fontMetrics().height() + 6};
}

void TFooterBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Color);
    QHeaderView* h = View->horizontalHeader();
    const int offset = View->verticalHeader()->isVisible() ? View->verticalHeader()->width() : 0;
    p.setPen(palette().color(QPalette::Mid));
    for (int c = 0; c < h->count(); ++c) {
        if (h->isSectionHidden(c)) continue;
        const int x = offset + View->frameWidth() + h->sectionViewportPosition(c);
        const QRect cell(x, 0, h->sectionSize(c), height());
        p.setPen(palette().color(QPalette::Mid));
        p.drawLine(cell.topRight(), cell.bottomRight());
        p.setPen(palette().color(QPalette::Text));
        p.drawText(cell.adjusted(3, 0, -3, 0), Qt::AlignRight | Qt::AlignVCenter, TextOf(c));
    }
}

namespace {
// Paints every second row with a tint.
class TTintDelegate : public QStyledItemDelegate {
public:
    TTintDelegate(const QColor& c, QObject* parent) : QStyledItemDelegate(parent), Tint(c) {}
    void paint(QPainter* p, const QStyleOptionViewItem& o, const QModelIndex& i) const override {
        if (i.row() % 2 == 1) p->fillRect(o.rect, Tint);
        QStyledItemDelegate::paint(p, o, i);
    }
    QColor Tint;
};
} // namespace

TDbGrid::TDbGrid(TDataTable* table, QVector<TGridColumn> columns, bool editable, bool footer, QWidget* parent)
    : QWidget(parent), Data(table), Table(new QTableView(this)),
      FieldsProxy(new TFieldsProxy(std::move(columns), editable, this)) {
    table->AddView();
    connect(this, &QObject::destroyed, table, [table] { table->RemoveView(); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Table);
    if (footer) {
        FooterRow = new TFooterBar(
            Table, [this](int c) { return FooterTexts.value(FieldsProxy->FieldAt(c).toLower()); }, this);
        layout->addWidget(FooterRow);
    }
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    // The selected row reads as selected also while the focus is elsewhere (on the toolbar button
    // that is about to act on it), not as a faint frame.
    QPalette pal = Table->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    Table->setPalette(pal);
    Table->installEventFilter(this);
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
    // Row numbers gain a digit now and then: room for five keeps the columns from shifting under the eye.
    Table->verticalHeader()->setMinimumWidth(
        Table->verticalHeader()->fontMetrics().horizontalAdvance(QStringLiteral("00000")) +
        2 * Table->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, Table->verticalHeader()) + 4);
    Editable = editable;
    if (!editable) Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(Table->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int logical, int, int size) {
                if (Adjusting) return;
                Widths[FieldsProxy->FieldAt(logical).toLower()] = size;
                SizedToContent = true;
                OperatorSized = true;
            });
    connect(Table->horizontalHeader(), &QHeaderView::sectionMoved, this, [this] {
        if (Adjusting) return;
        QHeaderView* h = Table->horizontalHeader();
        Order.clear();
        for (int v = 0; v < h->count(); ++v)
            Order << FieldsProxy->FieldAt(h->logicalIndex(v)).toLower();
    });
    Table->horizontalHeader()->setSectionsMovable(true);
    Table->horizontalHeader()->setTextElideMode(Qt::ElideRight);
    connect(Table->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int logical) {
        const QString field = FieldsProxy->FieldAt(logical);
        SortBy(field);
        emit TitleClicked(field);
        ShowSortIndicator(); // the header turns its arrow on a click: it shows the table's own order
    });
    connect(Data, &TDataTable::Rebound, this, &TDbGrid::Bind);
    Bind();
}

void TDbGrid::Bind() {
    FieldsProxy->setSourceModel(Data->Model());
    Table->setModel(FieldsProxy);
    connect(FieldsProxy, &TFieldsProxy::ColumnsMapped, this, &TDbGrid::ApplyColumns, Qt::UniqueConnection);
    connect(FieldsProxy, &QAbstractItemModel::modelAboutToBeReset, this, &TDbGrid::RememberView,
            Qt::UniqueConnection);
    connect(FieldsProxy, &QAbstractItemModel::modelReset, this, &TDbGrid::RestoreView, Qt::UniqueConnection);
    connect(FieldsProxy, &QAbstractItemModel::rowsInserted, this, &TDbGrid::GrowToContents,
            Qt::UniqueConnection);
    connect(FieldsProxy, &QAbstractItemModel::dataChanged, this, &TDbGrid::GrowToContents,
            Qt::UniqueConnection);
    connect(FieldsProxy, &QAbstractItemModel::modelReset, this, &TDbGrid::GrowToContents,
            Qt::UniqueConnection);
    connect(FieldsProxy, &QAbstractItemModel::modelReset, this, &TDbGrid::ShowSortIndicator,
            Qt::UniqueConnection);
    connect(Data->Selection(), &QItemSelectionModel::currentChanged, this, &TDbGrid::FromTableToView,
            Qt::UniqueConnection);
    connect(Table->selectionModel(), &QItemSelectionModel::currentChanged, this, &TDbGrid::FromViewToTable,
            Qt::UniqueConnection);
    connect(Table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TDbGrid::SelectionMoved,
            Qt::UniqueConnection);
    ApplyColumns();
}

int TDbGrid::SelectedRow() const {
    const QItemSelectionModel* sel = Table->selectionModel();
    if (!sel) return -1;
    const QModelIndexList rows = sel->selectedIndexes();
    if (rows.isEmpty()) return -1;
    return FieldsProxy->mapToSource(rows.first()).row();
}

void TDbGrid::ClearSelection() {
    if (Table->selectionModel()) Table->selectionModel()->clearSelection();
}

void TDbGrid::SelectionMoved() {
    if (SelectedRow() < 0 && Paused) {
        // The operator let go of his row: the view catches up with what came meanwhile.
        Paused = false;
        Following = true;
        ShowNewest();
    }
    UpdateHint();
    emit SelectionChanged();
}

void TDbGrid::UpdateHint() {
    if (!Follows) return;
    if (Paused && NewestInView()) Paused = false;
    const bool show = Paused && SelectedRow() >= 0;
    if (!Hint) {
        if (!show) return;
        Hint = new QPushButton(QStringLiteral("\u25bc Новые строки ниже: выбрана строка (Esc — снять выбор)"),
                               this);
        Hint->setObjectName(QStringLiteral("NewRowsHint"));
        Hint->setCursor(Qt::PointingHandCursor);
        Hint->setStyleSheet(
            QStringLiteral("QPushButton { background: #fcf3cf; color: #7d6608; border: 1px solid "
                           "#b7950b; padding: 2px 8px; }"));
        connect(Hint, &QPushButton::clicked, this, &TDbGrid::ClearSelection);
    }
    Hint->setVisible(show);
    if (show) PlaceHint();
}

void TDbGrid::PlaceHint() {
    if (!Hint) return;
    Hint->adjustSize();
    const QRect vp = Table->viewport()->geometry().translated(Table->geometry().topLeft());
    Hint->move(std::max(vp.left(), vp.right() - Hint->width() - 8), vp.bottom() - Hint->height() - 6);
    Hint->raise();
}

void TDbGrid::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    PlaceHint();
}

bool TDbGrid::eventFilter(QObject* watched, QEvent* e) {
    if (watched == Table && e->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape && SelectedRow() >= 0 && !Editable) {
        ClearSelection();
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

void TDbGrid::SortBy(const QString& field) {
    // Re-sorting reads the rows anew: rows being typed would be lost.
    if (field.isEmpty() || Data->Model()->isDirty()) return;
    const bool same = Data->SortColumn().compare(field, Qt::CaseInsensitive) == 0;
    const Qt::SortOrder order =
        same && Data->SortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    auto sort = [this, field, order] { Data->SetSortColumn(field, order); };
    if (Run)
        Run(sort);
    else {
        try {
            sort();
        } catch (const std::exception&) {
            // The table closed itself; the next refresh opens it again in the new order.
        }
    }
}

void TDbGrid::FollowNewestRows() {
    if (Follows) return;
    Follows = true;
    // A growing table follows its newest row, as QUIK's tables do, unless the operator scrolled away;
    // its range grows also while its page is not shown.
    QScrollBar* v = Table->verticalScrollBar();
    connect(v, &QScrollBar::valueChanged, this, [this] {
        if (!Place.Valid && !Adjusting) Following = NewestInView();
    });
    connect(v, &QScrollBar::rangeChanged, this, [this] {
        if (Place.Valid || !Following) return;
        // A selected row is what the operator is about to act on: it stays where he sees it.
        if (SelectedRow() >= 0)
            Paused = true;
        else
            ShowNewest();
        UpdateHint();
    });
}

bool TDbGrid::AtBottom() const {
    const QScrollBar* v = Table->verticalScrollBar();
    return v->value() >= v->maximum();
}

bool TDbGrid::NewestInView() const {
    if (Data->SortColumn().isEmpty()) return AtBottom();
    const int row = Data->Model()->newestRow();
    if (row < 0) return true;
    const QRect r = Table->visualRect(FieldsProxy->mapFromSource(Data->Model()->index(row, 0)));
    return r.isValid() && r.top() >= 0 && r.bottom() <= Table->viewport()->height();
}

void TDbGrid::ShowNewest() {
    QScrollBar* v = Table->verticalScrollBar();
    const int row = Data->SortColumn().isEmpty() ? -1 : Data->Model()->newestRow();
    if (row < 0) {
        v->setValue(v->maximum());
        return;
    }
    // Sorted: the newest row is wherever the sort put it, not at the end.
    const bool adjusting = std::exchange(Adjusting, true);
    const int h = Table->horizontalScrollBar()->value();
    Table->scrollTo(FieldsProxy->mapFromSource(Data->Model()->index(row, 0)));
    Table->horizontalScrollBar()->setValue(h);
    Adjusting = adjusting;
}

void TDbGrid::ShowSortIndicator() {
    QHeaderView* h = Table->horizontalHeader();
    const QString sort = Data->SortColumn();
    const int column = sort.isEmpty() ? -1 : FieldsProxy->ColumnOf(sort);
    h->setSortIndicatorShown(column >= 0);
    if (column >= 0) h->setSortIndicator(column, Data->SortOrder());
}

void TDbGrid::RememberView() {
    Place = TViewPlace();
    Place.Valid = true;
    Place.HScroll = Table->horizontalScrollBar()->value();
    Place.VScroll = Table->verticalScrollBar()->value();
    Place.AtBottom = Follows ? NewestInView() : AtBottom();
    const int selected = SelectedRow();
    Place.Selected = selected >= 0;
    QModelIndex cur = Table->currentIndex();
    if (Place.Selected && (!cur.isValid() || FieldsProxy->mapToSource(cur).row() != selected))
        cur = FieldsProxy->mapFromSource(Data->Model()->index(selected, 0));
    if (cur.isValid()) {
        const QModelIndex src = FieldsProxy->mapToSource(cur);
        Place.Row = src.row();
        Place.Id = Data->Model()->hasIdColumn() ? Data->Model()->idAt(src.row()) : 0;
        Place.Field = FieldsProxy->FieldAt(cur.column());
    }
}

void TDbGrid::RestoreView() {
    if (!Place.Valid) return;
    Place.Valid = false;
    TTableModel* m = Data->Model();
    if (m->rowCount() == 0) {
        Following = true;
        return;
    }
    int row = Place.Id != 0 ? m->rowOfId(Place.Id) : Place.Row;
    // A read-only grid's selection is the operator's: a row that went away takes it along, it never
    // passes to a neighbour he did not choose.
    const bool lost = row < 0 || row >= m->rowCount();
    if (lost) row = Place.Row >= 0 ? std::min(Place.Row, m->rowCount() - 1) : -1;
    const bool select = Place.Selected && (Editable || !lost);
    Table->doItemsLayout();
    if (row >= 0) {
        const int column = std::max(0, FieldsProxy->ColumnOf(Place.Field));
        const QModelIndex idx = FieldsProxy->mapFromSource(m->index(row, 0)).siblingAtColumn(column);
        const bool scroll = Table->hasAutoScroll();
        Table->setAutoScroll(false);
        Table->selectionModel()->setCurrentIndex(
            idx, select || Editable ? QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows
                                    : QItemSelectionModel::Clear);
        Table->setAutoScroll(scroll);
    }
    Table->horizontalScrollBar()->setValue(Place.HScroll);
    if (Follows && Place.AtBottom && SelectedRow() < 0)
        ShowNewest();
    else
        Table->verticalScrollBar()->setValue(Place.VScroll);
    const int h = Table->horizontalScrollBar()->value();
    if (SelectedRow() >= 0 && Place.AtBottom && Follows) Paused = true;
    if (select && row >= 0) Table->scrollTo(Table->currentIndex(), QAbstractItemView::EnsureVisible);
    Table->horizontalScrollBar()->setValue(h);
    Following = Place.AtBottom;
    UpdateHint();
}

int TDbGrid::TitleWidth(int column) const {
    QHeaderView* h = Table->horizontalHeader();
    const QString title = FieldsProxy->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    // A title is drawn bold while its section is highlighted (a row is current): measured so. The
    // header's own margins on both sides, and room for the sort arrow of the sortable grids.
    QFont bold = h->font();
    bold.setBold(true);
    return QFontMetrics(bold).horizontalAdvance(title) +
           3 * h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h) +
           h->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, h);
}

void TDbGrid::ApplyColumns() {
    QHeaderView* h = Table->horizontalHeader();
    const auto& columns = FieldsProxy->Columns();
    Adjusting = true;
    QStringList order = Order;
    for (const TGridColumn& c : columns)
        if (!order.contains(c.Field.toLower())) order << c.Field.toLower();
    int visualTarget = 0;
    for (const QString& field : order) {
        const int logical = FieldsProxy->ColumnOf(field);
        if (logical < 0) continue;
        const int visual = h->visualIndex(logical);
        if (visual != visualTarget && visualTarget < h->count()) h->moveSection(visual, visualTarget);
        ++visualTarget;
    }
    for (const TGridColumn& c : columns) {
        const int logical = FieldsProxy->ColumnOf(c.Field);
        if (logical < 0) continue;
        const int width = Widths.value(c.Field.toLower(), std::max(c.Width, TitleWidth(logical)));
        if (h->sectionSize(logical) != width) h->resizeSection(logical, width);
    }
    Adjusting = false;
    if (!SizedToContent && Data->Model()->rowCount() > 0) FitColumnsToContents();
}

void TDbGrid::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    FitTitles();
}

void TDbGrid::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) FitTitles();
}

void TDbGrid::FitTitles() {
    if (OperatorSized) return;
    QHeaderView* h = Table->horizontalHeader();
    Adjusting = true;
    for (int c = 0; c < h->count(); ++c) {
        const int title = TitleWidth(c);
        if (h->sectionSize(c) >= title) continue;
        h->resizeSection(c, title);
        Widths[FieldsProxy->FieldAt(c).toLower()] = title;
    }
    Adjusting = false;
}

void TDbGrid::GrowToContents() {
    // Until the operator sizes a column himself, columns widen for values that arrive later (a
    // position's entry time, a longer strategy name); they never shrink under his eyes.
    if (OperatorSized || GrowQueued) return;
    GrowQueued = true;
    QTimer::singleShot(0, this, [this] {
        GrowQueued = false;
        if (OperatorSized) return;
        const QHash<QString, int> before = Widths;
        FitColumnsToContents();
        QHeaderView* h = Table->horizontalHeader();
        Adjusting = true;
        for (int c = 0; c < h->count(); ++c) {
            const QString field = FieldsProxy->FieldAt(c).toLower();
            const int width = std::max(before.value(field), Widths.value(field));
            Widths[field] = width;
            if (h->sectionSize(c) != width) h->resizeSection(c, width);
        }
        Adjusting = false;
    });
}

void TDbGrid::FitColumnsToContents() {
    QHeaderView* h = Table->horizontalHeader();
    const QFontMetrics fm(Table->font());
    const int rows = std::min(FieldsProxy->rowCount(), 40);
    Adjusting = true;
    for (int c = 0; c < FieldsProxy->columnCount(); ++c) {
        const QString field = FieldsProxy->FieldAt(c);
        const TGridColumn* listed = nullptr;
        for (const TGridColumn& g : FieldsProxy->Columns())
            if (g.Field.compare(field, Qt::CaseInsensitive) == 0) listed = &g;
        int width = std::max(listed ? listed->Width : 0, TitleWidth(c));
        for (int r = 0; r < rows; ++r) {
            const QModelIndex i = FieldsProxy->index(r, c);
            int cell = fm.horizontalAdvance(i.data(Qt::DisplayRole).toString()) + 12;
            if (i.data(Qt::CheckStateRole).isValid()) cell = std::max(cell, 28);
            width = std::max(width, cell);
        }
        width = std::min(width, 360);
        Widths[field.toLower()] = width;
        h->resizeSection(c, width);
    }
    Adjusting = false;
    SizedToContent = Data->Model()->rowCount() > 0;
}

QStringList TDbGrid::Layout() const {
    QHeaderView* h = Table->horizontalHeader();
    QStringList out;
    for (int v = 0; v < h->count(); ++v) {
        const int logical = h->logicalIndex(v);
        out << QStringLiteral("%1=%2").arg(FieldsProxy->FieldAt(logical)).arg(h->sectionSize(logical));
    }
    if (out.isEmpty())
        for (const QString& f : Order)
            out << QStringLiteral("%1=%2").arg(f).arg(Widths.value(f));
    return out;
}

void TDbGrid::SetLayout(const QStringList& layout) {
    Order.clear();
    for (const QString& item : layout) {
        const QString field = item.section(QLatin1Char('='), 0, -2).toLower();
        const int width = item.section(QLatin1Char('='), -1).toInt();
        if (field.isEmpty()) continue;
        Order << field;
        if (width > 0) Widths[field] = width;
    }
    SizedToContent = SizedToContent || !Order.isEmpty();
    OperatorSized = OperatorSized || !Order.isEmpty();
    ApplyColumns();
}

void TDbGrid::FromTableToView() {
    // Only the operator selects in a read-only grid (the table makes its first row current by itself).
    if (Syncing || !Editable) return;
    const int row = Data->Current();
    if (row < 0) return;
    const QModelIndex src = Data->Model()->index(row, 0);
    const QModelIndex first = FieldsProxy->mapFromSource(src);
    if (!first.isValid()) return;
    const QModelIndex cur = Table->currentIndex();
    // The same row already: the operator's column and scroll position stay as they are.
    if (cur.isValid() && cur.row() == first.row()) return;
    Syncing = true;
    const QModelIndex idx = cur.isValid() ? first.siblingAtColumn(cur.column()) : first;
    const bool scroll = Table->hasAutoScroll();
    Table->setAutoScroll(false);
    Table->selectionModel()->setCurrentIndex(idx,
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    // The table moved its row by itself (a re-read): the view stays where the operator put it.
    Table->setAutoScroll(scroll);
    Syncing = false;
}

void TDbGrid::FromViewToTable(const QModelIndex& current, const QModelIndex& previous) {
    if (Syncing || !current.isValid()) return;
    if (Editable && previous.isValid() && previous.row() != current.row() && Data->Model()->isDirty()) {
        // Leaving an edited row posts it, as a table grid does, once the view is done with this move:
        // the post reads the table anew, and an index the view still keeps of the move would outlive
        // it (and bring the program down at the next removal of a row). The row to go to is then found
        // again by its place.
        const int row = current.row();
        const int column = current.column();
        QTimer::singleShot(0, this, [this, row, column] {
            if (!Data->Model()->isDirty()) return;
            auto post = [this] { Data->PostEdits(); };
            if (Run)
                Run(post);
            else {
                try {
                    post();
                } catch (const std::exception&) {
                    // Not posted: the edit stays in the row, and OK or the navigator's post tries again.
                }
            }
            if (row < FieldsProxy->rowCount()) Table->setCurrentIndex(FieldsProxy->index(row, column));
        });
        return;
    }
    Syncing = true;
    Data->SetCurrent(FieldsProxy->mapToSource(current).row());
    Syncing = false;
}

void TDbGrid::SetFooter(const QString& field, const QString& text) {
    FooterTexts[field.toLower()] = text;
    if (FooterRow) FooterRow->update();
}

QString TDbGrid::FooterText(const QString& field) const {
    return FooterTexts.value(field.toLower());
}

void TDbGrid::SetEvenRowColor(const QColor& c) {
    Table->setItemDelegate(new TTintDelegate(c, Table));
}

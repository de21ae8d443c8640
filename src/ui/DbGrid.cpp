#include "ui/DbGrid.h"

#include "data/DataTable.h"

#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
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

QSize TFooterBar::sizeHint() const { return {100, fontMetrics().height() + 6}; }

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
    : QWidget(parent), Data(table), Table(new QTableView(this)), FieldsProxy(new TFieldsProxy(std::move(columns), editable, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Table);
    if (footer) {
        FooterRow = new TFooterBar(Table, [this](int c) { return FooterTexts.value(FieldsProxy->FieldAt(c).toLower()); }, this);
        layout->addWidget(FooterRow);
    }
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
    if (!editable) Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(Table->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int logical) { emit TitleClicked(FieldsProxy->FieldAt(logical)); });
    connect(Data, &TDataTable::Rebound, this, &TDbGrid::Bind);
    Bind();
}

void TDbGrid::Bind() {
    FieldsProxy->setSourceModel(Data->Model());
    Table->setModel(FieldsProxy);
    connect(FieldsProxy, &TFieldsProxy::ColumnsMapped, this, &TDbGrid::ApplyColumns, Qt::UniqueConnection);
    connect(FieldsProxy, &QAbstractItemModel::modelReset, this, &TDbGrid::FromTableToView, Qt::UniqueConnection);
    connect(Data->Selection(), &QItemSelectionModel::currentChanged, this, &TDbGrid::FromTableToView, Qt::UniqueConnection);
    connect(Table->selectionModel(), &QItemSelectionModel::currentChanged, this, &TDbGrid::FromViewToTable, Qt::UniqueConnection);
    ApplyColumns();
}

void TDbGrid::ApplyColumns() {
    QHeaderView* h = Table->horizontalHeader();
    const auto& columns = FieldsProxy->Columns();
    for (int i = 0; i < columns.size(); ++i) {
        const int logical = FieldsProxy->ColumnOf(columns[i].Field);
        if (logical < 0) continue;
        const int visual = h->visualIndex(logical);
        if (visual != i && i < h->count()) h->moveSection(visual, i);
        if (columns[i].Width > 0) h->resizeSection(logical, columns[i].Width);
    }
}

void TDbGrid::FromTableToView() {
    if (Syncing) return;
    Syncing = true;
    const int row = Data->Current();
    if (row >= 0) {
        const QModelIndex src = Data->Model()->index(row, 0);
        const QModelIndex idx = FieldsProxy->mapFromSource(src);
        if (idx.isValid()) Table->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    Syncing = false;
}

void TDbGrid::FromViewToTable(const QModelIndex& current) {
    if (Syncing || !current.isValid()) return;
    Syncing = true;
    Data->SetCurrent(FieldsProxy->mapToSource(current).row());
    Syncing = false;
}

void TDbGrid::SetFooter(const QString& field, const QString& text) {
    FooterTexts[field.toLower()] = text;
    if (FooterRow) FooterRow->update();
}

QString TDbGrid::FooterText(const QString& field) const { return FooterTexts.value(field.toLower()); }

void TDbGrid::SetEvenRowColor(const QColor& c) { Table->setItemDelegate(new TTintDelegate(c, Table)); }

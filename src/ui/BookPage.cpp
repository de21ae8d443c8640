#include "ui/BookPage.h"

#include "common/Journal.h"
#include "data/DataTable.h"
#include "data/SqlRun.h"
#include "robot/Engine.h"
#include "ui/DbGrid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

class TBookDelegate : public QStyledItemDelegate {
public:
    TBookDelegate(TBookPage* page) : QStyledItemDelegate(page), Page(page) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        return Page->MayEdit(index) ? QStyledItemDelegate::createEditor(parent, option, index) : nullptr;
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
        const QVariant before = index.data(Qt::EditRole);
        QStyledItemDelegate::setModelData(editor, model, index);
        const QVariant after = index.data(Qt::EditRole);
        if (before.toString() != after.toString()) Page->Edited(index, before, after);
    }

private:
    TBookPage* Page;
};

QString Field(const QSqlRecord& r, const char* name) {
    return JournalField(ColumnText(r, QString::fromLatin1(name)), 60);
}

} // namespace

TBookPage::TBookPage(TEngine& engine, QWidget* parent) : QWidget(parent), Robot(engine) {
    Confirm = [this](const QString& q) {
        return QMessageBox::question(this, window()->windowTitle(), q, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    ShowMessage = [this](const QString& m) { QMessageBox::warning(this, window()->windowTitle(), m); };
    BookGrid = new TDbGrid(engine.DatMod().tClientOpenPositions,
                           {{"code", "Код клиента"},
                            {"symbol", "Символ"},
                            {"quantity", "Кол-во лот"},
                            {"System", "Стратегия"},
                            {"Signal", "Сигнал"},
                            {"Workspace", "Рабочая область"},
                            {"Interval", "Интервал"}},
                           true, false, this);
    BookGrid->setObjectName(QStringLiteral("grdClientOpenPositions"));
    BookGrid->View()->setItemDelegate(new TBookDelegate(this));
    // Every write of the book, also the one of leaving an edited row, is confirmed first; what the
    // grid runs otherwise (a new sort order) runs as it is.
    BookGrid->Run = [this](const std::function<void()>& f) {
        Robot.RunEvent([this, &f] {
            if (BookGrid->Source()->Model()->isDirty())
                Commit();
            else
                f();
        });
    };
    BookGrid->View()->installEventFilter(this);

    auto* bar = new QToolBar(this);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto add = [this, bar](const QString& text, const QString& tip, auto fn) {
        QAction* a = bar->addAction(text);
        a->setToolTip(tip);
        connect(a, &QAction::triggered, this, [this, fn] { Robot.RunEvent(fn); });
    };
    add(QStringLiteral("Добавить позицию"), QStringLiteral("Новая строка книги позиций"),
        [this] { AddPosition(); });
    add(QStringLiteral("Удалить позицию"), QStringLiteral("Удалить выбранную позицию из книги (Delete)"),
        [this] { DeleteSelected(); });
    add(QStringLiteral("Записать"), QStringLiteral("Записать новую позицию"), [this] { Commit(); });
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);
    l->addWidget(bar);
    l->addWidget(BookGrid, 1);
}

QString TBookPage::Describe(const QSqlRecord& r) {
    return QStringLiteral("клиент %1, %2, стратегия %3, сигнал %4, раб. область %5, интервал %6")
        .arg(Field(r, "code"), Field(r, "symbol"), Field(r, "System"), Field(r, "Signal"),
             Field(r, "Workspace"), Field(r, "Interval"));
}

void TBookPage::Journal(const QString& text) {
    Robot.Journal().AddJournalLine(QStringLiteral("Открытые позиции (QUIK): ") + text);
    Robot.Journal().FlushJournal();
}

bool TBookPage::MayEdit(const QModelIndex& proxyIndex) const {
    TTableModel* m = BookGrid->Source()->Model();
    const int row = BookGrid->Proxy()->mapToSource(proxyIndex).row();
    return row == m->PendingInsertedRow() ||
           BookGrid->Proxy()
                   ->FieldAt(proxyIndex.column())
                   .compare(QLatin1String("quantity"), Qt::CaseInsensitive) == 0;
}

void TBookPage::Edited(const QModelIndex& proxyIndex, const QVariant& before, const QVariant& after) {
    TTableModel* m = BookGrid->Source()->Model();
    const int row = BookGrid->Proxy()->mapToSource(proxyIndex).row();
    if (row == m->PendingInsertedRow()) return; // told when the new row is written
    Change = TChange{m->idAt(row), Describe(m->record(row)), before, after};
    // Asked once the grid has closed its editor: a question inside the editor's commit would close it
    // a second time.
    QTimer::singleShot(0, this, [this] { Robot.RunEvent([this] { Commit(); }); });
}

void TBookPage::Commit() {
    if (Committing) return;
    TDataTable* t = BookGrid->Source();
    TTableModel* m = t->Model();
    if (!m->isDirty()) {
        Change.reset();
        return;
    }
    QStringList questions, lines;
    if (Change) {
        bool whole = false;
        const qint64 lots = Change->After.toString().trimmed().toLongLong(&whole);
        if (!whole || lots < 0) {
            ShowMessage(QStringLiteral("Количество позиции — целое число лотов не меньше 0."));
            t->CancelEdits();
            Change.reset();
            return;
        }
        questions << QStringLiteral("Изменить количество позиции (%1): было %2, станет %3?")
                         .arg(Change->Keys, Change->Before.toString(), QString::number(lots));
        lines << QStringLiteral("оператор изменил количество позиции (%1): было %2, стало %3.")
                     .arg(Change->Keys, Change->Before.toString(), QString::number(lots));
    }
    const int added = m->PendingInsertedRow();
    if (added >= 0) {
        const QSqlRecord r = m->record(added);
        bool typed = false;
        for (int c = 0; c < r.count(); ++c)
            typed = typed || !r.value(c).toString().isEmpty();
        if (typed) {
            bool whole = false;
            const qint64 lots = ColumnText(r, QStringLiteral("quantity")).trimmed().toLongLong(&whole);
            if (ColumnText(r, QStringLiteral("code")).isEmpty() ||
                ColumnText(r, QStringLiteral("symbol")).isEmpty() || !whole || lots < 0) {
                ShowMessage(QStringLiteral("Новая позиция: заполните «Код клиента», «Символ» и «Кол-во лот» "
                                           "(целое число не меньше 0)."));
                return;
            }
            questions << QStringLiteral("Добавить позицию (%1), количество %2?").arg(Describe(r)).arg(lots);
            lines
                << QStringLiteral("оператор добавил позицию (%1), количество %2.").arg(Describe(r)).arg(lots);
        }
    }
    if (questions.isEmpty()) return;
    Committing = true;
    const bool yes = Confirm(
        questions.join(QLatin1Char('\n')) +
        QStringLiteral("\n\nКнига позиций — то, по чему робот закрывает позиции точным количеством."));
    Committing = false;
    Change.reset();
    if (!yes) {
        t->CancelEdits();
        Journal(QStringLiteral("правка книги не записана: оператор отказался."));
        return;
    }
    if (!t->PostEdits()) return; // refused by the table's check, which said why
    for (const QString& line : lines)
        Journal(line);
}

void TBookPage::AddPosition() {
    TDataTable* t = BookGrid->Source();
    if (!t->IsOpen()) return;
    TTableModel* m = t->Model();
    if (m->HasPendingInsert()) Commit();
    if (m->HasPendingInsert()) return; // still being typed
    m->insertRow(m->rowCount());
    // Typing goes where the highlight is: the new row's first column, in view and in editing.
    QTableView* v = BookGrid->View();
    const int column = v->horizontalHeader()->logicalIndex(0);
    const QModelIndex idx = BookGrid->Proxy()->index(BookGrid->Proxy()->rowCount() - 1, column);
    v->setCurrentIndex(idx);
    v->scrollTo(idx);
    v->setFocus();
    v->edit(idx);
}

void TBookPage::DeleteSelected() {
    TDataTable* t = BookGrid->Source();
    TTableModel* m = t->Model();
    const int row = BookGrid->SelectedRow();
    if (row < 0) return;
    if (row == m->PendingInsertedRow()) {
        m->revertRow(row); // never written: nothing to ask
        return;
    }
    if (m->isDirty()) Commit();
    if (m->isDirty()) return;
    const QSqlRecord r = m->record(row);
    const QString what =
        QStringLiteral("%1, количество %2").arg(Describe(r), ColumnText(r, QStringLiteral("quantity")));
    if (!Confirm(QStringLiteral("Удалить позицию (%1) из книги? Робот перестанет закрывать ее точным "
                                "количеством.")
                     .arg(what)))
        return;
    m->removeRow(row);
    bool posted = false;
    try {
        posted = t->PostEdits();
    } catch (...) {
        m->keepRow(row);
        throw;
    }
    if (!posted) {
        m->keepRow(row);
        return;
    }
    Journal(QStringLiteral("оператор удалил позицию (%1).").arg(what));
}

bool TBookPage::eventFilter(QObject* watched, QEvent* e) {
    if (watched == BookGrid->View() && e->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_Delete) {
        Robot.RunEvent([this] { DeleteSelected(); });
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

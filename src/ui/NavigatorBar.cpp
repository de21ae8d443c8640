#include "ui/NavigatorBar.h"

#include "common/KorvexError.h"
#include "data/DataTable.h"
#include "ui/DbGrid.h"

#include <QHeaderView>
#include <QMessageBox>
#include <QStyle>

TNavigatorBar::TNavigatorBar(TDbGrid* grid, QWidget* parent) : QToolBar(parent), Grid(grid) {
    setIconSize(QSize(16, 16));
    Confirm = [this](const QString& q) {
        return QMessageBox::question(this, windowTitle(), q) == QMessageBox::Yes;
    };
    Run = [](const std::function<void()>& f) { f(); };
    auto add = [this](QStyle::StandardPixmap icon, const QString& tip, auto fn) {
        QAction* a = addAction(style()->standardIcon(icon), tip);
        a->setToolTip(tip);
        connect(a, &QAction::triggered, this, [this, fn] { Run(fn); });
        return a;
    };
    TDataTable* t = grid->Source();
    First = add(QStyle::SP_MediaSkipBackward, QStringLiteral("Первая запись"), [this] { Move(0); });
    Prior = add(QStyle::SP_MediaSeekBackward, QStringLiteral("Предыдущая запись"),
                [this] { Move(Grid->View()->currentIndex().row() - 1); });
    Next = add(QStyle::SP_MediaSeekForward, QStringLiteral("Следующая запись"),
               [this] { Move(Grid->View()->currentIndex().row() + 1); });
    Last = add(QStyle::SP_MediaSkipForward, QStringLiteral("Последняя запись"),
               [this] { Move(Grid->Proxy()->rowCount() - 1); });
    Insert = add(QStyle::SP_FileDialogNewFolder, QStringLiteral("Вставить запись"), [this, t] {
        const int row = std::min(std::max(0, Grid->View()->currentIndex().row() + 1), t->Model()->rowCount());
        if (!t->Model()->insertRow(row)) return; // a new row is being typed already
        // Typing goes where the highlight is: the new row's first column, in view and in editing.
        QTableView* v = Grid->View();
        const QModelIndex idx = Grid->Proxy()->index(std::min(row, Grid->Proxy()->rowCount() - 1),
                                                     v->horizontalHeader()->logicalIndex(0));
        v->setCurrentIndex(idx);
        v->scrollTo(idx);
        v->setFocus();
        v->edit(idx);
    });
    Delete = add(QStyle::SP_TrashIcon, QStringLiteral("Удалить запись"), [this, t] {
        const QModelIndex i = Grid->View()->currentIndex();
        if (!i.isValid() || !Confirm(QStringLiteral("Удалить запись?"))) return;
        const int row = Grid->Proxy()->mapToSource(i).row();
        t->Model()->removeRow(row);
        bool posted = false;
        try {
            posted = t->PostEdits();
        } catch (...) {
            t->Model()->keepRow(row);
            throw;
        }
        if (!posted) {
            // Another row of the table was refused (a new instrument half typed): it stays as typed.
            t->Model()->keepRow(row);
            throw KorvexError(QStringLiteral("Запись не удалена: сначала допишите или отмените "
                                             "несохраненную запись."));
        }
        t->Reread();
    });
    Edit = add(QStyle::SP_FileDialogDetailedView, QStringLiteral("Изменить запись"), [this] {
        const QModelIndex i = Grid->View()->currentIndex();
        if (i.isValid()) Grid->View()->edit(i);
    });
    Post = add(QStyle::SP_DialogApplyButton, QStringLiteral("Сохранить изменения"), [t] { t->PostEdits(); });
    Cancel =
        add(QStyle::SP_DialogCancelButton, QStringLiteral("Отменить изменения"), [t] { t->CancelEdits(); });
    Refresh = add(QStyle::SP_BrowserReload, QStringLiteral("Обновить данные"), [t] {
        if (t->IsOpen()) t->Reread();
    });
}

void TNavigatorBar::Move(int row) {
    if (row < 0 || row >= Grid->Proxy()->rowCount()) return;
    const int col = std::max(0, Grid->View()->currentIndex().column());
    Grid->View()->setCurrentIndex(Grid->Proxy()->index(row, col));
}

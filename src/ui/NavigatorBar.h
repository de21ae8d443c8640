#pragma once

#include <QToolBar>
#include <functional>

class TDbGrid;

// First, prior, next, last, insert, delete (with confirmation), edit, post, cancel, refresh: the
// usual buttons of a table grid.
class TNavigatorBar : public QToolBar {
    Q_OBJECT
public:
    explicit TNavigatorBar(TDbGrid* grid, QWidget* parent = nullptr);

    // Asks before a delete; replaced in tests.
    std::function<bool(const QString&)> Confirm;
    // Runs a button's work; an error goes to the general error report.
    std::function<void(const std::function<void()>&)> Run;

    QAction* First;
    QAction* Prior;
    QAction* Next;
    QAction* Last;
    QAction* Insert;
    QAction* Delete;
    QAction* Edit;
    QAction* Post;
    QAction* Cancel;
    QAction* Refresh;

private:
    void Move(int row);
    TDbGrid* Grid;
};

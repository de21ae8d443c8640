#pragma once

#include <QDialog>

class TEngine;
class TDbGrid;
class TNavigatorBar;

// "Клиенты": the client accounts that the group mode trades for. Result 1 OK, 2 cancel.
class TfmClients : public QDialog {
    Q_OBJECT
public:
    TfmClients(TEngine& engine, QWidget* parent = nullptr);
    void reject() override { done(2); }
    TDbGrid* Grid;
    TNavigatorBar* Navigator;

signals:
    void HelpRequested();

protected:
    // What the grid posts from now on is undone by "Отмена".
    void showEvent(QShowEvent* e) override;

private:
    TEngine& Robot;
};

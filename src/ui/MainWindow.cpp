#include "ui/MainWindow.h"

#include "robot/Engine.h"

#include <QCloseEvent>

TfmMain::TfmMain(TEngine& engine, QWidget* parent) : QMainWindow(parent), Engine(engine) {
    setWindowTitle(QStringLiteral("Korvex v2.0"));
}

void TfmMain::closeEvent(QCloseEvent* e) {
    QMainWindow::closeEvent(e);
    emit Closed();
}

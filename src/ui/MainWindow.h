#pragma once

#include <QMainWindow>

class TEngine;

class TfmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfmMain(TEngine& engine, QWidget* parent = nullptr);

signals:
    void Closed();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    TEngine& Engine;
};

#pragma once

#include <QDialog>

class QLabel;

// "О программе": the product, and the transaction counters of the run as they were when it opened.
class TfmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfmAbout(QWidget* parent = nullptr);
    void SetCounters(const QString& text);
    QLabel* pnQty;
    QLabel* lwww;
    QLabel* lmail;
};

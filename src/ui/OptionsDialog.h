#pragma once

#include "notify/SmtpClient.h"

#include <QDialog>
#include <QHash>
#include <functional>
#include <optional>

class TEngine;
class TDbGrid;
class TNavigatorBar;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QThread;

// "Настройки": every setting, edited in place (the robot sees a text at once, a number or a time once it
// reads and the field is left), and the instruments,
// workspaces and strategies. Results: 1 OK with valid values, 4 OK with a value that failed the
// check, 2 cancel.
class TfmOpt : public QDialog {
    Q_OBJECT
public:
    TfmOpt(TEngine& engine, QWidget* parent = nullptr);
    // Stops a running "Коннект" or "Тест" and waits for its thread, which ends within a fraction of a second.
    ~TfmOpt() override;

    // Puts the settings' current values into the controls (after a load).
    void ShowSettings();
    // The OK check: closes the dialog with result 1, or sets result 4 and stays open where it is,
    // the message naming the field and the focus on it.
    void BitBtn1Click();
    // The caption of a field, as the messages name it.
    QString FieldName(QLineEdit* e) const;
    void UpdateSumList();
    void reject() override;

    // Shows a check message; replaced in tests.
    std::function<void(const QString&)> ShowMessage;

    QTabWidget* Pages;
    QButtonGroup* rgpPositionSize;
    QButtonGroup* rgpFilled;
    QButtonGroup* rgpSingleMulti;
    QLineEdit *edtFixVol, *edtPart, *edtTime1, *edtTime2;
    QCheckBox* chExitQty;
    QLineEdit *edtTRI, *edtTRO, *edtInfoLog, *edtAccountMicex, *edtAccountFORTS, *edtCode, *edtIntTable,
        *edtQuikConnectTimeOut;
    QLineEdit *edtAlerts, *edtQuikData;
    QCheckBox *chQuikConnect, *chConnect, *chWakeOnChange;
    QLineEdit *edtSMTP, *edtPort, *edtUser, *edtPassword, *edtFromName, *edtFromAddress, *edtEmail1,
        *edtEmail2, *edtMsg;
    QCheckBox *chAuten, *chSendTrans_Id, *chSendTrans_done, *chSendQuikConnect;
    QComboBox* cmbSecurity;
    QLineEdit* edtTrustedCertificate;
    QLabel* lblClearPassword; // shown while the password would cross the network in clear
    QPushButton *btnMailConnect, *btnMailDisconnect, *btnMailTest;
    QLabel* lblMailTest; // the answer of "Коннект" and "Тест"
    // The time limits of the dialog's mail exchanges.
    TMailLimits MailLimits;
    QLineEdit *edtMaxLots, *edtMaxMoney, *edtMaxTransPerMinute;
    QCheckBox* chConfirmManualOrders;
    TDbGrid* grdSecCode;
    TDbGrid* grdWorkSpaces;
    TDbGrid* grdStrategy;
    QList<TNavigatorBar*> Navigators;
    QWidget* FailedField = nullptr;

    // "Тест": connects, authenticates and sends the test text with the mail fields as they stand, and
    // closes the connection; "Коннект" the same without the mail. Both run on a thread of their own,
    // never holding trading; the answer appears in lblMailTest and in the journal. Ignored while one
    // runs; "Дисконнект" stops the one running.
    void StartMailTest();
    void StartMailConnect();
    void StopMailCheck();
    bool MailTestRunning() const { return MailTestThread != nullptr; }
    // The help's section on the page shown.
    QString HelpSection() const;

    // Finds `text` in the current column of the instruments grid, from the row after the current one.
    bool FindInstrument(const QString& text);

signals:
    void HelpRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // What the grids post from now on is undone by "Отмена".
    void showEvent(QShowEvent* e) override;

private:
    QWidget* CreatePositionsPage();
    QWidget* CreateQuikPage();
    QWidget* CreateMailPage();
    QWidget* CreateInstrumentsPage();
    QWidget* CreateFiltersPage();
    QWidget* CreateRiskPage();
    QLineEdit* BindText(QString* field, QLineEdit* edit = nullptr);
    QCheckBox* BindCheck(bool* field, const QString& caption);
    QButtonGroup* BindChoice(int* field, const QStringList& captions, QWidget* box,
                             QList<QWidget*> beside = {});
    QWidget* FileField(QLineEdit* edit, bool mustExist);
    void DropEmptyNewRow(TDbGrid* grid);
    TNavigatorBar* Navigator(TDbGrid* grid);
    // Numbers and times: applied when the field is left or OK pressed, and only when they read.
    void ApplyWhenValid(QLineEdit* edit, std::function<bool(const QString&)> valid);
    void ApplyChecked(QLineEdit* edit);
    void ChooseSecurity(int security);
    void MarkValidity(QLineEdit* edit);
    TEngine& Robot;
    void StartMailCheck(const std::optional<QString>& text);
    QThread* MailTestThread = nullptr;
    TMailStop MailTestStop;
    QList<std::function<void()>> Refreshers;
    QHash<QLineEdit*, QString*> Fields;
    QHash<QLineEdit*, std::function<bool(const QString&)>> Checks;
};

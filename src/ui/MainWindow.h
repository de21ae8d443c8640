#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <functional>

class TEngine;
class TDataTable;
class TDbGrid;
class TfmOpt;
class TfmAbout;
class TfmClients;
class THelpViewer;
class QLabel;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;

// The robot's working window: the alert tables, the robot's own tables, quotes and portfolios, the
// journal, the commands, the status bar and the tray icon. The robot itself is the engine.
class TfmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfmMain(TEngine& engine, QWidget* parent = nullptr);
    ~TfmMain() override;

    TEngine& Engine() { return Robot; }

    QAction* actStartWatch;
    QAction* actStopWatch;
    QAction* actSendNewOrderManual;
    QAction* actSendKillOrderManual;
    QAction* actPullAllOrders; // "Снять все заявки"
    QAction* actClients;
    QAction* actOpt;
    QAction* actConnectToBase;
    QAction* actExit;
    QAction* actHelpCont;
    QAction* actAbout;

    QTabWidget* PageControl1;
    TDbGrid* grdPortfolio;
    TDbGrid* RxDBGrid4; // executed orders
    TDbGrid* grdTRO;    // the transaction report
    QPlainTextEdit* mLog;
    QSplitter* Splitter2;
    QList<QLabel*> StatusPanels;
    QLabel* JournalAlarm = nullptr; // shown while the journal file cannot be written
    QLabel* WatchPanel = nullptr;   // watching on or off, coloured
    QLabel* ErrorPanel = nullptr;   // the last error with its time
    // What the tray icon's tool tip says: the same as the status bar.
    QString TrayText() const;
    QSystemTrayIcon* RxTrayIcon1 = nullptr;
    TfmOpt* fmOpt;
    TfmAbout* fmAbout;
    TfmClients* fmClients;
    THelpViewer* Help;

    // Shows a notice box (a refused instrument post); replaced in tests.
    std::function<void(const QString&)> ShowMessage;
    // Asks the operator to confirm; replaced in tests.
    std::function<bool(const QString&)> Confirm;
    void actPullAllOrdersExecute();

    void UpdateStatusBar();
    void UpdatePortfolioTotals();
    // The options dialog, shown again while its check fails.
    void actOptExecute();
    // What the window does with the dialog's result; true when the dialog is to be shown again.
    bool HandleOptionsResult(int result);
    void actClientsExecute();
    // What the window does with the client list's result; true when the dialog is to be shown again
    // (OK while a row could not be posted).
    bool HandleClientsResult(int result);
    void actAboutExecute();
    // The window's geometry, the portfolio strip's height and every grid's columns, kept across runs
    // in Korvex.ui.ini beside Korvex.ini (the settings file keeps only settings). A file that cannot
    // be written loses the layout, nothing else.
    QString UiStatePath() const;
    void SaveUiState();
    void RestoreUiState();
    // Shows the window as the operator left it: maximized unless he had it otherwise.
    void ShowAsLeft();
    void HideToTray();
    void RestoreFromTray();
    QIcon TrayFrame(int frame) const;
    int ShownTrayFrame() const { return TrayFrameShown; }
    bool HasTray() const { return RxTrayIcon1 != nullptr; }

signals:
    void Closed();

protected:
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void CreateActions();
    void CreatePages();
    void CreateStatusBar();
    void CreateTray();
    void SyncActions();
    void Run(const std::function<void()>& f);
    QList<TDbGrid*> Grids() const;
    void UsePriceDigits();
    // Posts a dialog's table on OK; false when a row was refused or the database failed (reported).
    bool PostDialogEdits(TDataTable* t);
    // Puts the tables back as they were when the dialog opened; throws once with every failure.
    void UndoDialogEdits(const QList<TDataTable*>& tables);
    // Journal lines wait here until the robot is done with its event, then go to the memo at once: a
    // burst of thousands (QUIK answering a backlog) added a line at a time held the robot for seconds.
    QStringList LogPending;
    void ShowPendingLog();
    bool LogFollows = true;    // the memo shows its newest line and keeps doing so
    bool LogAppending = false; // the memo itself moves its scroll bar
    // QUIK reports no link to its server (and the check is on).
    bool LinkLost() const;
    QHash<QString, int> DigitsByTicker, DigitsByCode; // instrument decimals by Omega ticker, by QUIK code
    TEngine& Robot;
    bool LeftMaximized = true;
    QList<QIcon> TrayIcons;
    int TrayFrameShown = 0;
};

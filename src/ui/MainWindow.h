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
class TJournalView;
class TBookPage;
class TStatePanel;
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
    // The program's name and version, as message boxes and the tray show it.
    static QString AppTitle();

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
    TDbGrid* grdPortfolio = nullptr;
    TDbGrid* RxDBGrid2; // active orders
    TDbGrid* RxDBGrid4; // executed orders
    TDbGrid* grdTRO;    // the transaction report: the day's registry
    TBookPage* Book;    // the position book
    TJournalView* JournalPage;
    QPlainTextEdit* mLog; // the journal page's memo
    QSplitter* Splitter2;
    // Omega, Quik, the server link, the transaction counters, the work mode.
    QList<TStatePanel*> StatusPanels;
    TStatePanel* WatchPanel = nullptr; // watching on or off
    // The loudest thing to know: the breaker, a lost server link, or the last error with its time.
    TStatePanel* ErrorPanel = nullptr;
    QLabel* JournalAlarm = nullptr; // shown while the journal file cannot be written
    // What the tray icon's tool tip says: the same as the status bar.
    QString TrayText() const;
    QSystemTrayIcon* RxTrayIcon1 = nullptr;
    TfmOpt* fmOpt = nullptr;
    TfmAbout* fmAbout = nullptr;
    TfmClients* fmClients = nullptr;
    THelpViewer* Help = nullptr;

    // Shows a notice box (a refused instrument post); replaced in tests.
    std::function<void(const QString&)> ShowMessage;
    // Asks the operator to confirm; replaced in tests.
    std::function<bool(const QString&)> Confirm;
    // Tells of an alarm (alarm true: the breaker, a lost server link) or its end, once when it
    // happens: a tray message and, for an alarm, the platform's sound. Replaced in tests.
    std::function<void(const QString& title, const QString& text, bool alarm)> Notify;
    void actPullAllOrdersExecute();

    void UpdateStatusBar();
    void UpdatePortfolioTotals();
    // Reads what changed in the day's registry for the report; a new day shows the new day's rows.
    void RefreshReport();
    // The options dialog, shown again while its check fails.
    void actOptExecute();
    // What the window does with the dialog's result; true when the dialog is to be shown again.
    bool HandleOptionsResult(int result);
    void actClientsExecute();
    // What the window does with the client list's result; true when the dialog is to be shown again
    // (OK while a row could not be posted).
    bool HandleClientsResult(int result);
    void actAboutExecute();
    // The window's geometry, the portfolio strip's height, every grid's columns and the options
    // dialog's size, kept across runs in Korvex.ui.ini beside Korvex.ini (the settings file keeps
    // only settings). A file that cannot be written loses the layout, nothing else.
    QString UiStatePath() const;
    void SaveUiState();
    void RestoreUiState();
    // Shows the window as the operator left it: maximized unless he had it otherwise.
    void ShowAsLeft();
    void HideToTray();
    void RestoreFromTray();
    QIcon TrayFrame(int frame) const;
    int ShownTrayFrame() const { return TrayFrameShown; }
    // What the tray shows: "stopped", "alarm" or the running frame "frame0".."frame3".
    QString TrayImage() const { return TrayImageName; }
    bool HasTray() const { return RxTrayIcon1 != nullptr; }

    // The alert grid of the page shown (active or executed orders), nullptr on another page.
    TDbGrid* AlertGrid() const;
    // The table, id, time and text of the alert row the operator selected; empty when none.
    QString SelectedAlertText() const;
    // Asked before the window closes while watching is on or orders live in QUIK; true: close.
    bool ConfirmExit();
    // Off when the program is asked to end from outside (SIGINT, SIGTERM): it then stops in order
    // without a question nobody may be there to answer.
    bool AskOnExit = true;
    // The help section of the page shown.
    QString PageHelpSection() const;

signals:
    void Closed();

protected:
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void CreateActions();
    void CreatePages();
    void CreateStatusBar();
    void CreateTray();
    void CreateKeys();
    void SyncActions();
    void UpdateTitle();
    // Each panel in full where the bar has room for it, else in its short form, the widest first.
    void FitStatusBar();
    void ApplyTrayIcon();
    void TellAlarms();
    void Run(const std::function<void()>& f);
    // A manual send or cancel: only on the row the operator selected, brought into view.
    void ManualOrder(bool cancel);
    QList<TDbGrid*> Grids() const;
    void UsePriceDigits();
    void UseColours();
    void OpenMenu(int index);
    // Posts a dialog's table on OK; false when a row was refused or the database failed (reported).
    bool PostDialogEdits(TDataTable* t);
    // Puts the tables back as they were when the dialog opened; throws once with every failure.
    void UndoDialogEdits(const QList<TDataTable*>& tables);
    // Journal lines wait here until the robot is done with its event, then go to the memo at once: a
    // burst of thousands (QUIK answering a backlog) added a line at a time held the robot for seconds.
    QStringList LogPending;
    void ShowPendingLog();
    bool ReportQueued = false;
    QString ReportDay;                   // the day the report shows (yyyy-MM-dd)
    QString LastErrorText, LastErrorTip; // the last error with its time, and its whole text
    // QUIK reports no link to its server (and the check is on).
    bool LinkLost() const;
    bool WasLinkLost = false, WasBreaker = false;     // what the last refresh told
    QHash<QString, int> DigitsByTicker, DigitsByCode; // instrument decimals by Omega ticker, by QUIK code
    TEngine& Robot;
    bool LeftMaximized = true;
    bool WasMaximized = true; // when hidden to the tray
    bool AltAlone = false;    // Alt went down with no other key yet
    QList<QIcon> TrayIcons;
    QIcon TrayStopped, TrayAlarm;
    int TrayFrameShown = 0;
    QString TrayImageName = QStringLiteral("stopped");
};

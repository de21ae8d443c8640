#pragma once

#include "common/PeriodicTimer.h"
#include "data/DatMod.h"
#include "pipeline/OrderBuilders.h"
#include "pipeline/PipelineContext.h"
#include "quik/TransactionWriter.h"
#include "robot/ActionStates.h"
#include "robot/ErrorReport.h"
#include "robot/MainPage.h"
#include "settings/RunState.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TJournal;
class TClock;
class TMailNotifier;
class TTransactionWriter;
class TTransactionBook;
class TResultReader;
class TLinkMonitor;
class QSqlRecord;

// The robot itself: the run-time state, the two timers, the tick and the watch passes, the account
// dispatch, the manual orders and the database connect. It runs the same with or without windows;
// the main window shows its signals and calls its operations.
class TEngine : public QObject {
    Q_OBJECT
public:
    TEngine(TJournal& journal, const TClock& clock, const QString& settingsPath, QObject* parent = nullptr);
    ~TEngine() override;

    TSettings Settings;
    TSettingsFile& SettingsFile() { return *File; }
    TDatMod& DatMod() { return *DM; }
    TJournal& Journal() { return JournalRef; }
    TMailNotifier& Mail() { return *Mailer; }
    TTransactionWriter& Writer() { return *TransWriter; }
    TTransactionBook& Book() { return *TransBook; }
    TResultReader& Reader() { return *ResultReader; }
    TLinkMonitor& Monitor() { return *LinkMonitor; }
    TErrorReport& ErrorReport() { return Errors; }
    const TPipelineContext& Context() const { return Ctx; }

    // Run-time state.
    // Ids above 32 bits occur in real tables: the last ids are 64-bit.
    qint64 LastActiveID = 0;
    qint64 LastFilledID = 0;
    qint64 LastCanceledID = 0;
    bool Watching = false;
    bool ActivePassBusy = false;
    qint32 TrayIconFrame = 0;
    qint32 ShownTrayFrame = 0; // the frame the tray and application icon show
    TActionStates Actions;
    TMainPage CurrentPage = TMainPage::tshOpenPositions;

    TPeriodicTimer timUpdateTable;
    TPeriodicTimer timInfoLog;

    // Plays after every dispatch; unset (headless) plays nothing.
    std::function<void()> InformationSound;

    // Runs one event (tick, command, button): an error that nothing caught ends it and goes to the
    // general error report. Returns false when it ended that way.
    bool RunEvent(const std::function<void()>& event);

    // --- Settings ---
    // Reads Korvex.ini and applies both timer periods. Each key that does not read is journalled
    // (and shown in the last-error panel) and returned; the others are read all the same. A period
    // that is not a whole number throws ConversionError after every field was read.
    QStringList LoadSettings();
    void SaveSettings();
    // intTable 1..3600 s, QuikConnectTimeOut 1..86400 s or 0 (link check off); a period outside its
    // limits is replaced (below: the default, above: the limit) with one journal line. A period that
    // is not a whole number throws ConversionError naming the file and the key.
    void ApplyTimerPeriods();

    // --- Start-up ---
    // Empties the .TRI, .TRO and .TRR files (creating their folder one level deep); a failure is
    // journalled and start-up goes on.
    void PrepareTransactionFiles();
    // Sets the next TRANS_ID after the highest one used today (the state file's, and the .TRI's as
    // it stood before it was emptied); journals where the numbers go on.
    void ContinueTransactionNumbers(bool triEmptied, qint64 triHighest);
    // Connects when so set and takes the first size of info.log; a failure is journalled.
    void ConnectAtStartUp();

    // --- Databases ---
    bool ConnectDatabases();
    void actConnectToBaseExecute();

    // --- The tick and watching ---
    void timTable();
    // A database file that vanished or was replaced at its path: its connection is closed, the status
    // bar says so, and the tick ends with the reason (told once, as the connection is then closed).
    void CheckDatabaseFiles();
    void actStartWatchExecute();
    void actStopWatchExecute();
    void actWatchingExecute();
    // The readers of a watch pass, run by the tick and as soon as the alerts database changes.
    void WatchReaders();
    // The open-position grid is re-read once after a pass or an action, not after every alert.
    void RefreshOpenPositions();
    // The accounts an alert goes to: the one of the settings, or every active client of tClients;
    // `clientsStamp`: the clients table's stamp when already looked at.
    std::shared_ptr<const std::vector<TClientAccount>>
    DispatchAccounts(std::optional<qint64> clientsStamp = std::nullopt);
    // Watches the alerts database and the result file when WakeOnChange is on and both databases
    // are connected; otherwise the table timer alone drives the robot.
    void ApplyWakeOnChange();
    void ReadFilledOrders(bool AllFills);
    void ReadCanceledOrders();
    void ReadActiveOrders();

    // --- Dispatch and manual orders ---
    void SendToAccounts(const TOmegaOrder& alert, const TOrderBuilder& builder, bool Automatic);
    void PageControl1Change(TMainPage page);
    void actSendNewOrderManualExecute();
    void actSendKillOrderManualExecute();
    // Asked before a manual order goes out (setting ConfirmManualOrders); unset (headless) asks
    // nothing. False: nothing is sent.
    std::function<bool(const QString&)> ConfirmManualOrder;

    // --- Guard rails ---
    // An entry over the most lots or the most money of one order is not sent, nor an exit for the
    // part beyond the recorded quantity (an exit up to it always goes out): one journal line names
    // the alert, the client, the limit and the value (and a mail when transactions are mailed), and
    // the refusal counts as one. A limit that does not read refuses every order it would check.
    // True when the order may go. Cancellations are never held back.
    bool WithinLimits(const TOrder& order, const TOmegaOrder& alert);
    // The limits that do not read as a number >= 0 (MaxTransPerMinute: a whole one), each as
    // "key=value"; empty when all read. Watching does not start while one does not.
    QStringList UnreadableLimits() const;
    // More automatic transactions in one minute than MaxTransPerMinute stop the watching.
    bool BreakerTripped = false;
    QString BreakerText;
    // The orders living in QUIK (accepted, status 3 with an order number) that no cancellation has
    // pulled, this run's and an earlier run's of the same day.
    int PullAllOrdersCount();
    // Stops watching and sends the cancellation of each of them, to its own client and account.
    void actPullAllOrdersExecute();

    // --- What the window shows ---
    QStringList StatusPanels();
    void UpdateStatusBar() { emit StatusChanged(); }
    void UpdatePortfolioTotals();
    void UpdateSumList();
    TPortfolioSum PortfolioTotals;
    TSecCodeSum SumList;
    void AdvanceTrayIcon();
    void ResetTrayIcon();

signals:
    void SettingsLoaded(); // also after a load with keys that did not read
    void StatusChanged();
    void ActionsChanged();
    void TrayFrameChanged(int frame);
    void PortfolioTotalsChanged();
    void SumListChanged();

private:
    void SetActions(const TActionStates& a);
    void ManualOrder(const TOrderBuilder& builder, bool cancel);
    // What a manual send or cancel would do: instrument, side, lots, price, number of accounts;
    // empty when no account would get an order. Throws as the builders do.
    static void MarkManual(TTransactionWriter::TRecorded& r);
    QString ManualOrderQuestion(const TOmegaOrder& alert, const TOrderBuilder& builder, bool cancel);
    // One reader: the rows of `table` in the id window (prev, cur], filtered and handed to `rule`.
    void ReadWindow(const QString& table, qint64& lastId, TDataTable* t, bool filledSource,
                    const std::function<void(TOmegaOrder&)>& rule);
    // How long an alert that could not be sent is tried again (setting RetryPeriod).
    qint64 RetryPeriodMs() const;
    // When the robot first saw the alert being dispatched (monotonic ms); -1: now (a manual order).
    qint64 DispatchSeenMs = -1;
    // Thrown when a store or a file ended a watch pass; already reported.
    struct TPassEnded {};
    // Thrown when an alert grew older than the retry period while its dispatch waited for the database.
    struct TAlertTooLate {};
    QHash<QString, QHash<qint64, qint64>> FirstSeen; // alert table -> id -> first seen, monotonic ms
    QHash<QString, qint64> LastLook; // alert table -> when its last id was last looked at, monotonic ms
    QString LastPassFailure;

    // The active clients as last read, and the table's stamp then (-1: read every time).
    std::shared_ptr<const std::vector<TClientAccount>> ActiveClients;
    qint64 ClientsStamp = -1;
    QList<qint64> RecentAutomatic; // times of the automatic transactions of the last minute, monotonic ms
    void TripBreaker(int wouldBe, int limit);
    // The last alert ids handled, kept beside the settings across runs.
    std::unique_ptr<TRunState> State;
    std::unique_ptr<class TChangeWatcher> Watcher;
    void SaveLastIds();
    // Keeps the day's last TRANS_ID in the state file, the alert ids as they stand there.
    void SaveTransNumber();
    // Names the alerts of `table` in (after, cur] as passed over; `after` < 0: the last id the state
    // file keeps for the table.
    void ReportPassedOver(const QString& table, TDataTable* t, qint64 cur, qint64 after = -1);

    TJournal& JournalRef;
    const TClock& Clock;
    std::unique_ptr<TSettingsFile> File;
    std::unique_ptr<TDatMod> DM;
    TPipelineContext Ctx;
    std::unique_ptr<TMailNotifier> Mailer;
    std::unique_ptr<TTransactionBook> TransBook;
    std::unique_ptr<TTransactionWriter> TransWriter;
    std::unique_ptr<TResultReader> ResultReader;
    std::unique_ptr<TLinkMonitor> LinkMonitor;
    TErrorReport Errors;
    QString Panel5 = QStringLiteral("SINGLE");
    bool OpenPositionsChanged = false;
    // The orders an earlier run of the day left living in QUIK are taken over at the first connect.
    bool CarriedTold = false;
    // The alerts database's file was replaced and the new one is still to be opened.
    bool AlertsReopenPending = false;
    QString AlertsReopenFailure;
    // The TRANS_IDs the .TRI held at start-up, before it was emptied (unset: not read).
    std::optional<QSet<qint64>> TriAtStart;
    // QUIK's acceptances (TRANS_ID -> order number) in the .TRO at start-up, before it was emptied.
    QHash<qint32, qint64> TroAcceptedAtStart;
    // At the first connect: journals each transaction the last run committed whose line never reached
    // the file, and takes back an entry's open position.
    void NameUnsentOfLastRun();
};

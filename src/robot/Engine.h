#pragma once

#include "common/PeriodicTimer.h"
#include "data/DatMod.h"
#include "pipeline/OrderBuilders.h"
#include "pipeline/PipelineContext.h"
#include "quik/TransactionWriter.h"
#include "robot/ActionStates.h"
#include "robot/ErrorReport.h"
#include "robot/MainPage.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TJournal;
class TClock;
class TMailNotifier;
class TTransactionWriter;
class TResultReader;
class TLinkMonitor;
class TOrderRegistry;
class TPositionBook;
class TRiskGuard;
class TWatchCycle;
class TStartupRecovery;
struct TOrderRecord;

// The robot itself. It coordinates the objects that each own one job: the order registry (every
// transaction of the day), the position book, the risk guard, the watch cycle over the alert tables,
// the start-up recovery, the .TRI writer and the .TRO reader. It runs the same with or without
// windows: the window reads its state through the getters below, listens to its signals and sends
// commands (the act… operations).
class TEngine : public QObject {
    Q_OBJECT
public:
    TEngine(TJournal& journal, const TClock& clock, const QString& settingsPath, QObject* parent = nullptr);
    ~TEngine() override;

    // The settings object: the options dialog edits it, everything reads it at the moment of use.
    TSettings Settings;
    TSettingsFile& SettingsFile() { return *File; }
    TDatMod& DatMod() { return *DM; }
    TJournal& Journal() { return JournalRef; }
    TMailNotifier& Mail() { return *Mailer; }
    TTransactionWriter& Writer() { return *TransWriter; }
    TResultReader& Reader() { return *ResultReader; }
    TLinkMonitor& Monitor() { return *LinkMonitor; }
    TErrorReport& ErrorReport() { return Errors; }
    const TOrderRegistry& Registry() const { return *Orders; }
    const TRiskGuard& Guard() const { return *Risk; }
    const TPipelineContext& Context() const { return Ctx; }

    // --- What the window reads ---
    bool Watching() const { return IsWatching; }
    const TActionStates& Actions() const { return ActionStates; }
    TMainPage CurrentPage() const { return Page; }
    qint64 LastActiveID() const;
    qint64 LastFilledID() const;
    qint64 LastCanceledID() const;
    bool ActivePassBusy() const { return ActiveBusy; }
    int ShownTrayFrame() const { return ShownFrame; }
    bool BreakerTripped() const;
    QString BreakerText() const;
    const TPortfolioSum& PortfolioTotals() const { return Totals; }
    const TSecCodeSum& SumList() const { return Sums; }
    const TPeriodicTimer& timUpdateTable() const { return TableTimer; }
    const TPeriodicTimer& timInfoLog() const { return InfoLogTimer; }

    // Plays after every dispatch; unset (headless) plays nothing.
    std::function<void()> InformationSound;
    // Asked before a manual order goes out (setting ConfirmManualOrders); unset (headless) asks
    // nothing. False: nothing is sent.
    std::function<bool(const QString&)> ConfirmManualOrder;

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

    // --- Start-up and shutdown ---
    // Takes the lock on the .TRI of the settings, so that no second robot writes it; false, with the
    // reason naming the other robot's folder and process, when another one holds it.
    bool LockTransactionFile(QString* error);
    // Moves the .TRI and .TRO of an earlier run aside (read at the first connect, before anything is
    // sent) and leaves them and the .TRR empty; a failure is journalled and start-up goes on.
    void PrepareTransactionFiles();
    // Connects when so set and takes the first size of info.log; a failure is journalled.
    void ConnectAtStartUp();
    // The orderly end: lines still waiting for the .TRI never go out (the book takes back what they
    // did, and the journal names each), and the timers stop.
    void Shutdown();

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

    // --- Dispatch, cancellations and manual orders ---
    void SendToAccounts(const TOmegaOrder& alert, const TOrderBuilder& builder, bool Automatic);
    // The cancellation of every order recorded for an alert row, to its own client and account: an
    // accepted order is pulled now, one QUIK has not answered yet as soon as its number comes. Only
    // what it cancels is needed: no check of a new order applies. A line says what was found.
    void CancelAlertOrders(const QString& table, qint64 alertId, bool Automatic);
    void PageControl1Change(TMainPage page);
    void actSendNewOrderManualExecute();
    void actSendKillOrderManualExecute();

    // --- Guard rails ---
    // The limits that do not read (see TRiskGuard); watching does not start while one does not.
    QStringList UnreadableLimits() const;
    // The orders that can be live in QUIK today and no cancellation is on its way for: accepted limit
    // and stop orders, and those still awaiting QUIK's answer, this run's and the day's earlier runs'.
    int PullAllOrdersCount() const;
    // Stops watching and cancels each of them, to its own client and account; those awaiting QUIK's
    // answer are cancelled as soon as their number comes.
    void actPullAllOrdersExecute();

    // --- What the window shows ---
    QStringList StatusPanels();
    void UpdateStatusBar() { emit StatusChanged(); }
    void UpdatePortfolioTotals();
    void UpdateSumList();
    void AdvanceTrayIcon();
    void ResetTrayIcon();
    // Refusals by QUIK and by the limits, as the status bar counts them.
    int RefusedCount() const;

signals:
    void SettingsLoaded(); // also after a load with keys that did not read
    void StatusChanged();
    void ActionsChanged();
    void TrayFrameChanged(int frame);
    void PortfolioTotalsChanged();
    void SumListChanged();

private:
    // Tests make transactions of their own in the registry, as an earlier run would have.
    friend class TTestRobot;
    void SetActions(const TActionStates& a);
    void ManualOrder(const TOrderBuilder& builder, bool cancel);
    static void MarkManual(TTransactionWriter::TRecorded& r);
    // What a manual send or cancel would do: instrument, side, lots, price, number of accounts;
    // empty when no account would get an order. Throws as the builders do.
    QString ManualOrderQuestion(const TOmegaOrder& alert, const TOrderBuilder& builder, bool cancel);
    void ReadFilledOrders(bool AllFills);
    void ReadCanceledOrders();
    void ReadActiveOrders();
    // The platform reported the fill of an advance order (a FilledOrders row carrying its mark).
    void AdvanceOrderFilled(const TOmegaOrder& fill);
    // Records and sends the cancellations of `orders` in one database transaction.
    void SendCancellations(const QList<const TOrderRecord*>& orders, bool manual);
    // These orders are to be cancelled as soon as QUIK gives their number.
    void WantCancellations(const QList<qint32>& orders);
    // Cancellations that came before their order's number, now that the number is there.
    void SendWantedCancellations();
    // Refuses a new order that is not safe to send (a field, a limit); true when it may go.
    bool MayGo(const TOrder& order, const TOmegaOrder& alert);
    // The registry read at the first connect (or again after it could not be): the earlier run's
    // files are taken into account before anything is sent. False while it cannot be read.
    bool EnsureRegistry();
    // An order refused by a limit: one journal line, counted and shown as QUIK's refusals are.
    void RefuseByLimit(const TOrder& order, const TOmegaOrder& alert, const QString& why);
    // A note of a dispatch: journalled, and a guard's refusal also shown and mailed.
    void SayNote(const TAccountNotes::TNote& note);
    void SayAccountNotes() noexcept;
    void TripBreaker(int wouldBe, int limit);
    void RunAfterDispatch(const QList<TTransactionWriter::TRecorded>& done, int countedLines);

    TJournal& JournalRef;
    const TClock& Clock;
    std::unique_ptr<TSettingsFile> File;
    std::unique_ptr<TDatMod> DM;
    TPipelineContext Ctx;
    std::unique_ptr<TMailNotifier> Mailer;
    std::unique_ptr<TOrderRegistry> Orders;
    std::unique_ptr<TPositionBook> Positions;
    std::unique_ptr<TRiskGuard> Risk;
    std::unique_ptr<TWatchCycle> Watch;
    std::unique_ptr<TTransactionWriter> TransWriter;
    std::unique_ptr<TResultReader> ResultReader;
    std::unique_ptr<TLinkMonitor> LinkMonitor;
    std::unique_ptr<TStartupRecovery> Recovery;
    std::unique_ptr<class TChangeWatcher> Watcher;
    TErrorReport Errors;

    TPeriodicTimer TableTimer;
    TPeriodicTimer InfoLogTimer;
    bool IsWatching = false;
    bool ActiveBusy = false;
    qint32 TrayIconFrame = 0;
    qint32 ShownFrame = 0; // the frame the tray and application icon show
    TActionStates ActionStates;
    TMainPage Page = TMainPage::tshOpenPositions;
    TPortfolioSum Totals;
    TSecCodeSum Sums;
    int LimitRefusals = 0;
    QString Panel5 = QStringLiteral("SINGLE");
    bool OpenPositionsChanged = false;
    // The alerts database's file was replaced and the new one is still to be opened.
    bool AlertsReopenPending = false;
    QString AlertsReopenFailure;
    QString RegistryFailure; // told once while the registry cannot be read
    // The active clients as last read, and the table's stamp then (-1: read every time).
    std::shared_ptr<const std::vector<TClientAccount>> ActiveClients;
    qint64 ClientsStamp = -1;
};

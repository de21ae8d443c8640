#include "robot/Engine.h"

#include "common/Clock.h"
#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/Connection.h"
#include "data/SqlRun.h"
#include "notify/MailNotifier.h"
#include "quik/LinkMonitor.h"
#include "quik/OrderRegistry.h"
#include "quik/PositionBook.h"
#include "quik/ResultReader.h"
#include "quik/TransactionWriter.h"
#include "robot/ChangeWatcher.h"
#include "robot/RiskGuard.h"
#include "robot/StartupRecovery.h"
#include "robot/WatchCycle.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

TEngine::TEngine(TJournal& journal, const TClock& clock, const QString& settingsPath, QObject* parent)
    : QObject(parent), JournalRef(journal), Clock(clock), File(std::make_unique<TSettingsFile>(settingsPath)),
      DM(std::make_unique<TDatMod>()), Ctx{*DM, Settings, journal, clock},
      Mailer(std::make_unique<TMailNotifier>(Settings, journal)),
      Orders(std::make_unique<TOrderRegistry>(Ctx)), Positions(std::make_unique<TPositionBook>(Ctx)),
      Risk(std::make_unique<TRiskGuard>(Ctx, *Positions)), Watch(std::make_unique<TWatchCycle>(Ctx)),
      TransWriter(std::make_unique<TTransactionWriter>(Ctx, *Mailer, *Orders, *Positions)),
      ResultReader(std::make_unique<TResultReader>(Ctx, *Mailer, *Orders, *TransWriter)),
      LinkMonitor(std::make_unique<TLinkMonitor>(Ctx, *Mailer)),
      Recovery(std::make_unique<TStartupRecovery>(Ctx, *Orders, *TransWriter, *ResultReader)),
      Errors(journal) {
    // The table timer waits for the databases; the link monitor runs from the start.
    TableTimer.SetEnabled(false);
    InfoLogTimer.SetEnabled(true);
    TableTimer.SetIntervalMs(1000);
    InfoLogTimer.SetIntervalMs(60000);
    Watcher = std::make_unique<TChangeWatcher>();
    connect(Watcher.get(), &TChangeWatcher::AlertsChanged, this, [this] {
        // A pass on a change turns the tray icon as a pass on the tick does.
        if (IsWatching && TableTimer.Enabled()) RunEvent([this] { actWatchingExecute(); });
    });
    connect(Watcher.get(), &TChangeWatcher::ResultsChanged, this, [this] {
        if (TableTimer.Enabled())
            RunEvent([this] {
                ResultReader->actCheckTROExecute();
                SendWantedCancellations();
            });
    });
    connect(&TableTimer, &TPeriodicTimer::Tick, this, [this] { RunEvent([this] { timTable(); }); });
    connect(&InfoLogTimer, &TPeriodicTimer::Tick, this,
            [this] { RunEvent([this] { LinkMonitor->timInfoLogTimer(); }); });

    Ctx.ReservedByExits = [this](const QString& code, const QString& ticker, const TOmegaOrder& alert) {
        const QString side = TPositionBook::SideOf(alert.OrderType);
        const QString workspace = WorkspaceFileName(alert.Workspace);
        qint64 lots = 0;
        for (const TOrderRecord* r : Orders->OpenExits())
            if (r->Code.compare(code, Qt::CaseInsensitive) == 0 &&
                r->Ticker.compare(ticker, Qt::CaseInsensitive) == 0 &&
                TPositionBook::SideOf(r->OrderType) == side && r->Strategy == alert.System &&
                r->Workspace.compare(workspace, Qt::CaseInsensitive) == 0 && r->Interval == alert.Interval)
                lots += r->Quantity;
        return lots;
    };
    Watch->HandledInRegistry = [this](const QString& table) {
        qint64 highest = 0;
        for (const TOrderRecord& r : Orders->All())
            if (r.IsNew() && !r.Manual && r.AlertTable == table) highest = std::max(highest, r.AlertId);
        return highest;
    };
    TransWriter->OnStatusChanged = [this] { UpdateStatusBar(); };
    // The open-positions grid is re-read once the dispatch is over, not after every account.
    TransWriter->OnOpenPositionsChanged = [this] { OpenPositionsChanged = true; };
    ResultReader->OnStatusChanged = [this] { UpdateStatusBar(); };
    ResultReader->OnOpenPositionsChanged = [this] {
        OpenPositionsChanged = true;
        RefreshOpenPositions();
    };
    ResultReader->OnRefusal = [this](const QString& text) { Errors.Notice(text); };
    LinkMonitor->OnStatusChanged = [this] { UpdateStatusBar(); };
    connect(DM.get(), &TDatMod::SecCodeChanged, this, [this] { RunEvent([this] { UpdateSumList(); }); });
}

TEngine::~TEngine() = default;

qint64 TEngine::LastActiveID() const {
    return Watch->LastId(QStringLiteral("ActiveOrders"));
}
qint64 TEngine::LastFilledID() const {
    return Watch->LastId(QStringLiteral("FilledOrders"));
}
qint64 TEngine::LastCanceledID() const {
    return Watch->LastId(QStringLiteral("CanceledOrders"));
}
bool TEngine::BreakerTripped() const {
    return Risk->Tripped();
}
QString TEngine::BreakerText() const {
    return Risk->Text();
}
QStringList TEngine::UnreadableLimits() const {
    return Risk->UnreadableLimits();
}
int TEngine::RefusedCount() const {
    return ResultReader->TransRefused + LimitRefusals;
}

bool TEngine::RunEvent(const std::function<void()>& event) {
    try {
        event();
        Errors.EventSucceeded();
        return true;
    } catch (const std::exception& e) {
        Errors.Report(ErrorText(e));
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Settings

QStringList TEngine::LoadSettings() {
    // A key that does not read is one line in sight of the operator; the rest of the file, the
    // guards among it, is read all the same.
    const QStringList unread = File->Load(Settings);
    if (!unread.isEmpty()) {
        JournalRef.AddJournalLines(unread);
        for (const QString& line : unread)
            Errors.Notice(line);
        JournalRef.FlushJournal();
    }
    emit SettingsLoaded();
    ApplyTimerPeriods();
    ApplyWakeOnChange();
    emit StatusChanged();
    return unread;
}

void TEngine::SaveSettings() {
    File->Save(Settings);
}

void TEngine::ApplyTimerPeriods() {
    bool journalled = false;
    // A period outside its limits would stop the timer without a word while the robot says it is
    // watching: such a period is replaced, and the operator is told which value was used instead.
    auto seconds = [&](const QString& key, const QString& what, const QString& text, qint64 low, qint64 high,
                       qint64 fallback, bool zeroTurnsOff) -> qint64 {
        const auto v = Regional::ParseInteger(text);
        if (!v)
            throw ConversionError(
                SettingsValueError(File->Path(), QStringLiteral("Quik"), key,
                                   QStringLiteral("'%1' is not a valid integer value").arg(text)));
        if ((zeroTurnsOff && *v == 0) || (*v >= low && *v <= high)) return *v;
        const qint64 used = *v < low ? fallback : high;
        JournalRef.AddJournalLine(QStringLiteral("%1 (%2) %3 с вне пределов %4..%5 с; используется %6 с.")
                                      .arg(what, key, text.trimmed())
                                      .arg(low)
                                      .arg(high)
                                      .arg(used));
        journalled = true;
        return used;
    };
    TableTimer.SetIntervalMs(seconds(QStringLiteral("intTable"), QStringLiteral("Период опроса таблиц"),
                                     Settings.intTable, 1, 3600, 1, false) *
                             1000);
    Watch->SetPollIntervalMs(TableTimer.IntervalMs());
    // 0 switches the check of QUIK's link off.
    InfoLogTimer.SetIntervalMs(seconds(QStringLiteral("QuikConnectTimeOut"),
                                       QStringLiteral("Период проверки связи QUIK"),
                                       Settings.QuikConnectTimeOut, 1, 86400, 60, true) *
                               1000);
    if (journalled) JournalRef.FlushJournal();
}

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown

bool TEngine::LockTransactionFile(QString* error) {
    return Recovery->LockTransactionFile(LocalFilePath(Settings.pathTRI), error);
}

void TEngine::PrepareTransactionFiles() {
    Recovery->PrepareFiles();
}

void TEngine::ConnectAtStartUp() {
    try {
        if (Settings.Connect) actConnectToBaseExecute();
        LinkMonitor->LastInfoLogSize = LinkMonitor->GetInfoLogSize();
    } catch (const std::exception& e) {
        JournalRef.AddJournalLine(ErrorText(e));
    }
}

void TEngine::Shutdown() {
    TransWriter->GiveUpPending(QStringLiteral("программа закрыта, пока строка ждала записи в файл"));
    TransWriter->PendingLines.clear();
    // The stages of the last tick's lines, so that the report read after the exit shows them in the file.
    Orders->SaveLinesWrittenNow();
    TableTimer.SetEnabled(false);
    InfoLogTimer.SetEnabled(false);
}

// ---------------------------------------------------------------------------------------------
// Databases

bool TEngine::ConnectDatabases() {
    bool omega = false, quik = false;
    auto open = [this](bool& ok, const QString& path, auto openFn) {
        try {
            const bool switched = (DM.get()->*openFn)(path);
            ok = true;
            JournalRef.AddJournalLine(QStringLiteral("Подключение к базе данных %1: OK").arg(path));
            if (switched)
                JournalRef.AddJournalLine(
                    QStringLiteral("Файл базы данных %1 переведен в режим WAL: так чтение робота не "
                                   "задерживает запись Omega Research и Quik. Режим остается в файле.")
                        .arg(path));
        } catch (const std::exception& e) {
            JournalRef.AddJournalLine(
                QStringLiteral("При подключении к базе данных %1 произошла ошибка:\r\n%2")
                    .arg(path, ErrorText(e)));
        }
    };
    open(omega, Settings.Alerts, &TDatMod::OpenOmega);
    open(quik, Settings.QuikData, &TDatMod::OpenQuikData);
    UpdateStatusBar();
    const bool result = omega && quik;
    try {
        if (result) {
            timTable();
            for (TDataTable* t : {DM->tWorkSpaces, DM->tStrategy, DM->tSecCode, DM->tOrderNumber,
                                  DM->tClientOpenPositions, DM->tClients})
                t->Open();
            UpdateSumList();
            UpdatePortfolioTotals();
        }
    } catch (...) {
        JournalRef.FlushJournal();
        throw;
    }
    JournalRef.FlushJournal();
    return result;
}

bool TEngine::EnsureRegistry() {
    if (Recovery->Done() && Orders->Ready()) return true;
    if (!DM->QuikDataConnected()) return false;
    try {
        if (!Recovery->Done()) {
            Recovery->Recover(QDateTime::currentMSecsSinceEpoch());
        } else {
            Orders->Load(Clock.Now().date().toString(Qt::ISODate), Orders->RunId(),
                         Orders->NextTransId() - 1);
        }
        Watch->LoadState();
        if (!RegistryFailure.isEmpty())
            JournalRef.AddJournalLine(
                QStringLiteral("Реестр транзакций снова читается: отправка возобновлена."));
        RegistryFailure.clear();
        OpenPositionsChanged = true;
        RefreshOpenPositions();
        JournalRef.FlushJournal();
        return true;
    } catch (const std::exception& e) {
        // Without the day's registry no number can be given out safely: nothing is sent until it reads.
        const QString text = QStringLiteral("Реестр транзакций (таблица tOrderRegistry) не читается: %1. "
                                            "Транзакции не отправляются; повтор на каждом такте.")
                                 .arg(ErrorText(e));
        Orders->SetNotReady(text);
        if (text != RegistryFailure) {
            RegistryFailure = text;
            Errors.Report(text);
        }
        JournalRef.FlushJournal();
        return false;
    }
}

void TEngine::actConnectToBaseExecute() {
    if (!ConnectDatabases()) return;
    // A reconnect keeps what the registry knows: the day's orders stay known, and tOrderNumber keeps
    // the day's answers.
    EnsureRegistry();
    TableTimer.SetEnabled(true);
    ApplyWakeOnChange();
    if (!ActionStates.actStopWatch) {
        TActionStates a = ActionStates;
        a.actStartWatch = true;
        SetActions(a);
    }
}

void TEngine::ApplyWakeOnChange() {
    if (!Settings.WakeOnChange || !DM->OmegaConnected() || !DM->QuikDataConnected()) {
        Watcher->Clear();
        return;
    }
    QStringList alertFiles;
    const TConnectionTarget target = ConnectionTargetFor(Settings.Alerts);
    if (target.Driver == QLatin1String("QSQLITE"))
        alertFiles << target.DatabaseName << target.DatabaseName + QStringLiteral("-wal");
    else if (!Settings.Alerts.trimmed().startsWith(QLatin1String("odbc:"), Qt::CaseInsensitive))
        alertFiles << LocalFilePath(Settings.Alerts);
    Watcher->Watch(alertFiles, LocalFilePath(Settings.pathTRO));
}

// ---------------------------------------------------------------------------------------------
// What the window shows

void TEngine::SetActions(const TActionStates& a) {
    ActionStates = a;
    emit ActionsChanged();
}

QStringList TEngine::StatusPanels() {
    const QString omega = DM->OmegaConnected() ? QStringLiteral("OK") : QStringLiteral("Нет");
    const QString quik = DM->QuikDataConnected() ? QStringLiteral("OK") : QStringLiteral("Нет");
    QString link = QStringLiteral("Н/Д");
    if (Settings.QuikConnect) {
        if (LinkMonitor->QuikLinkState == TLinkMonitor::Broken)
            link = QStringLiteral("Нет");
        else if (LinkMonitor->QuikLinkState == TLinkMonitor::Connected)
            link = QStringLiteral("ОК");
    }
    if (Settings.rgpSingleMulti == 0)
        Panel5 = QStringLiteral("SINGLE");
    else if (Settings.rgpSingleMulti == 1)
        Panel5 = QStringLiteral("MULTI");
    return {QStringLiteral("Подключение к Omega: ") + omega, QStringLiteral("Подключение к Quik: ") + quik,
            QStringLiteral("Связь Quik с сервером: ") + link,
            QStringLiteral("Отправлено транзакций: %1/%2/%3")
                    .arg(TransWriter->LinesSent)
                    .arg(ResultReader->TransAtServer)
                    .arg(ResultReader->TransDone) +
                (RefusedCount() > 0 ? QStringLiteral(", отвергнуто: %1").arg(RefusedCount()) : QString()),
            Panel5};
}

void TEngine::UpdatePortfolioTotals() {
    if (!DM->QuikDataConnected()) return;
    Totals = DM->qPortfolioSum();
    emit PortfolioTotalsChanged();
}

void TEngine::CheckDatabaseFiles() {
    bool alertsReplaced = false;
    const QStringList lost = DM->CheckDatabaseFiles(&alertsReplaced);
    // The platform made its database anew (a new day): it is connected to and watched as after
    // "Начать загрузку": what it already holds is named as passed over, what comes after goes out.
    if (alertsReplaced) AlertsReopenPending = true;
    if (AlertsReopenPending) {
        // The new file may not be a database yet, or be locked: it is tried again on every tick,
        // and the failure is told once.
        try {
            DM->OpenOmega(Settings.Alerts);
        } catch (const std::exception& e) {
            const QString text = QStringLiteral("Файл базы данных %1 заменен, новый файл не открывается: %2. "
                                                "Повтор на следующем такте.")
                                     .arg(Settings.Alerts, ErrorText(e));
            if (text != AlertsReopenFailure) JournalRef.AddJournalLine(text);
            AlertsReopenFailure = text;
            UpdateStatusBar();
            JournalRef.FlushJournal();
            if (lost.isEmpty()) return;
            throw KorvexError(lost.join(QLatin1Char('\n')));
        }
        AlertsReopenPending = false;
        AlertsReopenFailure.clear();
        Watch->ForgetSightings();
        JournalRef.AddJournalLine(
            QStringLiteral("Файл базы данных %1 заменен новым: подключение открыто заново%2.")
                .arg(Settings.Alerts,
                     IsWatching ? QStringLiteral(", загрузка продолжается с новым файлом") : QString()));
        if (IsWatching) Watch->StartAt(true);
        ApplyWakeOnChange();
        JournalRef.FlushJournal();
    }
    if (lost.isEmpty()) return;
    ApplyWakeOnChange();
    UpdateStatusBar();
    throw KorvexError(lost.join(QLatin1Char('\n')));
}

void TEngine::UpdateSumList() {
    if (!DM->QuikDataConnected()) return;
    Sums = DM->qSecCodeSum();
    emit SumListChanged();
}

void TEngine::AdvanceTrayIcon() {
    TrayIconFrame = TrayIconFrame == 3 ? 0 : TrayIconFrame + 1;
    ShownFrame = TrayIconFrame;
    emit TrayFrameChanged(ShownFrame);
}

void TEngine::ResetTrayIcon() {
    ShownFrame = 0;
    emit TrayFrameChanged(0);
}

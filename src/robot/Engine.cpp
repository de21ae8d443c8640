#include "robot/Engine.h"

#include "common/Clock.h"
#include "common/Codec.h"
#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/Connection.h"
#include "data/SqlRun.h"
#include "notify/MailNotifier.h"
#include "pipeline/AlertDecoding.h"
#include "quik/LinkMonitor.h"
#include "quik/ResultLine.h"
#include "quik/ResultReader.h"
#include "quik/TransactionBook.h"
#include "quik/TransactionWriter.h"
#include "robot/ChangeWatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlRecord>
#include <algorithm>
#include <limits>

TEngine::TEngine(TJournal& journal, const TClock& clock, const QString& settingsPath, QObject* parent)
    : QObject(parent), JournalRef(journal), Clock(clock), File(std::make_unique<TSettingsFile>(settingsPath)),
      DM(std::make_unique<TDatMod>()), Ctx{*DM, Settings, journal, clock},
      Mailer(std::make_unique<TMailNotifier>(Settings, journal)),
      TransBook(std::make_unique<TTransactionBook>(Ctx)),
      TransWriter(std::make_unique<TTransactionWriter>(Ctx, *Mailer, *TransBook)),
      ResultReader(std::make_unique<TResultReader>(Ctx, *Mailer, *TransBook)),
      LinkMonitor(std::make_unique<TLinkMonitor>(Ctx, *Mailer)), Errors(journal) {
    // The table timer waits for the databases; the link monitor runs from the start.
    timUpdateTable.SetEnabled(false);
    timInfoLog.SetEnabled(true);
    timUpdateTable.SetIntervalMs(1000);
    timInfoLog.SetIntervalMs(60000);
    State =
        std::make_unique<TRunState>(QFileInfo(settingsPath).dir().filePath(QStringLiteral("Korvex.state")));
    State->Load();
    TransBook->Live.SetPath(QFileInfo(settingsPath).dir().filePath(QStringLiteral("Korvex.orders")));
    Ctx.LiveOrderNumber = [this](qint64 alertId, bool market, const QString& code) {
        return TransBook->Live.NumberFor(alertId, market, code);
    };
    Watcher = std::make_unique<TChangeWatcher>();
    connect(Watcher.get(), &TChangeWatcher::AlertsChanged, this, [this] {
        // A pass on a change turns the tray icon as a pass on the tick does.
        if (Watching && timUpdateTable.Enabled()) RunEvent([this] { actWatchingExecute(); });
    });
    connect(Watcher.get(), &TChangeWatcher::ResultsChanged, this, [this] {
        if (timUpdateTable.Enabled()) RunEvent([this] { ResultReader->actCheckTROExecute(); });
    });
    connect(&timUpdateTable, &TPeriodicTimer::Tick, this, [this] { RunEvent([this] { timTable(); }); });
    connect(&timInfoLog, &TPeriodicTimer::Tick, this,
            [this] { RunEvent([this] { LinkMonitor->timInfoLogTimer(); }); });

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
    timUpdateTable.SetIntervalMs(seconds(QStringLiteral("intTable"), QStringLiteral("Период опроса таблиц"),
                                         Settings.intTable, 1, 3600, 1, false) *
                                 1000);
    // 0 switches the check of QUIK's link off.
    timInfoLog.SetIntervalMs(seconds(QStringLiteral("QuikConnectTimeOut"),
                                     QStringLiteral("Период проверки связи QUIK"),
                                     Settings.QuikConnectTimeOut, 1, 86400, 60, true) *
                             1000);
    if (journalled) JournalRef.FlushJournal();
}

// ---------------------------------------------------------------------------------------------
// Start-up

namespace {
void CreateEmpty(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw IoError(QStringLiteral("Не удалось создать файл %1: %2").arg(path, f.errorString()));
    f.close();
}

void CreateFolderOneLevel(const QString& filePath) {
    const QString folder = QFileInfo(filePath).path();
    QDir dir(folder);
    if (!dir.exists()) {
        // Only the last folder is made: a missing parent shows up as the failure to create the file.
        QDir parent = QFileInfo(QDir::cleanPath(folder)).dir();
        parent.mkdir(QFileInfo(QDir::cleanPath(folder)).fileName());
    }
}

QString TrrPath(const QString& troPath) {
    const QFileInfo fi(troPath);
    const QString name = fi.fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? name : name.left(dot);
    return fi.dir().filePath(base + QStringLiteral(".TRR"));
}

// The TRANS_IDs the .TRI holds; nullopt when it cannot be read.
std::optional<QSet<qint64>> TransIdsInFile(const QString& triPath) {
    QFile f(triPath);
    if (!f.exists()) return QSet<qint64>(); // no line reached a file that is not there
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    QSet<qint64> ids;
    const QByteArray bytes = f.readAll();
    // Only whole lines: QUIK never took a line the run did not finish, and its number may be cut too.
    const QList<QByteArray> lines = bytes.left(bytes.lastIndexOf('\n') + 1).split('\n');
    for (const QByteArray& line : lines) {
        if (!line.startsWith("TRANS_ID =")) continue;
        const int end = line.indexOf(';');
        bool ok = false;
        const qint64 id = line.mid(10, end < 0 ? -1 : end - 10).trimmed().toLongLong(&ok);
        if (ok) ids.insert(id);
    }
    return ids;
}
} // namespace

void TEngine::ContinueTransactionNumbers(bool triEmptied, qint64 triHighest) {
    // QUIK must never see a TRANS_ID twice in a trading day: a late answer to an earlier run's number
    // would land on another order. The first run of a day starts at 0.
    qint64 last = -1;
    if (State && State->Day == Clock.Now().date().toString(Qt::ISODate))
        last = std::max(State->LastTransId, triHighest);
    // A file that could not be emptied still holds its numbers, whatever day they are from.
    if (!triEmptied) last = std::max(last, triHighest);
    if (last < 0) return;
    if (last >= std::numeric_limits<qint32>::max() - 1) {
        JournalRef.AddJournalLine(
            QStringLiteral("Номера транзакций дня исчерпаны (%1): счет начат с 0.").arg(last));
        return;
    }
    TransWriter->TransSent = static_cast<qint32>(last + 1);
    // Kept at once: the .TRI that told part of it is emptied now.
    SaveTransNumber();
    JournalRef.AddJournalLine(
        QStringLiteral("Номера транзакций продолжаются с %1: в течение торгового дня они не повторяются.")
            .arg(TransWriter->TransSent));
}

void TEngine::PrepareTransactionFiles() {
    // What the file holds before it is emptied: the numbers the last run wrote. The connect names the
    // transactions the last run committed that never got there.
    TriAtStart = TransIdsInFile(LocalFilePath(Settings.pathTRI));
    // QUIK's acceptances the last run did not read: its orders may live in QUIK all the same.
    TroAcceptedAtStart.clear();
    QFile tro(LocalFilePath(Settings.pathTRO));
    if (tro.open(QIODevice::ReadOnly))
        for (const QByteArray& line : tro.readAll().split('\n')) {
            const TResultLine r = ParseResultLine(Cp1251::Decode(line.trimmed()));
            const auto id = Regional::ParseInteger(r.TRANS_ID);
            const auto number = Regional::ParseInteger(r.ORDER_NUMBER);
            if (id && number && *number > 0 && r.STATUS.trimmed() == QLatin1String("3") && *id >= 0 &&
                *id <= std::numeric_limits<qint32>::max())
                TroAcceptedAtStart.insert(static_cast<qint32>(*id), *number);
        }
    qint64 triHighest = -1;
    if (TriAtStart)
        for (const qint64 id : *TriAtStart)
            triHighest = std::max(triHighest, id);
    bool triEmptied = false;
    struct TContinue {
        TEngine& E;
        const bool& Emptied;
        qint64 Highest;
        ~TContinue() { E.ContinueTransactionNumbers(Emptied, Highest); }
    } numbers{*this, triEmptied, triHighest};
    try {
        const QString tri = LocalFilePath(Settings.pathTRI);
        const QString tro = LocalFilePath(Settings.pathTRO);
        CreateFolderOneLevel(tri);
        CreateEmpty(tri);
        triEmptied = true;
        CreateFolderOneLevel(tro);
        CreateEmpty(tro);
        CreateEmpty(TrrPath(tro));
    } catch (const std::exception& e) {
        JournalRef.AddJournalLine(
            QStringLiteral("При создании файлов транзакций %1, %2 произошла ошибка: \r\n%3")
                .arg(Settings.pathTRI, Settings.pathTRO, ErrorText(e)));
    }
}

void TEngine::ConnectAtStartUp() {
    try {
        if (Settings.Connect) actConnectToBaseExecute();
        LinkMonitor->LastInfoLogSize = LinkMonitor->GetInfoLogSize();
    } catch (const std::exception& e) {
        JournalRef.AddJournalLine(ErrorText(e));
    }
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

void TEngine::actConnectToBaseExecute() {
    if (!ConnectDatabases()) return;
    if (!CarriedTold) NameUnsentOfLastRun();
    // tOrderNumber starts empty; the orders living in QUIK are kept beside it and can be cancelled.
    DM->ClearOrderNumbers();
    if (!CarriedTold) {
        // What an earlier run of the day left living in QUIK is taken over once, at the first connect.
        CarriedTold = true;
        int dropped = 0;
        int carried = TransBook->Live.Load(Clock.Now().date(), &dropped);
        for (auto it = TroAcceptedAtStart.cbegin(); it != TroAcceptedAtStart.cend(); ++it)
            if (TransBook->Live.AcceptAwaited(it.key(), it.value())) ++carried;
        TroAcceptedAtStart.clear();
        TransBook->SaveLive();
        if (dropped > 0) {
            JournalRef.AddJournalLine(
                QStringLiteral("Новый торговый день: заявки прошлого дня (%1) не перенесены.").arg(dropped));
            TransBook->SaveLive();
        }
        if (carried > 0)
            JournalRef.AddJournalLine(
                QStringLiteral("Перенесено заявок прошлого запуска, живущих в Quik: %1. Их можно снять.")
                    .arg(carried));
        JournalRef.FlushJournal();
    }
    timUpdateTable.SetEnabled(true);
    ApplyWakeOnChange();
    if (!Actions.actStopWatch) {
        TActionStates a = Actions;
        a.actStartWatch = true;
        SetActions(a);
    }
}

void TEngine::NameUnsentOfLastRun() {
    if (!TriAtStart) return;
    const QSet<qint64> inFile = *TriAtStart;
    TriAtStart.reset();
    // The last run's transactions that QUIK never answered and whose line is not in the file: they
    // were committed, and the run ended before their line was written.
    const TSqlRows rows = RunSql(DM->conQuikData(), {QStringLiteral("SELECT trans_id, id_order, filled, code "
                                                                    "FROM tOrderNumber WHERE status IS NULL "
                                                                    "ORDER BY trans_id")});
    int unsent = 0;
    for (const QSqlRecord& r : rows.Rows) {
        const qint64 transId = ColumnInt64(r, QStringLiteral("trans_id"));
        if (inFile.contains(transId)) continue;
        ++unsent;
        const qint64 alertId = ColumnInt64(r, QStringLiteral("id_order"));
        const QString code = ColumnText(r, QStringLiteral("code"));
        // An entry's open position is taken back: the latest row of its keys is the one it added. What
        // an exit closed is not known any more.
        QString taken;
        try {
            for (const QString& table :
                 ColumnBool(r, QStringLiteral("filled"))
                     ? QStringList{QStringLiteral("FilledOrders"), QStringLiteral("ActiveOrders")}
                     : QStringList{QStringLiteral("ActiveOrders")}) {
                TSqlRows a =
                    RunSql(DM->conOmega(),
                           {QStringLiteral("SELECT * FROM ") + table + QStringLiteral(" WHERE id = :id")},
                           {{"id", alertId}});
                if (!a.next()) continue;
                TOmegaOrder alert;
                LoadOmegaOrder(alert, a.record(), table == QLatin1String("FilledOrders"));
                if (alert.OrderType == QLatin1String("LE") || alert.OrderType == QLatin1String("SE")) {
                    const TSqlRows pos = RunSql(
                        DM->conQuikData(),
                        {QStringLiteral("SELECT id, quantity FROM tClientOpenPositions WHERE code=:code and "
                                        "symbol=:symbol and system=:system and workspace=:workspace and "
                                        "[tClientOpenPositions].[interval] = :interval ORDER BY id DESC")},
                        {{"code", code},
                         {"symbol", alert.Symbol},
                         {"system", alert.System},
                         {"workspace", WorkspaceFileName(alert.Workspace)},
                         {"interval", alert.Interval}});
                    if (!pos.Rows.empty()) {
                        RunSql(DM->conQuikData(),
                               {QStringLiteral("DELETE FROM tClientOpenPositions WHERE id = :id")},
                               {{"id", ColumnInt64(pos.Rows.front(), QStringLiteral("id"))}});
                        taken = QStringLiteral(" Позиция %1 %2 снята с учета.")
                                    .arg(ColumnText(pos.Rows.front(), QStringLiteral("quantity")),
                                         JournalField(alert.Symbol));
                        OpenPositionsChanged = true;
                    }
                } else if (alert.OrderType == QLatin1String("LX") || alert.OrderType == QLatin1String("SX")) {
                    taken =
                        QStringLiteral(" Закрытые ею позиции не восстановлены: проверьте их по портфелю.");
                }
                break;
            }
        } catch (const std::exception& e) {
            taken = QStringLiteral(" Позиции не проверены: ") + ErrorText(e) + QLatin1Char('.');
        }
        JournalRef.AddJournalLine(
            QStringLiteral("Транзакция номер %1 прошлого запуска (ордер # %2, счет %3) не "
                           "отправлена в Quik: строки нет в файле транзакций.%4")
                .arg(QString::number(transId), QString::number(alertId), JournalField(code), taken));
    }
    if (unsent > 0)
        JournalRef.AddJournalLine(
            QStringLiteral("Транзакций прошлого запуска, не отправленных в Quik: %1.").arg(unsent));
    RefreshOpenPositions();
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
    Actions = a;
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
                    .arg(TransBook->Sent)
                    .arg(ResultReader->TransAtServer)
                    .arg(ResultReader->TransDone) +
                (ResultReader->TransRefused > 0
                     ? QStringLiteral(", отвергнуто: %1").arg(ResultReader->TransRefused)
                     : QString()),
            Panel5};
}

void TEngine::UpdatePortfolioTotals() {
    if (!DM->QuikDataConnected()) return;
    PortfolioTotals = DM->qPortfolioSum();
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
        FirstSeen.clear();
        LastLook.clear();
        JournalRef.AddJournalLine(
            QStringLiteral("Файл базы данных %1 заменен новым: подключение открыто заново%2.")
                .arg(Settings.Alerts,
                     Watching ? QStringLiteral(", загрузка продолжается с новым файлом") : QString()));
        if (Watching) {
            LastActiveID = DM->GetLastID(DM->tActiveOrders);
            LastFilledID = DM->GetLastID(DM->tFilledOrders);
            LastCanceledID = DM->GetLastID(DM->tCanceledOrders);
            ReportPassedOver(QStringLiteral("FilledOrders"), DM->tFilledOrders, LastFilledID, 0);
            ReportPassedOver(QStringLiteral("ActiveOrders"), DM->tActiveOrders, LastActiveID, 0);
            ReportPassedOver(QStringLiteral("CanceledOrders"), DM->tCanceledOrders, LastCanceledID, 0);
            SaveLastIds();
        }
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
    SumList = DM->qSecCodeSum();
    emit SumListChanged();
}

void TEngine::AdvanceTrayIcon() {
    TrayIconFrame = TrayIconFrame == 3 ? 0 : TrayIconFrame + 1;
    ShownTrayFrame = TrayIconFrame;
    emit TrayFrameChanged(ShownTrayFrame);
}

void TEngine::ResetTrayIcon() {
    ShownTrayFrame = 0;
    emit TrayFrameChanged(0);
}

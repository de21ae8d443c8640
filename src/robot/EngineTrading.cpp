// The tick, the watch passes, the account dispatch and the manual orders.
#include "robot/Engine.h"

#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/Connection.h"
#include "data/SqlRun.h"
#include "notify/MailNotifier.h"
#include "pipeline/AlertDecoding.h"
#include "quik/ResultReader.h"
#include "quik/TransactionWriter.h"

#include <QFileInfo>
#include <QSqlRecord>
#include <algorithm>
#include <vector>

void TEngine::timTable() {
    CheckDatabaseFiles();
    for (TDataTable* t : {DM->tFilledOrders, DM->tActiveOrders, DM->tCanceledOrders, DM->tOpenPisitions})
        DM->RefreshDataSet(t);
    DM->RefreshDataSet(DM->tParam);
    DM->RefreshDataSet(DM->tPortfolio);
    UpdatePortfolioTotals();
    DM->RefreshDataSet(DM->tOrderNumber);
    if (Watching) actWatchingExecute();
    // Lines of a manual order that the file refused wait here too: written, or given up in time.
    TransWriter->FlushTransactions();
    ResultReader->actCheckTROExecute();
    JournalRef.FlushJournal();
}

void TEngine::actStartWatchExecute() {
    // A guard that cannot read its setting would watch without it: watching does not start.
    const QStringList bad = UnreadableLimits();
    if (!bad.isEmpty())
        throw ConversionError(QStringLiteral("Загрузка ордеров не включена: предел не читается как число не "
                                             "меньше 0 (раздел [Risk]): ") +
                              bad.join(QStringLiteral(", ")) + QLatin1Char('.'));
    LastActiveID = DM->GetLastID(DM->tActiveOrders);
    LastFilledID = DM->GetLastID(DM->tFilledOrders);
    LastCanceledID = DM->GetLastID(DM->tCanceledOrders);
    // Alerts that came while the robot was not watching stay unsent, but never unmentioned.
    ReportPassedOver(QStringLiteral("FilledOrders"), DM->tFilledOrders, LastFilledID);
    ReportPassedOver(QStringLiteral("ActiveOrders"), DM->tActiveOrders, LastActiveID);
    ReportPassedOver(QStringLiteral("CanceledOrders"), DM->tCanceledOrders, LastCanceledID);
    SaveLastIds();
    BreakerTripped = false;
    BreakerText.clear();
    RecentAutomatic.clear();
    UpdateStatusBar();
    Watching = true;
    TActionStates a = Actions;
    a.actStartWatch = false;
    a.actStopWatch = true;
    SetActions(a);
    JournalRef.AddJournalLine(QStringLiteral("Загрузка ордеров включена."));
    JournalRef.FlushJournal();
}

void TEngine::actStopWatchExecute() {
    Watching = false;
    ResetTrayIcon();
    TActionStates a = Actions;
    a.actStartWatch = true;
    a.actStopWatch = false;
    SetActions(a);
    JournalRef.AddJournalLine(QStringLiteral("Загрузка ордеров остановлена."));
    JournalRef.FlushJournal();
}

void TEngine::actWatchingExecute() {
    AdvanceTrayIcon();
    WatchReaders();
}

void TEngine::WatchReaders() {
    try {
        switch (Settings.rgpFilled) {
        case 0:
            ReadCanceledOrders();
            ReadFilledOrders(false);
            ReadActiveOrders();
            break;
        case 1:
            ReadFilledOrders(true);
            break;
        default:
            break;
        }
    } catch (const TPassEnded&) {
        // Already reported; the alert waits for the next tick, and the tick goes on.
        ActivePassBusy = false;
    }
    RefreshOpenPositions();
    SaveLastIds();
    TransWriter->FlushTransactions();
    JournalRef.FlushJournal();
}

qint64 TEngine::RetryPeriodMs() const {
    return TTransactionWriter::RetryPeriodMs(Settings.RetryPeriod);
}

namespace {
// When the alerts database last changed (its file or its WAL, clock ms); -1 when it is no file.
qint64 AlertsChangedMs(const QString& setting) {
    const TConnectionTarget target = ConnectionTargetFor(setting);
    if (setting.trimmed().startsWith(QLatin1String("odbc:"), Qt::CaseInsensitive)) return -1;
    const QString path =
        target.Driver == QLatin1String("QSQLITE") ? target.DatabaseName : LocalFilePath(setting);
    qint64 latest = -1;
    for (const QString& f : {path, QString(path + QStringLiteral("-wal"))}) {
        const QFileInfo info(f);
        if (info.exists()) latest = std::max(latest, info.lastModified().toMSecsSinceEpoch());
    }
    return latest;
}
} // namespace

void TEngine::ReadWindow(const QString& table, qint64& lastId, TDataTable* t, bool filledSource,
                         const std::function<void(TOmegaOrder&)>& rule) {
    const qint64 prev = lastId;
    // Rows above the last id seen at the previous look came after it.
    const qint64 lookedBefore = LastLook.value(table, -1);
    LastLook[table] = Clock.MonotonicMs();
    const qint64 cur = DM->GetLastID(t);
    if (cur <= prev) return;
    // The filter's tables are looked at once in a pass, as its alerts are read once.
    struct TPassScope {
        const TPipelineContext& Ctx;
        explicit TPassScope(const TPipelineContext& c) : Ctx(c) { Ctx.PassFilterStamps.emplace(); }
        ~TPassScope() { Ctx.PassFilterStamps.reset(); }
    } pass(Ctx);

    // The last id moves past an alert only once it is handled: sent, filtered out, or refused for its
    // own content. A database or file that fails ends the pass, and the alert is tried again on the
    // next tick; its dispatch is atomic, so nothing goes out twice.
    TSqlRows rows;
    {
        TDatMod::TBusyGuard busy(*DM, t->ConnectionName());
        rows = RunSql(DM->conOmega(),
                      {QStringLiteral("SELECT *"), QStringLiteral("FROM ") + table,
                       QStringLiteral("WHERE id > :prev and id <= :cur ORDER BY id")},
                      {{"prev", prev}, {"cur", cur}});
    }
    auto& seen = FirstSeen[table];
    const qint64 now = Clock.MonotonicMs();
    // Every alert of the window is seen now, also those behind one that ends the pass: the retry
    // period of each counts from here, across failing passes and reconnects. Rows that came while
    // the robot waited (a locked database holds a pass for seconds) are dated by the database's last
    // change, which cannot be before the previous look nor after now.
    qint64 seenAt = now;
    qsizetype unseen = 0;
    for (const QSqlRecord& row : rows.Rows)
        if (!seen.contains(ColumnValue(row, QStringLiteral("ID")).toLongLong())) ++unseen;
    if (lookedBefore >= 0 && unseen > 1) {
        // Several rows came since the last look and nothing tells them apart: each is taken to have
        // come right after it, the earliest it can have.
        seenAt = std::min(lookedBefore, now);
    } else if (lookedBefore >= 0 && unseen == 1) {
        const qint64 changed = AlertsChangedMs(Settings.Alerts);
        // The file's time is on the wall clock: only its distance from now carries over.
        if (changed >= 0)
            seenAt = std::clamp(now - (Clock.NowMs() - changed), std::min(lookedBefore, now), now);
    }
    for (const QSqlRecord& row : rows.Rows) {
        const qint64 id = ColumnValue(row, QStringLiteral("ID")).toLongLong();
        if (!seen.contains(id)) seen.insert(id, seenAt);
    }
    const TAlertColumns columns = rows.Rows.empty() ? TAlertColumns() : AlertColumns(rows.Rows.front());
    for (const QSqlRecord& row : rows.Rows) {
        const QVariant idValue = ColumnValue(row, QStringLiteral("ID"));
        const qint64 id = idValue.toLongLong();
        const QString idText = idValue.toString();
        const qint64 firstSeen = seen.value(id, now);
        const auto tooLate = [&] {
            JournalRef.AddJournalLine(QStringLiteral("Ордер # ") + idText + QStringLiteral(" (") + table +
                                      QStringLiteral(") не отправлен за ") +
                                      QString::number(RetryPeriodMs() / 1000) +
                                      QStringLiteral(" с и пропущен: поздний сигнал не исполняется."));
            lastId = id;
        };
        // The clock read again: the alerts before this one may have taken their time.
        if (Clock.MonotonicMs() - firstSeen > RetryPeriodMs()) {
            tooLate();
            continue;
        }
        try {
            TOmegaOrder alert;
            try {
                LoadOmegaOrder(alert, row, filledSource, columns);
            } catch (const ConversionError& e) {
                JournalRef.AddJournalLine(QStringLiteral("Ордер # ") + idText + QStringLiteral(" (") + table +
                                          QStringLiteral("): строка не читается и пропущена: ") + e.Message);
                lastId = id;
                continue;
            }
            if (!CheckFilters(Ctx, alert)) {
                JournalRef.AddJournalLine(QStringLiteral("Ордер # ") + QString::number(alert.ID) +
                                          QStringLiteral(" не прошел фильтры."));
                lastId = id;
                continue;
            }
            // Whatever way the dispatch ends (a tripped breaker ends the pass), the time is this alert's
            // only.
            struct TSeenScope {
                qint64& Seen;
                ~TSeenScope() { Seen = -1; }
            } seenScope{DispatchSeenMs};
            DispatchSeenMs = firstSeen;
            rule(alert);
        } catch (const TAlertTooLate&) {
            tooLate();
            continue;
        } catch (const ConversionError& e) {
            // Refused for its own content (an order text that does not read): nothing was written.
            JournalRef.AddJournalLine(e.Message);
        } catch (const std::exception& e) {
            const QString reason = ErrorText(e).trimmed();
            const QString text = QStringLiteral("Ордер # ") + idText + QStringLiteral(" (") + table +
                                 QStringLiteral(") не отправлен: ") +
                                 (reason.isEmpty() ? QStringLiteral("причина не сообщена") : reason) +
                                 QStringLiteral(". Повтор на следующем такте.");
            // Said once while the same alert fails for the same reason.
            if (text != LastPassFailure) {
                LastPassFailure = text;
                Errors.Report(text);
            }
            throw TPassEnded();
        }
        lastId = id;
        LastPassFailure.clear();
        // The state file moves with every alert handled, so that a start after a crash names exactly
        // the alerts that were not handled.
        SaveLastIds();
    }
    lastId = std::max(lastId, cur);
    for (auto it = seen.begin(); it != seen.end();)
        it = it.key() <= lastId ? seen.erase(it) : std::next(it);
}

void TEngine::ReadFilledOrders(bool AllFills) {
    ReadWindow(QStringLiteral("FilledOrders"), LastFilledID, DM->tFilledOrders, true,
               [&](TOmegaOrder& alert) {
                   if (AllFills || alert.OrderNumber.isEmpty()) SendToAccounts(alert, BuildNewOrder, true);
               });
    JournalRef.FlushJournal();
}

void TEngine::ReadCanceledOrders() {
    ReadWindow(QStringLiteral("CanceledOrders"), LastCanceledID, DM->tCanceledOrders, false,
               [&](TOmegaOrder& alert) {
                   if (alert.OrderNumber.isEmpty()) return;
                   auto id = Regional::ParseInteger(alert.OrderNumber);
                   if (id) alert.ID = *id;
                   SendToAccounts(alert, BuildKillOrder, true);
               });
    JournalRef.FlushJournal();
}

void TEngine::ReadActiveOrders() {
    const qint64 cur = DM->GetLastID(DM->tActiveOrders);
    if (cur > LastActiveID) {
        if (!ActivePassBusy) {
            ActivePassBusy = true;
            ReadWindow(QStringLiteral("ActiveOrders"), LastActiveID, DM->tActiveOrders, false,
                       [&](TOmegaOrder& alert) { SendToAccounts(alert, BuildNewOrder, true); });
        }
    }
    JournalRef.FlushJournal();
    ActivePassBusy = false;
}

void TEngine::SendToAccounts(const TOmegaOrder& alert, const TOrderBuilder& builder, bool Automatic) {
    // Lines of an earlier dispatch that still wait for the file go first; while the file refuses
    // them, no new order is recorded, since it could only wait behind them and go out late.
    if (!TransWriter->FlushTransactions()) throw IoError(TransWriter->FlushError());

    // Everything one alert writes for all its accounts commits together; its lines become pending
    // only after the commit. A failure rolls it all back and the alert can be tried again.
    QList<TTransactionWriter::TRecorded> done;
    int tripAt = -1;
    // What is the same for every account of this alert is worked out once.
    struct TMemoScope {
        const TPipelineContext& Ctx;
        explicit TMemoScope(const TPipelineContext& c) : Ctx(c) { Ctx.Memo.Active = true; }
        ~TMemoScope() { Ctx.Memo.Clear(); }
    } memo(Ctx);
    const qint64 seenMs = DispatchSeenMs >= 0 ? DispatchSeenMs : Clock.MonotonicMs();
    {
        TDbTransaction tx(DM->conQuikData());
        // Waiting for the database may have taken the alert past its retry period: it is not sent late.
        if (DispatchSeenMs >= 0 && Clock.MonotonicMs() - seenMs > RetryPeriodMs()) throw TAlertTooLate();
        // One look at the database for both kept tables, inside the transaction: what it sees is
        // what this dispatch writes against.
        const std::vector<qint64> stamps =
            TableChangeStamps(DM->conQuikData(), {QStringLiteral("tClients"), QStringLiteral("tSecCode")});
        Ctx.Memo.SecCodeStamp = stamps[1];
        const auto accounts = DispatchAccounts(stamps[0]);
        done.reserve(static_cast<qsizetype>(accounts->size()));
        TOrder order;
        for (const TClientAccount& account : *accounts) {
            if (!builder(Ctx, order, alert, account)) continue;
            if (!Automatic || order.Traded) {
                // A field that would let QUIK read another line than the one meant.
                const QString unsafe = TTransactionWriter::UnsafeField(order, Settings);
                if (!unsafe.isEmpty()) {
                    JournalRef.AddJournalLine(QStringLiteral("Ордер # ") + QString::number(alert.ID) +
                                              QStringLiteral(" по счету ") + JournalField(order.ClientCode) +
                                              QStringLiteral(" не отправлен: ") + unsafe + QLatin1Char('.'));
                    continue;
                }
                if (!WithinLimits(order, alert)) continue;
                done << TransWriter->RecordTransaction(order, alert, seenMs);
                if (!Automatic) MarkManual(done.last());
            } else {
                JournalRef.AddJournalLine(QStringLiteral("Ордер # ") + QString::number(alert.ID) +
                                          QStringLiteral(" не прошел фильтр по счету ") +
                                          JournalField(order.ClientCode) + QStringLiteral(":  инструмент ") +
                                          JournalField(order.Ticker) + QStringLiteral(" не торгуется."));
            }
        }
        if (Automatic && !done.isEmpty()) {
            // The circuit breaker: a strategy that fires in a loop must not reach QUIK for every client.
            // A limit that does not read stops the watching as a tripped one does.
            const auto max = Regional::ParseInteger(Settings.MaxTransPerMinute);
            const qint64 now = Clock.MonotonicMs();
            while (!RecentAutomatic.isEmpty() && now - RecentAutomatic.first() >= 60000)
                RecentAutomatic.removeFirst();
            if (!max || *max < 0)
                tripAt = 0;
            else if (*max > 0 && RecentAutomatic.size() + done.size() > *max)
                tripAt = static_cast<int>(*max);
        }
        if (tripAt < 0) tx.Commit();
    }
    if (tripAt >= 0) {
        // Rolled back: nothing of this alert goes out, and the watching stops here.
        TripBreaker(RecentAutomatic.size() + done.size(), tripAt);
        throw TPassEnded();
    }
    // The lines go to the file first; journal and mail follow them. Lines the file refuses now stay
    // pending, and are given up with their records when their alert grows too old.
    TransWriter->ReleaseTransactions(done);
    TransWriter->FlushTransactions();
    // The day's last number is kept at once: a restart must never give it out again.
    if (!done.isEmpty()) SaveTransNumber();
    if (Automatic && !done.isEmpty()) {
        const qint64 now = Clock.MonotonicMs();
        for (int i = 0; i < done.size(); ++i)
            RecentAutomatic << now;
    }
    if (!Automatic) RefreshOpenPositions();
    JournalRef.FlushJournal();
    if (InformationSound) InformationSound();
}

std::shared_ptr<const std::vector<TClientAccount>>
TEngine::DispatchAccounts(std::optional<qint64> clientsStamp) {
    auto accounts = std::make_shared<std::vector<TClientAccount>>();
    if (Settings.rgpSingleMulti == 0) {
        accounts->push_back({Settings.Code, Settings.AccountMicex, Settings.AccountFORTS});
    } else if (Settings.rgpSingleMulti == 1) {
        // The active clients are read again only when the table may have changed: another program
        // committed to the database, or the operator edited the clients here.
        const qint64 stamp =
            clientsStamp ? *clientsStamp : TableChangeStamp(DM->conQuikData(), QStringLiteral("tClients"));
        if (stamp >= 0 && stamp == ClientsStamp && ActiveClients) return ActiveClients;
        TSqlRows q = RunSql(DM->conQuikData(), {QStringLiteral("SELECT *"), QStringLiteral("FROM tClients"),
                                                QStringLiteral("WHERE [tClients].[Active] = True")});
        while (q.next()) {
            const QSqlRecord& r = q.record();
            accounts->push_back({ColumnText(r, QStringLiteral("Code")),
                                 ColumnText(r, QStringLiteral("AccountMicex")),
                                 ColumnText(r, QStringLiteral("AccountFORTS"))});
        }
        ActiveClients = accounts;
        ClientsStamp = stamp;
    }
    return accounts;
}

void TEngine::RefreshOpenPositions() {
    if (!OpenPositionsChanged) return;
    OpenPositionsChanged = false;
    DM->RefreshDataSet(DM->tClientOpenPositions);
}

void TEngine::PageControl1Change(TMainPage page) {
    CurrentPage = page;
    const bool v =
        (page == TMainPage::tshActiveOrders || page == TMainPage::tshFilledOrders) && DM->OmegaConnected();
    TActionStates a = Actions;
    a.actSendNewOrderManual = v;
    a.actSendKillOrderManual = a.actSendNewOrderManual;
    SetActions(a);
}

void TEngine::ManualOrder(const TOrderBuilder& builder, bool cancel) {
    TDataTable* table = nullptr;
    if (CurrentPage == TMainPage::tshActiveOrders)
        table = DM->tActiveOrders;
    else if (CurrentPage == TMainPage::tshFilledOrders)
        table = DM->tFilledOrders;
    else
        return;
    if (table->Current() < 0) {
        JournalRef.AddJournalLine(QStringLiteral("Ордер не выбран: таблица ") + table->TableName() +
                                  QStringLiteral(" пуста. Ничего не отправлено."));
        JournalRef.FlushJournal();
        return;
    }
    TOmegaOrder alert;
    LoadOmegaOrder(alert, table->CurrentRecord(), table == DM->tFilledOrders);
    if (Settings.ConfirmManualOrders && ConfirmManualOrder) {
        const QString question = ManualOrderQuestion(alert, builder, cancel);
        if (!question.isEmpty() && !ConfirmManualOrder(question)) {
            JournalRef.AddJournalLine(
                QStringLiteral("Ручной ордер # %1 не отправлен: оператор отказался.").arg(alert.ID));
            JournalRef.FlushJournal();
            return;
        }
    }
    SendToAccounts(alert, builder, false);
}

void TEngine::actSendNewOrderManualExecute() {
    ManualOrder(BuildNewOrder, false);
}
void TEngine::actSendKillOrderManualExecute() {
    ManualOrder(BuildKillOrder, true);
}

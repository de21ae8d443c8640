// The tick, the watch passes, the account dispatch, the cancellations and the manual orders.
#include "robot/Engine.h"

#include "common/Clock.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/SqlRun.h"
#include "notify/MailNotifier.h"
#include "pipeline/AlertDecoding.h"
#include "quik/OrderRegistry.h"
#include "quik/PositionBook.h"
#include "quik/PriceText.h"
#include "quik/ResultReader.h"
#include "quik/TransactionWriter.h"
#include "robot/RiskGuard.h"
#include "robot/WatchCycle.h"

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
    // Nothing is sent and no answer is read before the day's registry is: an answer read without it
    // would be taken for an unknown number and lost.
    if (!EnsureRegistry()) {
        JournalRef.FlushJournal();
        return;
    }
    if (IsWatching) actWatchingExecute();
    // Lines of a manual order that the file refused wait here too: written, or given up in time.
    TransWriter->FlushTransactions();
    ResultReader->actCheckTROExecute();
    SendWantedCancellations();
    Orders->SaveLinesWrittenNow();
    JournalRef.FlushJournal();
}

void TEngine::actStartWatchExecute() {
    // A guard that cannot read its setting would watch without it: watching does not start.
    const QStringList bad = UnreadableLimits();
    if (!bad.isEmpty())
        throw ConversionError(QStringLiteral("Загрузка ордеров не включена: предел не читается как число не "
                                             "меньше 0 (раздел [Risk]): ") +
                              bad.join(QStringLiteral(", ")) + QLatin1Char('.'));
    Watch->StartAt();
    Risk->Reset();
    UpdateStatusBar();
    IsWatching = true;
    TActionStates a = ActionStates;
    a.actStartWatch = false;
    a.actStopWatch = true;
    SetActions(a);
    JournalRef.AddJournalLine(QStringLiteral("Загрузка ордеров включена."));
    JournalRef.FlushJournal();
}

void TEngine::actStopWatchExecute() {
    IsWatching = false;
    ResetTrayIcon();
    TActionStates a = ActionStates;
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
    if (!EnsureRegistry()) return;
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
    } catch (const TWatchCycle::TPassEnded&) {
        // Already reported; the alert waits for the next tick, and the tick goes on.
        ActiveBusy = false;
        Watch->PassFailed();
    }
    RefreshOpenPositions();
    Watch->SaveLastIds();
    TransWriter->FlushTransactions();
    JournalRef.FlushJournal();
}

void TEngine::ReadFilledOrders(bool AllFills) {
    Watch->ReadWindow(
        QStringLiteral("FilledOrders"), DM->tFilledOrders, true,
        [&](TOmegaOrder& alert) {
            if (AllFills || alert.OrderNumber.isEmpty())
                SendToAccounts(alert, BuildNewOrder, true);
            else
                AdvanceOrderFilled(alert);
        },
        [this](const QString& text) { Errors.Report(text); });
    JournalRef.FlushJournal();
}

void TEngine::ReadCanceledOrders() {
    Watch->ReadWindow(
        QStringLiteral("CanceledOrders"), DM->tCanceledOrders, false,
        [&](TOmegaOrder& alert) {
            if (alert.OrderNumber.isEmpty()) return;
            // The order number is the cancelled alert's id; one that does not read leaves the row's own.
            const auto id = Regional::ParseInteger(alert.OrderNumber);
            CancelAlertOrders(QStringLiteral("ActiveOrders"), id ? *id : alert.ID, true);
            // A cancellation leaves no row of its own alert in the registry: its being handled is
            // written now, so that a restart never names it as passed over.
            Watch->HandledNow(QStringLiteral("CanceledOrders"), alert.ID);
        },
        [this](const QString& text) { Errors.Report(text); });
    JournalRef.FlushJournal();
}

void TEngine::ReadActiveOrders() {
    if (!ActiveBusy) {
        ActiveBusy = true;
        Watch->ReadWindow(
            QStringLiteral("ActiveOrders"), DM->tActiveOrders, false,
            [&](TOmegaOrder& alert) { SendToAccounts(alert, BuildNewOrder, true); },
            [this](const QString& text) { Errors.Report(text); });
    }
    JournalRef.FlushJournal();
    ActiveBusy = false;
}

bool TEngine::MayGo(const TOrder& order, const TOmegaOrder& alert) {
    // A field that would let QUIK read another line than the one meant.
    const QString unsafe = TTransactionWriter::UnsafeField(order, Settings);
    if (!unsafe.isEmpty()) {
        Ctx.NoteRefusal(QStringLiteral("Ордер # ") + AlertRef(alert), JournalField(order.ClientCode), unsafe);
        return false;
    }
    const QString refusal = Risk->LimitRefusal(order, alert);
    if (refusal.isEmpty()) return true;
    RefuseByLimit(order, alert, refusal);
    return false;
}

void TEngine::RefuseByLimit(const TOrder& order, const TOmegaOrder& alert, const QString& why) {
    const QString head = QStringLiteral("Ордер # ") + AlertRef(alert);
    const QString what = TTransactionWriter::SideWord(order.Operation) + QLatin1Char(' ') +
                         QString::number(order.Quantity) + QLatin1Char(' ') + JournalField(order.Ticker) +
                         QStringLiteral(" по ") + PriceToText(order.Digits, order.Price) +
                         QStringLiteral(", ") + why;
    ++LimitRefusals;
    // Within a dispatch the same refusal of several accounts is one line, one notice and one mail.
    if (Ctx.Memo.Active) {
        Ctx.Memo.Notes.Refused(head, JournalField(order.ClientCode), what, true);
        return;
    }
    SayNote({TAccountNotes::RefusalLine(head, {JournalField(order.ClientCode)}, what), true});
}

void TEngine::SayNote(const TAccountNotes::TNote& note) {
    JournalRef.AddJournalLine(note.Line);
    if (!note.Alarm) return;
    Errors.Notice(note.Line);
    UpdateStatusBar();
    if (Settings.SendTrans_id) Mailer->SendNotification(note.Line);
}

void TEngine::SayAccountNotes() noexcept {
    try {
        for (const TAccountNotes::TNote& note : Ctx.Memo.Notes.Take())
            SayNote(note);
    } catch (const std::exception&) {
        // The journal keeps what it could take; a dispatch never fails for its own notes.
    }
}

void TEngine::TripBreaker(int wouldBe, int limit) {
    const QString text = Risk->Trip(wouldBe, limit);
    JournalRef.AddJournalLine(text);
    if (IsWatching) actStopWatchExecute();
    Mailer->SendNotification(text);
    UpdateStatusBar();
}

void TEngine::SendToAccounts(const TOmegaOrder& alert, const TOrderBuilder& builder, bool Automatic) {
    // Lines of an earlier dispatch that still wait for the file go first; while the file refuses
    // them, no new order is recorded, since it could only wait behind them and go out late.
    if (!TransWriter->FlushTransactions()) throw IoError(TransWriter->FlushError());

    // Everything one alert writes for all its accounts commits together: its registry rows, its
    // tOrderNumber rows, its book rows and its being handled; its lines become pending only after
    // the commit. A failure rolls it all back and the alert can be tried again.
    QList<TTransactionWriter::TRecorded> done;
    int tripAt = -1;
    // What is the same for every account of this alert is worked out once.
    // What its accounts met is said once for all of them, also when the dispatch fails.
    struct TMemoScope {
        TEngine& E;
        explicit TMemoScope(TEngine& e) : E(e) { E.Ctx.Memo.Active = true; }
        ~TMemoScope() {
            E.SayAccountNotes();
            E.Ctx.Memo.Clear();
        }
    } memo(*this);
    const std::optional<qint64> seen = Automatic ? Watch->DispatchSeenMs() : std::nullopt;
    const qint64 seenMs = seen ? *seen : Clock.MonotonicMs();
    {
        TDbTransaction tx(DM->conQuikData());
        Orders->Begin();
        try {
            // Waiting for the database may have taken the alert past its retry period: not sent late.
            if (seen && Clock.MonotonicMs() - seenMs > Watch->RetryPeriodMs())
                throw TWatchCycle::TAlertTooLate();
            // One look at the database for both kept tables, inside the transaction: what it sees is
            // what this dispatch writes against.
            const std::vector<qint64> stamps = TableChangeStamps(
                DM->conQuikData(), {QStringLiteral("tClients"), QStringLiteral("tSecCode")});
            Ctx.Memo.SecCodeStamp = stamps[1];
            const auto accounts = DispatchAccounts(stamps[0]);
            done.reserve(static_cast<qsizetype>(accounts->size()));
            bool opening = false;
            TOrder order;
            // An instrument not traded is the same for every account: said once, naming them all.
            QStringList untraded;
            QString untradedTicker;
            for (const TClientAccount& account : *accounts) {
                if (!builder(Ctx, order, alert, account)) continue;
                if (Automatic && !order.Traded) {
                    untraded << JournalField(order.ClientCode);
                    untradedTicker = order.Ticker;
                    continue;
                }
                if (!MayGo(order, alert)) continue;
                opening = opening || Risk->OpensNew(order, alert);
                TTransactionWriter::TRecordOptions options;
                options.Manual = !Automatic;
                options.FieldsChecked = true; // by MayGo
                done << TransWriter->RecordTransaction(order, alert, seenMs, options);
                if (!Automatic) MarkManual(done.last());
            }
            SayAccountNotes();
            if (!untraded.isEmpty())
                JournalRef.AddJournalLine(
                    QStringLiteral("Ордер # ") + AlertRef(alert) +
                    (untraded.size() > 1 ? QStringLiteral(" не прошел фильтр по счетам ")
                                         : QStringLiteral(" не прошел фильтр по счету ")) +
                    untraded.join(QStringLiteral(", ")) + QStringLiteral(":  инструмент ") +
                    JournalField(untradedTicker) + QStringLiteral(" не торгуется."));
            // The circuit breaker: a strategy that fires in a loop must not reach QUIK for every
            // client. A limit that does not read stops the watching as a tripped one does.
            if (Automatic)
                tripAt = Risk->WouldTrip(static_cast<int>(done.size()), opening, Clock.MonotonicMs());
            if (tripAt < 0) tx.Commit();
        } catch (...) {
            Orders->Rollback();
            throw;
        }
        if (tripAt >= 0)
            Orders->Rollback();
        else
            Orders->Commit();
    }
    if (tripAt >= 0) {
        // Rolled back: nothing of this alert goes out, and the watching stops here.
        TripBreaker(Risk->RecentCount() + static_cast<int>(done.size()), tripAt);
        throw TWatchCycle::TPassEnded();
    }
    RunAfterDispatch(done, Automatic ? static_cast<int>(done.size()) : 0);
}

void TEngine::RunAfterDispatch(const QList<TTransactionWriter::TRecorded>& done, int countedLines) {
    // The lines go to the file first; journal and mail follow them. Lines the file refuses now stay
    // pending, and are given up with their records when their alert grows too old.
    TransWriter->ReleaseTransactions(done);
    TransWriter->FlushTransactions();
    if (countedLines > 0) Risk->Count(countedLines, Clock.MonotonicMs());
    // A watch pass re-reads the open positions once at its end; an action does it now.
    if (!Watch->DispatchSeenMs()) RefreshOpenPositions();
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

// ---------------------------------------------------------------------------------------------
// Cancellations

namespace {
TOrder KillOf(const TOrderRecord& r) {
    TOrder kill;
    kill.Action = r.IsStop() ? QStringLiteral("KILL_STOP_ORDER") : QStringLiteral("KILL_ORDER");
    kill.Operation = r.Operation;
    kill.Quantity = r.Quantity;
    kill.Price = r.Price;
    kill.StopPrice = r.StopPrice;
    kill.IsStop = r.IsStop();
    kill.Filled = r.Market;
    kill.ClientCode = r.Code;
    kill.Account = r.Account;
    kill.SecCode = r.SecCode;
    kill.Ticker = r.Ticker;
    kill.ClassCode = r.ClassCode;
    kill.OrderKey = QString::number(r.OrderNumber);
    kill.StopOrderKey = r.IsStop() ? kill.OrderKey : QString();
    kill.OrderType = r.OrderType;
    kill.Digits = r.Digits;
    kill.IdOrder = r.AlertId;
    kill.Traded = true;
    return kill;
}

TOmegaOrder AlertOf(const TOrderRecord& r) {
    TOmegaOrder alert;
    alert.ID = r.AlertId;
    alert.Filled = r.AlertTable == QLatin1String("FilledOrders");
    alert.Symbol = r.Ticker;
    alert.OrderType = r.OrderType;
    alert.System = r.Strategy;
    alert.Signal = r.Signal;
    alert.Interval = r.Interval;
    alert.Workspace = r.Workspace;
    return alert;
}
} // namespace

void TEngine::SendCancellations(const QList<const TOrderRecord*>& orders, bool manual) {
    if (orders.isEmpty()) return;
    if (!TransWriter->FlushTransactions()) throw IoError(TransWriter->FlushError());
    QList<TTransactionWriter::TRecorded> done;
    {
        TDbTransaction tx(DM->conQuikData());
        TOrderRegistry::TScopeGuard scope(*Orders);
        const qint64 now = Clock.MonotonicMs();
        // Copies: recording a cancellation changes the order's record.
        QList<TOrderRecord> targets;
        for (const TOrderRecord* r : orders)
            targets << *r;
        for (const TOrderRecord& r : targets) {
            TTransactionWriter::TRecordOptions options;
            options.Manual = manual;
            options.Cancels = r.TransId;
            options.AlertTable = r.AlertTable;
            done << TransWriter->RecordTransaction(KillOf(r), AlertOf(r), now, options);
            if (manual) MarkManual(done.last());
        }
        tx.Commit();
        scope.Commit();
    }
    RunAfterDispatch(done, 0);
}

void TEngine::WantCancellations(const QList<qint32>& orders) {
    if (orders.isEmpty()) return;
    TDbTransaction tx(DM->conQuikData());
    TOrderRegistry::TScopeGuard scope(*Orders);
    for (const qint32 id : orders)
        Orders->SetCancelWanted(id, true);
    tx.Commit();
    scope.Commit();
}

void TEngine::SendWantedCancellations() {
    if (!Orders->Ready()) return;
    const QList<const TOrderRecord*> wanted = Orders->WantedCancellations();
    if (wanted.isEmpty()) return;
    for (const TOrderRecord* r : wanted)
        JournalRef.AddJournalLine(
            QStringLiteral("Заявка %1 (транзакция номер %2, счет %3) принята Quik: "
                           "ожидавшее ее снятие отправляется.")
                .arg(QString::number(r->OrderNumber), QString::number(r->TransId), JournalField(r->Code)));
    SendCancellations(wanted, false);
}

void TEngine::CancelAlertOrders(const QString& table, qint64 alertId, bool Automatic) {
    if (!EnsureRegistry()) throw KorvexError(Orders->NotReadyReason());
    const QList<const TOrderRecord*> orders = Orders->OrdersOfAlert(table, alertId);
    const QString who = QStringLiteral("Ордер # %1 (%2)").arg(QString::number(alertId), table);
    if (orders.isEmpty()) {
        JournalRef.AddJournalLine(who +
                                  QStringLiteral(": снимать нечего, робот не отправлял по нему заявок."));
        JournalRef.FlushJournal();
        return;
    }
    QList<const TOrderRecord*> now;
    QList<qint32> later;
    for (const TOrderRecord* r : orders) {
        const QString account = QStringLiteral(" по счету ") + JournalField(r->Code) +
                                QStringLiteral(" (транзакция номер ") + QString::number(r->TransId) +
                                QLatin1Char(')');
        if (r->Stage == TOrderStage::Accepted && r->CanLive() && r->OrderNumber > 0) {
            now << r;
        } else if (AwaitsAnswer(r->Stage) && r->CanLive()) {
            later << r->TransId;
            JournalRef.AddJournalLine(
                who + account +
                QStringLiteral(": Quik еще не ответил, снятие будет отправлено с номером "
                               "заявки."));
        } else if (r->Stage == TOrderStage::CancelPending) {
            JournalRef.AddJournalLine(who + account + QStringLiteral(": снятие уже отправлено."));
        } else if (r->Stage == TOrderStage::Accepted && r->CanLive()) {
            later << r->TransId;
            JournalRef.AddJournalLine(
                who + account +
                QStringLiteral(": Quik не сообщил номер заявки, снятие будет отправлено с "
                               "ним."));
        } else {
            JournalRef.AddJournalLine(who + account + QStringLiteral(": снимать нечего, заявка ") +
                                      (r->Market && r->Stage == TOrderStage::Done
                                           ? QStringLiteral("рыночная и исполнена")
                                           : StageText(r->Stage)) +
                                      QLatin1Char('.'));
        }
    }
    WantCancellations(later);
    SendCancellations(now, !Automatic);
    JournalRef.FlushJournal();
}

void TEngine::AdvanceOrderFilled(const TOmegaOrder& fill) {
    const auto id = Regional::ParseInteger(fill.OrderNumber);
    if (!id) return;
    const QList<const TOrderRecord*> orders = Orders->OrdersOfAlert(QStringLiteral("ActiveOrders"), *id);
    QList<TOrderRecord> filled;
    for (const TOrderRecord* r : orders)
        if (r->CanLive() && (r->Stage == TOrderStage::Accepted || r->Stage == TOrderStage::CancelPending))
            filled << *r;
    if (filled.isEmpty()) return;
    TDbTransaction tx(DM->conQuikData());
    Orders->Begin();
    QStringList lines;
    try {
        for (const TOrderRecord& r : filled) {
            Orders->Move(r.TransId, TOrderEvent::FillReported);
            // The book follows the fill: an entry opens its position now, an exit closes its rows.
            const TPositionBook::TKey key{r.Code,     r.Ticker,    TPositionBook::SideOf(r.OrderType),
                                          r.Strategy, r.Workspace, r.Interval};
            TPositionBook::TEffect effect;
            if (TPositionBook::IsEntry(r.OrderType)) {
                effect.Added.push_back(Positions->Open(key, r.Quantity, r.Signal));
                lines << QStringLiteral(
                             "Заявка транзакции номер %1 исполнена: позиция %2 %3 по счету %4 учтена.")
                             .arg(QString::number(r.TransId), QString::number(r.Quantity), r.Ticker,
                                  JournalField(r.Code));
            } else if (TPositionBook::IsExit(r.OrderType)) {
                effect.Removed = Positions->Close(key);
                lines << QStringLiteral(
                             "Заявка транзакции номер %1 исполнена: позиция %2 по счету %3 закрыта.")
                             .arg(QString::number(r.TransId), r.Ticker, JournalField(r.Code));
            }
            if (!effect.Empty()) Orders->SetBook(r.TransId, effect.ToText());
        }
        tx.Commit();
    } catch (...) {
        Orders->Rollback();
        throw;
    }
    Orders->Commit();
    JournalRef.AddJournalLines(lines);
    OpenPositionsChanged = true;
}

int TEngine::PullAllOrdersCount() const {
    if (!DM->QuikDataConnected() || !Orders->Ready()) return 0;
    int n = 0;
    for (const TOrderRecord* r : Orders->LiveOrders(Clock.Now().date().toString(Qt::ISODate)))
        if (!r->CancelWanted) ++n;
    return n;
}

void TEngine::actPullAllOrdersExecute() {
    if (IsWatching) actStopWatchExecute();
    if (!DM->QuikDataConnected()) throw KorvexError(QStringLiteral("Нет подключения к базе данных Quik"));
    if (!EnsureRegistry()) throw KorvexError(Orders->NotReadyReason());
    const QString today = Clock.Now().date().toString(Qt::ISODate);
    QList<const TOrderRecord*> now;
    QList<qint32> later;
    int earlier = 0;
    for (const TOrderRecord* r : Orders->LiveOrders(today)) {
        if (r->CancelWanted) continue;
        if (r->RunId != Orders->RunId()) ++earlier;
        if (r->Stage == TOrderStage::Accepted && r->OrderNumber > 0)
            now << r;
        else
            later << r->TransId;
    }
    WantCancellations(later);
    const int sent = static_cast<int>(now.size());
    SendCancellations(now, false);
    JournalRef.AddJournalLine(
        QStringLiteral("Снять все заявки: отправлено снятий %1 из %2.").arg(sent).arg(sent + later.size()) +
        (later.isEmpty()
             ? QString()
             : QStringLiteral(" Ждут ответа Quik и будут сняты с номером заявки: %1.").arg(later.size())) +
        (earlier > 0 ? QStringLiteral(" Из них заявок прошлого запуска: %1.").arg(earlier) : QString()));
    JournalRef.FlushJournal();
}

// ---------------------------------------------------------------------------------------------
// Manual orders

void TEngine::PageControl1Change(TMainPage page) {
    Page = page;
    const bool v =
        (page == TMainPage::tshActiveOrders || page == TMainPage::tshFilledOrders) && DM->OmegaConnected();
    TActionStates a = ActionStates;
    a.actSendNewOrderManual = v;
    a.actSendKillOrderManual = a.actSendNewOrderManual;
    SetActions(a);
}

void TEngine::ManualOrder(const TOrderBuilder& builder, bool cancel) {
    TDataTable* table = nullptr;
    if (Page == TMainPage::tshActiveOrders)
        table = DM->tActiveOrders;
    else if (Page == TMainPage::tshFilledOrders)
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
    if (cancel)
        CancelAlertOrders(table->TableName(), alert.ID, false);
    else
        SendToAccounts(alert, builder, false);
}

void TEngine::actSendNewOrderManualExecute() {
    ManualOrder(BuildNewOrder, false);
}
void TEngine::actSendKillOrderManualExecute() {
    ManualOrder(BuildKillOrder, true);
}

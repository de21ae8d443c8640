// The tick, the watch passes, the account dispatch and the manual orders.
#include "robot/Engine.h"

#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/SqlRun.h"
#include "pipeline/AlertDecoding.h"
#include "quik/ResultReader.h"
#include "quik/TransactionWriter.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <vector>

void TEngine::timTable() {
    for (TDataTable* t : {DM->tFilledOrders, DM->tActiveOrders, DM->tCanceledOrders, DM->tOpenPisitions}) DM->RefreshDataSet(t);
    DM->RefreshDataSet(DM->tParam);
    DM->RefreshDataSet(DM->tPortfolio);
    UpdatePortfolioTotals();
    DM->RefreshDataSet(DM->tOrderNumber);
    if (Watching) actWatchingExecute();
    ResultReader->actCheckTROExecute();
    JournalRef.FlushJournal();
}

void TEngine::actStartWatchExecute() {
    LastActiveID = DM->GetLastID(DM->tActiveOrders);
    LastFilledID = DM->GetLastID(DM->tFilledOrders);
    LastCanceledID = DM->GetLastID(DM->tCanceledOrders);
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
    TransWriter->FlushTransactions();
    JournalRef.FlushJournal();
}

void TEngine::ReadWindow(const QString& table, qint32& lastId, TDataTable* t, bool filledSource,
                         const std::function<void(TOmegaOrder&)>& rule) {
    const qint32 prev = lastId;
    const qint32 cur = DM->GetLastID(t);
    if (cur <= prev) return;
    lastId = cur;

    // The whole window is read before any row is handled, so that a failure half-way still knows
    // which alerts it leaves behind.
    std::vector<QSqlRecord> rows;
    {
        TDatMod::TBusyGuard busy(*DM, t->ConnectionName());
        QSqlQuery q = RunSql(DM->conOmega(), {QStringLiteral("SELECT *"), QStringLiteral("FROM %1").arg(table), QStringLiteral("WHERE id > :prev and id <= :cur")},
                             {{"prev", prev}, {"cur", cur}});
        while (q.next()) rows.push_back(q.record());
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        try {
            TOmegaOrder alert;
            LoadOmegaOrder(alert, rows[i], filledSource);
            if (!CheckFilters(Ctx, alert)) {
                JournalRef.AddJournalLine(QStringLiteral("Ордер # %1 не прошел фильтры.").arg(alert.ID));
                continue;
            }
            rule(alert);
        } catch (...) {
            // The window is not read again (sending a trade twice is worse than missing one), so
            // every alert it leaves behind is named for the operator.
            for (size_t j = i; j < rows.size(); ++j) {
                QVariant id;
                try {
                    id = ColumnValue(rows[j], QStringLiteral("ID"));
                } catch (...) {
                }
                JournalRef.AddJournalLine(j == i ? QStringLiteral("Ордер # %1 (%2): обработка прервана ошибкой.").arg(id.toString(), table)
                                                 : QStringLiteral("Ордер # %1 (%2) не обработан из-за ошибки в том же проходе.").arg(id.toString(), table));
            }
            throw;
        }
    }
}

void TEngine::ReadFilledOrders(bool AllFills) {
    ReadWindow(QStringLiteral("FilledOrders"), LastFilledID, DM->tFilledOrders, true, [&](TOmegaOrder& alert) {
        if (AllFills || alert.OrderNumber.isEmpty()) SendToAccounts(alert, BuildNewOrder, true);
    });
    JournalRef.FlushJournal();
}

void TEngine::ReadCanceledOrders() {
    ReadWindow(QStringLiteral("CanceledOrders"), LastCanceledID, DM->tCanceledOrders, false, [&](TOmegaOrder& alert) {
        if (alert.OrderNumber.isEmpty()) return;
        auto id = Regional::ParseInteger(alert.OrderNumber);
        if (id && *id >= INT_MIN && *id <= INT_MAX) alert.ID = static_cast<qint32>(*id);
        SendToAccounts(alert, BuildKillOrder, true);
    });
    JournalRef.FlushJournal();
}

void TEngine::ReadActiveOrders() {
    const qint32 cur = DM->GetLastID(DM->tActiveOrders);
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
    std::vector<TClientAccount> accounts;
    if (Settings.rgpSingleMulti == 0) {
        accounts.push_back({Settings.Code, Settings.AccountMicex, Settings.AccountFORTS});
    } else if (Settings.rgpSingleMulti == 1) {
        QSqlQuery q = RunSql(DM->conQuikData(), {QStringLiteral("SELECT *"), QStringLiteral("FROM tClients"), QStringLiteral("WHERE [tClients].[Active] = True")});
        while (q.next()) {
            const QSqlRecord r = q.record();
            accounts.push_back({ColumnText(r, QStringLiteral("Code")), ColumnText(r, QStringLiteral("AccountMicex")), ColumnText(r, QStringLiteral("AccountFORTS"))});
        }
    }
    TOrder order;
    for (const TClientAccount& account : accounts) {
        if (!builder(Ctx, order, alert, account)) continue;
        if (!Automatic || order.Traded) {
            TransWriter->WriteTransaction(order, alert);
        } else {
            JournalRef.AddJournalLine(QStringLiteral("Ордер # %1 не прошел фильтр по счету %2:  инструмент %3 не торгуется.")
                                          .arg(QString::number(alert.ID), order.ClientCode, order.Ticker));
        }
    }
    if (OpenPositionsChanged) {
        OpenPositionsChanged = false;
        DM->RefreshDataSet(DM->tClientOpenPositions);
    }
    JournalRef.FlushJournal();
    TransWriter->FlushTransactions();
    if (InformationSound) InformationSound();
}

void TEngine::PageControl1Change(TMainPage page) {
    CurrentPage = page;
    const bool v = (page == TMainPage::tshActiveOrders || page == TMainPage::tshFilledOrders) && DM->OmegaConnected();
    TActionStates a = Actions;
    a.actSendNewOrderManual = v;
    a.actSendKillOrderManual = a.actSendNewOrderManual;
    SetActions(a);
}

void TEngine::ManualOrder(const TOrderBuilder& builder) {
    TOmegaOrder alert;
    if (CurrentPage == TMainPage::tshActiveOrders) {
        LoadOmegaOrder(alert, DM->tActiveOrders->CurrentRecord(), false);
    } else if (CurrentPage == TMainPage::tshFilledOrders) {
        LoadOmegaOrder(alert, DM->tFilledOrders->CurrentRecord(), true);
    } else {
        return;
    }
    SendToAccounts(alert, builder, false);
}

void TEngine::actSendNewOrderManualExecute() { ManualOrder(BuildNewOrder); }
void TEngine::actSendKillOrderManualExecute() { ManualOrder(BuildKillOrder); }

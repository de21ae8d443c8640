// What a manual order would send, for the operator to confirm before anything goes out.
#include "robot/Engine.h"

#include "common/Journal.h"
#include "data/SqlRun.h"
#include "pipeline/AlertDecoding.h"
#include "quik/OrderRegistry.h"
#include "quik/PriceText.h"
#include "quik/TransactionWriter.h"

#include <QSqlRecord>

QString TEngine::ManualOrderQuestion(const TOmegaOrder& alert, const TOrderBuilder& builder, bool cancel) {
    const QString table = alert.Filled ? QStringLiteral("FilledOrders") : QStringLiteral("ActiveOrders");
    if (cancel) {
        // A cancellation pulls what the registry knows of the alert, nothing else.
        QStringList orders;
        QString ticker = alert.Symbol;
        for (const TOrderRecord* r : Orders->OrdersOfAlert(table, alert.ID)) {
            if (!r->CanLive() || !(r->Stage == TOrderStage::Accepted || AwaitsAnswer(r->Stage))) continue;
            ticker = r->Ticker;
            orders << QStringLiteral("%1 (счет %2)")
                          .arg(r->OrderNumber > 0 ? QString::number(r->OrderNumber)
                                                  : QStringLiteral("ждет ответа Quik"),
                               r->Code);
        }
        if (orders.isEmpty()) return QString();
        QStringList text;
        text << QStringLiteral("Снять заявку вручную?") << QString();
        text << QStringLiteral("Инструмент: %1").arg(ticker);
        text << QStringLiteral("Заявка: %1").arg(orders.join(QStringLiteral(", ")));
        text << QStringLiteral("Счетов: %1").arg(orders.size());
        text << QString() << QStringLiteral("Ордер # %1 (%2).").arg(alert.ID).arg(table);
        return text.join(QLatin1Char('\n'));
    }
    const auto accounts = DispatchAccounts();
    // The orders are built as the send would build them, and nothing of it is kept: neither the rows
    // (rolled back) nor the journal lines, which the send's own build writes once more.
    QList<TOrder> orders;
    {
        TJournal trialJournal(Clock);
        const TPipelineContext trial{*DM, Settings, trialJournal, Clock};
        TDbTransaction dryRun(DM->conQuikData());
        for (const TClientAccount& account : *accounts) {
            TOrder order;
            if (builder(trial, order, alert, account)) orders << order;
        }
    }
    if (orders.isEmpty()) return QString();
    const TOrder& first = orders.first();
    QStringList lots;
    bool sameLots = true;
    for (const TOrder& o : orders) {
        lots << o.ClientCode + QStringLiteral(": ") + QString::number(o.Quantity);
        sameLots = sameLots && o.Quantity == first.Quantity;
    }
    const QString side = first.Operation == QLatin1String("B")   ? QStringLiteral("покупка")
                         : first.Operation == QLatin1String("S") ? QStringLiteral("продажа")
                                                                 : first.Operation;
    QStringList text;
    text << (cancel ? QStringLiteral("Снять заявку вручную?")
                    : QStringLiteral("Отправить ордер в Quik вручную?"))
         << QString();
    text << QStringLiteral("Инструмент: %1").arg(first.Ticker.isEmpty() ? alert.Symbol : first.Ticker);
    if (cancel) {
        text << QStringLiteral("Заявка: %1")
                    .arg(first.OrderKey.isEmpty() ? QStringLiteral("не принята Quik") : first.OrderKey);
    } else {
        text << QStringLiteral("Направление: %1").arg(side);
        text << QStringLiteral("Лотов: %1")
                    .arg(sameLots ? QString::number(first.Quantity) : lots.join(QStringLiteral(", ")));
        text << QStringLiteral("Цена: %1")
                    .arg(first.Price == 0 ? QStringLiteral("рыночная")
                                          : PriceToText(first.Digits, first.Price));
    }
    text << QStringLiteral("Счетов: %1").arg(orders.size());
    text << QString()
         << QStringLiteral("Ордер # %1 (%2).")
                .arg(alert.ID)
                .arg(alert.Filled ? QStringLiteral("FilledOrders") : QStringLiteral("ActiveOrders"));
    return text.join(QLatin1Char('\n'));
}

void TEngine::MarkManual(TTransactionWriter::TRecorded& r) {
    // The operator's own transactions must not read like the robot's in the journal and the mail.
    for (QString* text : {&r.JournalText, &r.MailText})
        if (text->endsWith(QLatin1Char('.'))) {
            text->chop(1);
            *text += QStringLiteral(" (вручную).");
        }
}

#include "pipeline/OrderBuilders.h"

#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "pipeline/PositionSizing.h"

#include <QSqlQuery>
#include <limits>

void ParseOrderText(TOrder& order, const TOmegaOrder& alert) {
    const QString& text = alert.Order;
    QString word;
    int k = 0;
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('(')) {
            word += c;
            continue;
        }
        switch (k) {
        case 0:
            if (word == QLatin1String("Buy"))
                order.Operation = QStringLiteral("B");
            else if (word == QLatin1String("Sell"))
                order.Operation = QStringLiteral("S");
            word.clear();
            k = 1;
            break;
        case 1: {
            auto v = Regional::ParseInteger(word);
            if (!v || *v < std::numeric_limits<qint32>::min() || *v > std::numeric_limits<qint32>::max())
                throw ConversionError(
                    QStringLiteral(
                        "Ордер # %1: количество \"%2\" в тексте ордера \"%3\" не является целым числом")
                        .arg(alert.ID)
                        .arg(word, text));
            order.Quantity = static_cast<qint32>(*v);
            word.clear();
            k = 2;
            break;
        }
        case 2:
            word.clear();
            k = 3;
            break;
        case 3:
            if (auto p = Regional::ParseDecimal(word)) order.Price = *p;
            word.clear();
            k = 4;
            break;
        default:
            break;
        }
    }
    const QString upper = text.toUpper();
    order.IsStop = upper.contains(QLatin1String("STOP"));
    if (upper.contains(QLatin1String("MARKET"))) order.Filled = true;
    if (alert.Filled) {
        order.Price = alert.FillPrice;
        order.IsStop = false;
        order.Filled = true;
    }
}

QString RouteAccount(const QString& classCode, const TClientAccount& account) {
    if (classCode == QLatin1String("SPBFUT")) return account.AccountFORTS;
    if (classCode == QLatin1String("GTS")) return account.Code;
    return account.AccountMicex;
}

namespace {
// The order text is the alert's: read once for all its accounts.
void ParseOrderTextOnce(const TPipelineContext& ctx, TOrder& order, const TOmegaOrder& alert) {
    auto& memo = ctx.Memo;
    if (memo.Active && memo.Parsed) {
        order.Operation = memo.Parsed->Operation;
        order.Quantity = memo.Parsed->Quantity;
        order.Price = memo.Parsed->Price;
        order.IsStop = memo.Parsed->IsStop;
        order.Filled = memo.Parsed->Filled;
        return;
    }
    ParseOrderText(order, alert);
    if (memo.Active)
        memo.Parsed = TPipelineContext::TParsedOrder{order.Operation, order.Quantity, order.Price,
                                                     order.IsStop, order.Filled};
}

void StartOrder(TOrder& order, const TOmegaOrder& alert, const TClientAccount& account) {
    ClearOrder(order);
    order.IdOrder = alert.ID;
    order.ClientCode = account.Code;
    order.Ticker = alert.Symbol;
    order.OrderType = alert.OrderType;
}
} // namespace

bool BuildNewOrder(const TPipelineContext& ctx, TOrder& order, const TOmegaOrder& alert,
                   const TClientAccount& account) {
    StartOrder(order, alert, account);
    ParseOrderTextOnce(ctx, order, alert);
    SizeOrder(ctx, order, alert);
    if (order.Quantity < 1) return false;
    order.Action = QStringLiteral("NEW_ORDER");
    if (order.IsStop) {
        order.Action = QStringLiteral("NEW_STOP_ORDER");
        std::swap(order.Price, order.StopPrice);
    }
    if (order.Filled) order.Price = order.StopPrice;
    order.Account = RouteAccount(order.ClassCode, account);
    return true;
}

bool BuildKillOrder(const TPipelineContext& ctx, TOrder& order, const TOmegaOrder& alert,
                    const TClientAccount& account) {
    StartOrder(order, alert, account);
    TSqlRows q =
        RunSql(ctx.DM.conQuikData(),
               {QStringLiteral("SELECT Order_Number"), QStringLiteral("FROM tOrderNumber"),
                QStringLiteral("WHERE id_order = :id_order and Filled= :filled and code= :code"),
                QStringLiteral("ORDER BY trans_id")},
               {{"id_order", order.IdOrder}, {"filled", alert.Filled ? 1 : 0}, {"code", order.ClientCode}});
    QVariant last;
    bool any = false;
    while (q.next()) {
        last = q.value(0);
        any = true;
    }
    if (any) order.OrderKey = last.isNull() ? QString() : last.toString();
    auto key = Regional::ParseInteger(order.OrderKey);
    if (!key || *key <= 0) return false;

    ParseOrderTextOnce(ctx, order, alert);
    SizeOrder(ctx, order, alert);
    if (order.Quantity < 1) return false;
    order.Action = QStringLiteral("KILL_ORDER");
    if (order.IsStop) {
        order.Action = QStringLiteral("KILL_STOP_ORDER");
        order.StopOrderKey = order.OrderKey;
    }
    order.Account = RouteAccount(order.ClassCode, account);
    return true;
}

#include "pipeline/OrderBuilders.h"

#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "pipeline/PositionSizing.h"

#include <QSqlQuery>
#include <cmath>
#include <limits>

void ParseOrderText(TOrder& order, const TOmegaOrder& alert) {
    const QString& text = alert.Order;
    auto refuse = [&](const QString& why) {
        throw ConversionError(QStringLiteral("Ордер # %1 не отправлен: %2 в тексте ордера \"%3\".")
                                  .arg(AlertRef(alert), why, JournalField(text)));
    };
    if (text.trimmed().isEmpty())
        throw ConversionError(
            QStringLiteral("Ордер # %1 не отправлен: текст ордера пуст.").arg(AlertRef(alert)));
    QString word;
    int k = 0;
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('(')) {
            word += c;
            continue;
        }
        switch (k) {
        case 0:
            // The platform writes "Buy" and "Sell"; any other word would leave the side to chance.
            if (word.compare(QLatin1String("Buy"), Qt::CaseInsensitive) == 0)
                order.Operation = QStringLiteral("B");
            else if (word.compare(QLatin1String("Sell"), Qt::CaseInsensitive) == 0)
                order.Operation = QStringLiteral("S");
            else
                refuse(QStringLiteral("направление \"%1\" не Buy и не Sell").arg(JournalField(word, 40)));
            word.clear();
            k = 1;
            break;
        case 1: {
            auto v = Regional::ParseInteger(word);
            if (!v || *v < std::numeric_limits<qint32>::min() || *v > std::numeric_limits<qint32>::max())
                throw ConversionError(
                    QStringLiteral(
                        "Ордер # %1: количество \"%2\" в тексте ордера \"%3\" не является целым числом")
                        .arg(AlertRef(alert))
                        .arg(JournalField(word, 40), JournalField(text)));
            if (*v <= 0) refuse(QStringLiteral("количество %1 не больше нуля").arg(*v));
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
            // Either separator: the platform may run with other regional settings than the robot.
            if (auto p = Regional::ParseDecimalAnySeparator(word)) order.Price = *p;
            word.clear();
            k = 4;
            break;
        default:
            break;
        }
    }
    // A text that ends before its quantity has none: nothing would be sent, and the operator must know.
    if (k < 2) refuse(QStringLiteral("нет количества"));
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

// The largest price written: beyond it a double no longer carries the price's digits.
constexpr double MaxPrice = 1e15;

// A transaction whose quantity came out below one lot goes nowhere; the operator hears of it unless
// the sizing already said why.
bool EnoughLots(const TPipelineContext& ctx, const TOrder& order, const TOmegaOrder& alert) {
    if (order.Quantity >= 1) return true;
    if (!order.Refused)
        ctx.NoteRefusal(QStringLiteral("Ордер # ") + AlertRef(alert), JournalField(order.ClientCode),
                        QStringLiteral("объем %1 меньше одного лота (текст ордера \"%2\")")
                            .arg(QString::number(order.Quantity), JournalField(alert.Order)));
    return false;
}

// The account a transaction goes to must exist: a line with an empty ACCOUNT is not what was meant.
bool HasAccount(const TPipelineContext& ctx, const TOrder& order, const TOmegaOrder& alert) {
    if (!order.Account.trimmed().isEmpty()) return true;
    const QString field = order.ClassCode == QLatin1String("SPBFUT") ? QStringLiteral("AccountFORTS")
                          : order.ClassCode == QLatin1String("GTS")  ? QStringLiteral("Code")
                                                                     : QStringLiteral("AccountMicex");
    ctx.NoteRefusal(QStringLiteral("Ордер # ") + AlertRef(alert), JournalField(order.ClientCode),
                    QStringLiteral("нет счета для класса %1 (поле %2 пусто)")
                        .arg(JournalField(order.ClassCode, 40), field));
    return false;
}
} // namespace

bool BuildNewOrder(const TPipelineContext& ctx, TOrder& order, const TOmegaOrder& alert,
                   const TClientAccount& account) {
    StartOrder(order, alert, account);
    ParseOrderTextOnce(ctx, order, alert);
    SizeOrder(ctx, order, alert);
    if (!EnoughLots(ctx, order, alert)) return false;
    order.Action = QStringLiteral("NEW_ORDER");
    if (order.IsStop) {
        order.Action = QStringLiteral("NEW_STOP_ORDER");
        std::swap(order.Price, order.StopPrice);
    }
    if (order.Filled) order.Price = order.StopPrice;
    // A price that did not read, or one that cannot be a price, must not reach QUIK as 0 or as
    // a figure of hundreds of digits: the alert is refused whole.
    for (const double p : {order.Price, order.IsStop ? order.StopPrice : order.Price})
        if (!(std::isfinite(p) && p > 0 && p < MaxPrice))
            throw ConversionError(
                QStringLiteral("Ордер # %1 не отправлен: цена %2 не является ценой больше нуля "
                               "(текст ордера \"%3\").")
                    .arg(AlertRef(alert), QString::number(p, 'g', 17), JournalField(alert.Order)));
    order.Account = RouteAccount(order.ClassCode, account);
    return HasAccount(ctx, order, alert);
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
    if (!EnoughLots(ctx, order, alert)) return false;
    order.Action = QStringLiteral("KILL_ORDER");
    if (order.IsStop) {
        order.Action = QStringLiteral("KILL_STOP_ORDER");
        order.StopOrderKey = order.OrderKey;
    }
    order.Account = RouteAccount(order.ClassCode, account);
    return HasAccount(ctx, order, alert);
}

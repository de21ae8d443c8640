#include "robot/RiskGuard.h"

#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/Regional.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "quik/PositionBook.h"
#include "quik/PriceText.h"
#include "settings/Settings.h"

#include <QSqlRecord>
#include <cmath>

namespace {
// A limit setting: a number >= 0 with either decimal separator, blanks around allowed; 0 or an empty
// text is no limit. nullopt: it does not read, and the guard fails closed.
std::optional<double> Limit(const QString& text) {
    if (text.trimmed().isEmpty()) return 0.0;
    const auto v = Regional::ParseDecimalAnySeparator(text);
    if (!v || *v < 0) return std::nullopt;
    return v;
}

bool IsExit(const TOrder& order) {
    return order.OrderType == QLatin1String("LX") || order.OrderType == QLatin1String("SX");
}
} // namespace

QStringList TRiskGuard::UnreadableLimits() const {
    const TSettings& s = Ctx.Settings;
    QStringList bad;
    if (!Limit(s.MaxLots)) bad << QStringLiteral("MaxLots=") + JournalField(s.MaxLots, 40);
    if (!Limit(s.MaxMoney)) bad << QStringLiteral("MaxMoney=") + JournalField(s.MaxMoney, 40);
    const auto trans = Regional::ParseInteger(s.MaxTransPerMinute);
    if (!s.MaxTransPerMinute.trimmed().isEmpty() && (!trans || *trans < 0))
        bad << QStringLiteral("MaxTransPerMinute=") + JournalField(s.MaxTransPerMinute, 40);
    return bad;
}

namespace {
// The lots of an order that open something new: all of an entry's, an exit's beyond what is held.
qint64 NewLots(const TOrder& order, const TOmegaOrder& alert, const TPositionBook& book) {
    qint64 lots = order.Quantity;
    if (IsExit(order)) {
        const auto held = book.Held({order.ClientCode, order.Ticker, TPositionBook::SideOf(order.OrderType),
                                     alert.System, WorkspaceFileName(alert.Workspace), alert.Interval});
        lots = std::max<qint64>(0, lots - held.value_or(0));
    }
    return lots;
}
} // namespace

bool TRiskGuard::OpensNew(const TOrder& order, const TOmegaOrder& alert) const {
    if (!order.Action.startsWith(QLatin1String("NEW"))) return false;
    return NewLots(order, alert, Book) > 0;
}

std::optional<double> TRiskGuard::CachedLimit(TLimitMemo& memo, const QString& text) const {
    if (!memo.Read || memo.Text != text) {
        memo.Text = text;
        memo.Value = Limit(text);
        memo.Read = true;
    }
    return memo.Value;
}

QString TRiskGuard::LimitRefusal(const TOrder& order, const TOmegaOrder& alert) const {
    if (!order.Action.startsWith(QLatin1String("NEW"))) return QString();
    const qint64 lots = NewLots(order, alert, Book);
    if (lots == 0) return QString();
    const TSettings& s = Ctx.Settings;
    const auto maxLots = CachedLimit(LotsMemo, s.MaxLots);
    const auto maxMoney = CachedLimit(MoneyMemo, s.MaxMoney);
    if (!maxLots)
        return QStringLiteral("предел MaxLots \"%1\" не читается как число").arg(JournalField(s.MaxLots, 40));
    if (!maxMoney)
        return QStringLiteral("предел MaxMoney \"%1\" не читается как число")
            .arg(JournalField(s.MaxMoney, 40));
    if (*maxLots > 0 && lots > *maxLots)
        return QStringLiteral("%1 лот. больше предела %2 лот. (MaxLots)")
            .arg(lots)
            .arg(Regional::FormatGeneral(*maxLots));
    if (*maxMoney > 0) {
        TSqlRows q = RunSql(Ctx.DM.conQuikData(),
                            {QStringLiteral("SELECT LotSize FROM tSecCode WHERE Ticker = :ticker")},
                            {{"ticker", order.Ticker}});
        const double lotSize = q.next() ? std::max(1, ColumnInt(q.record(), QStringLiteral("LotSize"))) : 1;
        // The price as QUIK gets it, rounded to the instrument's precision.
        const auto written = TryPriceToText(order.Digits, order.Price);
        const auto price = written ? Regional::ParseDecimal(*written) : std::nullopt;
        const double money = static_cast<double>(lots) * lotSize * std::fabs(price ? *price : order.Price);
        if (!(money <= *maxMoney))
            return QStringLiteral("сумма %1 больше предела %2 (MaxMoney)")
                .arg(Regional::FormatGeneral(money), Regional::FormatGeneral(*maxMoney));
    }
    return QString();
}

int TRiskGuard::WouldTrip(int lines, bool opening, qint64 nowMs) {
    while (!Recent.isEmpty() && nowMs - Recent.first() >= 60000)
        Recent.removeFirst();
    // A strategy that fires in a loop must not reach QUIK for every client; what closes or cancels
    // is never held back by it.
    if (!opening || lines == 0) return -1;
    const auto max = Regional::ParseInteger(Ctx.Settings.MaxTransPerMinute);
    if (!Ctx.Settings.MaxTransPerMinute.trimmed().isEmpty() && (!max || *max < 0)) return 0;
    if (max && *max > 0 && Recent.size() + lines > *max) return static_cast<int>(*max);
    return -1;
}

void TRiskGuard::Count(int lines, qint64 nowMs) {
    for (int i = 0; i < lines; ++i)
        Recent << nowMs;
}

QString TRiskGuard::Trip(int wouldBe, int limit) {
    IsTripped = true;
    if (limit <= 0) {
        // The limit stopped reading while watching: the breaker fails closed.
        TripText = QStringLiteral("Автостоп: предел MaxTransPerMinute не читается");
        return QStringLiteral(
                   "Загрузка ордеров остановлена автоматически: предел MaxTransPerMinute \"%1\" не "
                   "читается как целое число не меньше 0. Исправьте настройку и запустите загрузку "
                   "вручную.")
            .arg(JournalField(Ctx.Settings.MaxTransPerMinute, 40));
    }
    TripText = QStringLiteral("Автостоп: %1 транзакций за минуту, предел %2").arg(wouldBe).arg(limit);
    return QStringLiteral("Загрузка ордеров остановлена автоматически: за последнюю минуту было бы "
                          "отправлено %1 транзакций, предел %2 (MaxTransPerMinute). Проверьте стратегии и "
                          "запустите загрузку вручную.")
        .arg(wouldBe)
        .arg(limit);
}

void TRiskGuard::Reset() {
    IsTripped = false;
    TripText.clear();
    Recent.clear();
}

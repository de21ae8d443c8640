// Guard rails: order limits, the circuit breaker, "pull every order", and the alerts that arrived
// while the robot was not watching.
#include "robot/Engine.h"

#include "common/Journal.h"
#include "common/KorvexError.h"
#include "common/Regional.h"
#include "data/SqlRun.h"
#include "notify/MailNotifier.h"
#include "pipeline/AlertDecoding.h"
#include "pipeline/PositionSizing.h"
#include "quik/PriceText.h"
#include "quik/ResultReader.h"
#include "quik/TransactionWriter.h"

#include <QLocale>
#include <QSet>
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
} // namespace

QStringList TEngine::UnreadableLimits() const {
    QStringList bad;
    if (!Limit(Settings.MaxLots)) bad << QStringLiteral("MaxLots=") + JournalField(Settings.MaxLots, 40);
    if (!Limit(Settings.MaxMoney)) bad << QStringLiteral("MaxMoney=") + JournalField(Settings.MaxMoney, 40);
    const auto trans = Regional::ParseInteger(Settings.MaxTransPerMinute);
    if (!Settings.MaxTransPerMinute.trimmed().isEmpty() && (!trans || *trans < 0))
        bad << QStringLiteral("MaxTransPerMinute=") + JournalField(Settings.MaxTransPerMinute, 40);
    return bad;
}

bool TEngine::WithinLimits(const TOrder& order, const TOmegaOrder& alert) {
    if (!order.Action.startsWith(QLatin1String("NEW"))) return true;
    // An exit up to the recorded quantity closes what the limits let through: only what goes
    // beyond it opens something new.
    qint64 lots = order.Quantity;
    const bool exit = order.OrderType == QLatin1String("LX") || order.OrderType == QLatin1String("SX");
    if (exit) {
        const auto recorded = RecordedExitQuantity(Ctx, order.ClientCode, order.Ticker, alert);
        lots = std::max<qint64>(0, lots - recorded.value_or(0));
        if (lots == 0) return true;
    }
    QString refusal;
    const auto maxLots = Limit(Settings.MaxLots);
    const auto maxMoney = Limit(Settings.MaxMoney);
    if (!maxLots) {
        refusal = QStringLiteral("предел MaxLots \"%1\" не читается как число")
                      .arg(JournalField(Settings.MaxLots, 40));
    } else if (!maxMoney) {
        refusal = QStringLiteral("предел MaxMoney \"%1\" не читается как число")
                      .arg(JournalField(Settings.MaxMoney, 40));
    } else if (*maxLots > 0 && lots > *maxLots) {
        refusal = QStringLiteral("%1 лот. больше предела %2 лот. (MaxLots)")
                      .arg(lots)
                      .arg(Regional::FormatGeneral(*maxLots));
    } else if (*maxMoney > 0) {
        TSqlRows q =
            RunSql(DM->conQuikData(), {QStringLiteral("SELECT LotSize FROM tSecCode WHERE Ticker = :ticker")},
                   {{"ticker", order.Ticker}});
        const double lotSize = q.next() ? std::max(1, ColumnInt(q.record(), QStringLiteral("LotSize"))) : 1;
        // The price as QUIK gets it, rounded to the instrument's precision.
        const auto written = TryPriceToText(order.Digits, order.Price);
        const auto price = written ? Regional::ParseDecimal(*written) : std::nullopt;
        const double money = static_cast<double>(lots) * lotSize * std::fabs(price ? *price : order.Price);
        if (!(money <= *maxMoney))
            refusal = QStringLiteral("сумма %1 больше предела %2 (MaxMoney)")
                          .arg(Regional::FormatGeneral(money), Regional::FormatGeneral(*maxMoney));
    }
    if (refusal.isEmpty()) return true;
    const QString text = QStringLiteral("Ордер # ") + QString::number(alert.ID) +
                         QStringLiteral(" по счету ") + JournalField(order.ClientCode) +
                         QStringLiteral(" не отправлен: ") + order.Operation + QLatin1Char(' ') +
                         QString::number(order.Quantity) + QLatin1Char(' ') + JournalField(order.Ticker) +
                         QStringLiteral(" at ") + PriceToText(order.Digits, order.Price) +
                         QStringLiteral(", ") + refusal + QLatin1Char('.');
    JournalRef.AddJournalLine(text);
    // Counted and shown as QUIK's refusals are.
    ++ResultReader->TransRefused;
    Errors.Notice(text);
    UpdateStatusBar();
    if (Settings.SendTrans_id) Mailer->SendNotification(text);
    return false;
}

void TEngine::TripBreaker(int wouldBe, int limit) {
    BreakerTripped = true;
    QString text;
    if (limit <= 0) {
        // The limit stopped reading while watching: the breaker fails closed.
        BreakerText = QStringLiteral("Автостоп: предел MaxTransPerMinute не читается");
        text =
            QStringLiteral("Загрузка ордеров остановлена автоматически: предел MaxTransPerMinute \"%1\" не "
                           "читается как целое число не меньше 0. Исправьте настройку и запустите загрузку "
                           "вручную.")
                .arg(JournalField(Settings.MaxTransPerMinute, 40));
    } else {
        BreakerText = QStringLiteral("Автостоп: %1 транзакций за минуту, предел %2").arg(wouldBe).arg(limit);
        text =
            QStringLiteral("Загрузка ордеров остановлена автоматически: за последнюю минуту было бы "
                           "отправлено %1 транзакций, предел %2 (MaxTransPerMinute). Проверьте стратегии и "
                           "запустите загрузку вручную.")
                .arg(wouldBe)
                .arg(limit);
    }
    JournalRef.AddJournalLine(text);
    if (Watching) actStopWatchExecute();
    Mailer->SendNotification(text);
    UpdateStatusBar();
}

QList<TEngine::TSentOrder> TEngine::OrdersToPull() {
    QList<TSentOrder> pull;
    QSet<QString> seen;
    auto key = [this](const TSentOrder& s) -> QString {
        return QString::number(s.AlertId) + QLatin1Char('/') + QString::number(s.Filled) + QLatin1Char('/') +
               SentAccounts[s.Account].Code;
    };
    // Newest first: a cancellation sent after an order pulls it.
    for (int i = SentOrders.size() - 1; i >= 0; --i) {
        const TSentOrder& s = SentOrders[i];
        const QString k = key(s);
        if (seen.contains(k)) continue;
        seen.insert(k);
        if (!s.IsNew) continue;
        TSqlRows q =
            RunSql(DM->conQuikData(),
                   {QStringLiteral("SELECT status, order_number FROM tOrderNumber WHERE trans_id = :t")},
                   {{"t", s.TransId}});
        if (!q.next()) continue;
        const QSqlRecord& r = q.record();
        if (ColumnText(r, QStringLiteral("status")) == QLatin1String("3") &&
            ColumnInt64(r, QStringLiteral("order_number")) > 0)
            pull.prepend(s);
    }
    return pull;
}

int TEngine::PullAllOrdersCount() {
    return DM->QuikDataConnected() ? OrdersToPull().size() : 0;
}

void TEngine::actPullAllOrdersExecute() {
    if (Watching) actStopWatchExecute();
    if (!DM->QuikDataConnected()) throw KorvexError(QStringLiteral("Нет подключения к базе данных Quik"));
    const QList<TSentOrder> pull = OrdersToPull();
    if (!TransWriter->FlushTransactions()) throw IoError(TransWriter->FlushError());
    QList<TTransactionWriter::TRecorded> done;
    QList<TSentOrder> sent;
    {
        TDbTransaction tx(DM->conQuikData());
        TOrder order;
        for (const TSentOrder& s : pull) {
            // The alert as it stands in its table: its order text tells a stop from a limit order.
            TOmegaOrder alert;
            TSqlRows row =
                RunSql(DM->conOmega(),
                       {QStringLiteral("SELECT * FROM ") +
                        (s.Filled ? QStringLiteral("FilledOrders") : QStringLiteral("ActiveOrders")) +
                        QStringLiteral(" WHERE id = :id")},
                       {{"id", s.AlertId}});
            bool built = false;
            if (row.next()) {
                LoadOmegaOrder(alert, row.record(), s.Filled);
                built = BuildKillOrder(Ctx, order, alert, SentAccounts[s.Account]);
            }
            if (!built) {
                JournalRef.AddJournalLine(
                    QStringLiteral("Снятие заявки по ордеру # %1 для счета %2 не построено.")
                        .arg(QString::number(s.AlertId), SentAccounts[s.Account].Code));
                continue;
            }
            done << TransWriter->RecordTransaction(order, alert, Clock.NowMs());
            sent << TSentOrder{done.last().TransId, s.Account, alert.ID, alert.Filled, false};
        }
        tx.Commit();
    }
    TransWriter->ReleaseTransactions(done);
    TransWriter->FlushTransactions();
    SentOrders << std::move(sent);
    JournalRef.AddJournalLine(
        QStringLiteral("Снять все заявки: отправлено снятий %1 из %2.").arg(done.size()).arg(pull.size()));
    JournalRef.FlushJournal();
    if (InformationSound) InformationSound();
}

void TEngine::SaveLastIds() {
    if (!State) return;
    const TRunState before = *State;
    State->Alerts = Settings.Alerts;
    State->LastHandled[QStringLiteral("FilledOrders")] = LastFilledID;
    State->LastHandled[QStringLiteral("ActiveOrders")] = LastActiveID;
    State->LastHandled[QStringLiteral("CanceledOrders")] = LastCanceledID;
    if (before.Alerts == State->Alerts && before.LastHandled == State->LastHandled) return;
    State->Save();
}

void TEngine::ReportPassedOver(const QString& table, TDataTable* t, qint64 cur) {
    if (!State || State->Alerts != Settings.Alerts || !State->LastHandled.contains(table) || cur < 0) return;
    const qint64 last = State->LastHandled.value(table);
    if (cur <= last || last < 0) return;
    TSqlRows q = RunSql(DM->conOmega(),
                        {QStringLiteral("SELECT id FROM ") + t->TableName() +
                         QStringLiteral(" WHERE id > :last and id <= :cur ORDER BY id")},
                        {{"last", last}, {"cur", cur}});
    if (q.size() == 0) return;
    QStringList ids;
    while (q.next() && ids.size() < 20)
        ids << q.value(0).toString();
    if (q.size() > ids.size()) ids << QStringLiteral("…");
    JournalRef.AddJournalLine(QStringLiteral("В таблице %1 пришли без наблюдения и не отправлены ордера: %2 "
                                             "(#%3). Поздний сигнал не исполняется.")
                                  .arg(table)
                                  .arg(q.size())
                                  .arg(ids.join(QStringLiteral(", #"))));
}

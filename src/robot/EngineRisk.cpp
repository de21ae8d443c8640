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

int TEngine::PullAllOrdersCount() {
    return DM->QuikDataConnected() ? static_cast<int>(TransBook->Live.ToPull().size()) : 0;
}

void TEngine::actPullAllOrdersExecute() {
    if (Watching) actStopWatchExecute();
    if (!DM->QuikDataConnected()) throw KorvexError(QStringLiteral("Нет подключения к базе данных Quik"));
    // Every order living in QUIK that no cancellation is on its way for, this run's and an earlier
    // run's of the day alike: each is cancelled from the order as it was sent.
    const QList<TLiveOrders::TLive> pull = TransBook->Live.ToPull();
    if (!TransWriter->FlushTransactions()) throw IoError(TransWriter->FlushError());
    QList<TTransactionWriter::TRecorded> done;
    int carried = 0;
    {
        TDbTransaction tx(DM->conQuikData());
        const qint64 now = Clock.MonotonicMs();
        for (const TLiveOrders::TLive& l : pull) {
            TOrder kill = l.Order;
            kill.Action = kill.IsStop ? QStringLiteral("KILL_STOP_ORDER") : QStringLiteral("KILL_ORDER");
            kill.OrderKey = QString::number(l.OrderNumber);
            kill.StopOrderKey = kill.IsStop ? kill.OrderKey : QString();
            TOmegaOrder alert;
            alert.ID = kill.IdOrder;
            alert.Filled = l.FromFilled;
            alert.Symbol = kill.Ticker;
            alert.OrderType = kill.OrderType;
            done << TransWriter->RecordTransaction(kill, alert, now);
            if (l.Carried) ++carried;
        }
        tx.Commit();
    }
    TransWriter->ReleaseTransactions(done);
    TransWriter->FlushTransactions();
    SaveTransNumber();
    JournalRef.AddJournalLine(
        QStringLiteral("Снять все заявки: отправлено снятий %1 из %2.").arg(done.size()).arg(pull.size()) +
        (carried > 0 ? QStringLiteral(" Из них заявок прошлого запуска: %1.").arg(carried) : QString()));
    JournalRef.FlushJournal();
    if (InformationSound) InformationSound();
}

void TEngine::SaveTransNumber() {
    if (!State || TransWriter->TransSent <= 0) return;
    const QString day = Clock.Now().date().toString(Qt::ISODate);
    if (State->Day == day && State->LastTransId == TransWriter->TransSent - 1) return;
    State->Day = day;
    State->LastTransId = TransWriter->TransSent - 1;
    State->Save();
}

void TEngine::SaveLastIds() {
    if (!State) return;
    const TRunState before = *State;
    State->Alerts = Settings.Alerts;
    State->LastHandled[QStringLiteral("FilledOrders")] = LastFilledID;
    State->LastHandled[QStringLiteral("ActiveOrders")] = LastActiveID;
    State->LastHandled[QStringLiteral("CanceledOrders")] = LastCanceledID;
    if (TransWriter->TransSent > 0) {
        State->Day = Clock.Now().date().toString(Qt::ISODate);
        State->LastTransId = TransWriter->TransSent - 1;
    }
    if (before.Alerts == State->Alerts && before.LastHandled == State->LastHandled &&
        before.Day == State->Day && before.LastTransId == State->LastTransId)
        return;
    State->Save();
}

namespace {
// Ids as ranges ("#5–#9, #12"): a long list is never cut.
QString IdRanges(const QList<qint64>& ids) {
    QStringList parts;
    for (qsizetype i = 0; i < ids.size();) {
        qsizetype j = i;
        while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1)
            ++j;
        parts << (j == i ? QStringLiteral("#%1").arg(ids[i])
                         : QStringLiteral("#%1–#%2").arg(ids[i]).arg(ids[j]));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}
} // namespace

void TEngine::ReportPassedOver(const QString& table, TDataTable* t, qint64 cur, qint64 after) {
    if (after < 0) {
        if (!State || State->Alerts != Settings.Alerts || !State->LastHandled.contains(table) || cur < 0)
            return;
        after = State->LastHandled.value(table);
    }
    if (cur <= after || after < 0) return;
    TSqlRows q = RunSql(DM->conOmega(),
                        {QStringLiteral("SELECT id FROM ") + t->TableName() +
                         QStringLiteral(" WHERE id > :last and id <= :cur ORDER BY id")},
                        {{"last", after}, {"cur", cur}});
    if (q.size() == 0) return;
    QList<qint64> ids;
    ids.reserve(q.size());
    while (q.next())
        ids << q.value(0).toLongLong();
    JournalRef.AddJournalLine(QStringLiteral("В таблице %1 пришли без наблюдения и не отправлены ордера: %2 "
                                             "(%3). Поздний сигнал не исполняется.")
                                  .arg(table)
                                  .arg(q.size())
                                  .arg(IdRanges(ids)));
}

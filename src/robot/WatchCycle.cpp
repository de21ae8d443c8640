#include "robot/WatchCycle.h"

#include "common/Clock.h"
#include "common/FileNames.h"
#include "common/Journal.h"
#include "common/KorvexError.h"
#include "data/Connection.h"
#include "data/DatMod.h"
#include "data/SqlRun.h"
#include "pipeline/AlertDecoding.h"
#include "quik/TransactionWriter.h"
#include "settings/Settings.h"

#include <QFileInfo>
#include <QSqlRecord>
#include <algorithm>

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

// A look that took this long waited for a lock: rows may have come while it waited.
constexpr qint64 HeldLookMs = 1000;
} // namespace

qint64 TWatchCycle::RetryPeriodMs() const {
    return TTransactionWriter::RetryPeriodMs(Ctx.Settings.RetryPeriod);
}

void TWatchCycle::StartAt(bool fromZero) {
    TDatMod& dm = Ctx.DM;
    const struct {
        QString Table;
        TDataTable* T;
    } tables[] = {{QStringLiteral("FilledOrders"), dm.tFilledOrders},
                  {QStringLiteral("ActiveOrders"), dm.tActiveOrders},
                  {QStringLiteral("CanceledOrders"), dm.tCanceledOrders}};
    for (const auto& t : tables) {
        const qint64 cur = dm.GetLastID(t.T);
        Last[t.Table] = cur;
        // Alerts that came while the robot was not watching stay unsent, but never unmentioned.
        if (fromZero)
            ReportPassedOver(t.Table, t.T, cur, 0);
        else if (SavedAlerts == Ctx.Settings.Alerts && Saved.contains(t.Table) && cur >= 0)
            ReportPassedOver(
                t.Table, t.T, cur,
                std::max(Saved.value(t.Table), HandledInRegistry ? HandledInRegistry(t.Table) : 0));
    }
    SaveLastIds();
}

void TWatchCycle::ReportPassedOver(const QString& table, TDataTable* t, qint64 cur, qint64 after) {
    if (cur <= after || after < 0) return;
    TSqlRows q = RunSql(Ctx.DM.conOmega(),
                        {QStringLiteral("SELECT id FROM ") + t->TableName() +
                         QStringLiteral(" WHERE id > :last and id <= :cur ORDER BY id")},
                        {{"last", after}, {"cur", cur}});
    if (q.size() == 0) return;
    QList<qint64> ids;
    ids.reserve(q.size());
    while (q.next())
        ids << q.value(0).toLongLong();
    Ctx.Journal.AddJournalLine(QStringLiteral("В таблице %1 пришли без наблюдения и не отправлены ордера: %2 "
                                              "(%3). Поздний сигнал не исполняется.")
                                   .arg(table)
                                   .arg(q.size())
                                   .arg(IdRanges(ids)));
}

void TWatchCycle::LoadState() {
    Saved.clear();
    SavedAlerts.clear();
    const TSqlRows rows = RunSql(Ctx.DM.conQuikData(),
                                 {QStringLiteral("SELECT alert_table, last_id FROM tWatchState "
                                                 "WHERE alerts = :alerts")},
                                 {{"alerts", Ctx.Settings.Alerts}});
    SavedAlerts = Ctx.Settings.Alerts;
    for (const QSqlRecord& r : rows.Rows)
        Saved.insert(ColumnText(r, QStringLiteral("alert_table")), ColumnInt64(r, QStringLiteral("last_id")));
}

void TWatchCycle::WriteId(const QString& table, qint64 id) {
    const QSqlDatabase db = Ctx.DM.conQuikData();
    const TSqlRows up =
        RunSql(db,
               {QStringLiteral("UPDATE tWatchState SET last_id = :id WHERE alerts = :alerts and "
                               "alert_table = :alert_table")},
               {{"id", id}, {"alerts", Ctx.Settings.Alerts}, {"alert_table", table}});
    if (up.Affected == 0)
        RunSql(db,
               {QStringLiteral("INSERT INTO tWatchState (alerts, alert_table, last_id) VALUES (:alerts, "
                               ":alert_table, :id)")},
               {{"alerts", Ctx.Settings.Alerts}, {"alert_table", table}, {"id", id}});
}

void TWatchCycle::HandledNow(const QString& table, qint64 id) {
    Last[table] = std::max(Last.value(table, 0), id);
    SaveLastIds();
}

void TWatchCycle::SaveLastIds() {
    if (!Ctx.DM.QuikDataConnected()) return;
    try {
        if (SavedAlerts != Ctx.Settings.Alerts) {
            Saved.clear();
            SavedAlerts = Ctx.Settings.Alerts;
        }
        for (auto it = Last.cbegin(); it != Last.cend(); ++it) {
            if (it.value() < 0 || (Saved.contains(it.key()) && Saved.value(it.key()) == it.value())) continue;
            WriteId(it.key(), it.value());
            Saved[it.key()] = it.value();
        }
        SaveFailure.clear();
    } catch (const std::exception& e) {
        const QString text =
            QStringLiteral("Последние обработанные ордера не записаны (таблица tWatchState): "
                           "%1. Повтор после следующего прохода.")
                .arg(ErrorText(e));
        if (text != SaveFailure) Ctx.Journal.AddJournalLine(text);
        SaveFailure = text;
    }
}

void TWatchCycle::ReadWindow(const QString& table, TDataTable* t, bool filledSource,
                             const std::function<void(TOmegaOrder&)>& rule,
                             const std::function<void(const QString&)>& report) {
    qint64& lastId = Last[table];
    const qint64 prev = lastId;
    const qint64 lookStart = Ctx.Clock.MonotonicMs();
    const qint64 cur = Ctx.DM.GetLastID(t);
    if (cur < 0) {
        // The table could not be read: what comes meanwhile may have come since the last good look.
        if (!BlockedSince.contains(table)) BlockedSince.insert(table, LastLook.value(table, lookStart));
        return;
    }
    if (cur <= prev) {
        LastLook[table] = lookStart;
        BlockedSince.remove(table);
        return;
    }
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
    try {
        TDatMod::TBusyGuard busy(Ctx.DM, t->ConnectionName());
        rows = RunSql(Ctx.DM.conOmega(),
                      {QStringLiteral("SELECT *"), QStringLiteral("FROM ") + table,
                       QStringLiteral("WHERE id > :prev and id <= :cur ORDER BY id")},
                      {{"prev", prev}, {"cur", cur}});
    } catch (...) {
        if (!BlockedSince.contains(table)) BlockedSince.insert(table, LastLook.value(table, lookStart));
        throw;
    }
    auto& seen = FirstSeen[table];
    const qint64 now = Ctx.Clock.MonotonicMs();
    // Every alert of the window is seen now, also those behind one that ends the pass: the retry
    // period of each counts from here, across failing passes and reconnects. Only when a lock or a
    // lost connection kept the robot from looking may a row have come earlier than this look: then
    // it is dated by the database's last change, which cannot be before the robot last looked.
    std::optional<qint64> heldSince;
    if (BlockedSince.contains(table))
        heldSince = BlockedSince.value(table);
    else if (LastLook.contains(table) && lookStart - LastLook.value(table) > PollMs + HeldLookMs)
        heldSince = LastLook.value(table); // the robot was held longer than a poll apart
    else if (now - lookStart > HeldLookMs)
        heldSince = lookStart;
    BlockedSince.remove(table);
    LastLook[table] = lookStart;
    qint64 seenAt = now;
    qsizetype unseen = 0;
    for (const QSqlRecord& row : rows.Rows)
        if (!seen.contains(ColumnValue(row, QStringLiteral("ID")).toLongLong())) ++unseen;
    if (heldSince && unseen > 1) {
        // Several rows came while the robot could not look, and nothing tells them apart: each is
        // taken to have come at the start of that time, the earliest it can have.
        seenAt = std::min(*heldSince, now);
    } else if (heldSince && unseen == 1) {
        const qint64 changed = AlertsChangedMs(Ctx.Settings.Alerts);
        // The file's time is on the wall clock: only its distance from now carries over.
        if (changed >= 0)
            seenAt = std::clamp(now - (Ctx.Clock.NowMs() - changed), std::min(*heldSince, now), now);
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
            Ctx.Journal.AddJournalLine(QStringLiteral("Ордер # ") + idText + QStringLiteral(" (") + table +
                                       QStringLiteral(") не отправлен за ") +
                                       QString::number(RetryPeriodMs() / 1000) +
                                       QStringLiteral(" с и пропущен: поздний сигнал не исполняется."));
            lastId = id;
        };
        // The clock read again: the alerts before this one may have taken their time.
        if (Ctx.Clock.MonotonicMs() - firstSeen > RetryPeriodMs()) {
            tooLate();
            continue;
        }
        try {
            TOmegaOrder alert;
            try {
                LoadOmegaOrder(alert, row, filledSource, columns);
            } catch (const ConversionError& e) {
                Ctx.Journal.AddJournalLine(QStringLiteral("Ордер # ") + idText + QStringLiteral(" (") +
                                           table + QStringLiteral("): строка не читается и пропущена: ") +
                                           e.Message);
                lastId = id;
                continue;
            }
            if (!CheckFilters(Ctx, alert)) {
                Ctx.Journal.AddJournalLine(QStringLiteral("Ордер # ") + QString::number(alert.ID) +
                                           QStringLiteral(" (") + table +
                                           QStringLiteral(") не прошел фильтры."));
                lastId = id;
                continue;
            }
            // Whatever way the dispatch ends (a tripped breaker ends the pass), the time is this alert's
            // only.
            struct TSeenScope {
                TWatchCycle& W;
                ~TSeenScope() { W.DispatchSeen.reset(); }
            } seenScope{*this};
            DispatchSeen = firstSeen;
            rule(alert);
        } catch (const TAlertTooLate&) {
            tooLate();
            continue;
        } catch (const ConversionError& e) {
            // Refused for its own content (an order text that does not read): nothing was written.
            Ctx.Journal.AddJournalLine(e.Message);
        } catch (const TPassEnded&) {
            throw;
        } catch (const std::exception& e) {
            const QString reason = ErrorText(e).trimmed();
            const QString text = QStringLiteral("Ордер # ") + idText + QStringLiteral(" (") + table +
                                 QStringLiteral(") не отправлен: ") +
                                 (reason.isEmpty() ? QStringLiteral("причина не сообщена") : reason) +
                                 QStringLiteral(". Повтор на следующем такте.");
            // Said once while the same alert fails for the same reason.
            if (text != LastPassFailure) {
                LastPassFailure = text;
                report(text);
            }
            throw TPassEnded();
        }
        lastId = id;
        LastPassFailure.clear();
    }
    lastId = std::max(lastId, cur);
    for (auto it = seen.begin(); it != seen.end();)
        it = it.key() <= lastId ? seen.erase(it) : std::next(it);
}

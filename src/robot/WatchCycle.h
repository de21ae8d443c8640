#pragma once

#include "pipeline/PipelineContext.h"
#include "pipeline/Records.h"

#include <QHash>
#include <QString>
#include <functional>
#include <optional>

class TDataTable;

// The watch over the three alert tables: the window of ids each pass reads, when each alert was
// first seen (its retry period counts from there), and the last id handled in each table, kept in
// tWatchState so that alerts that came while the robot was not watching are named when it starts
// again.
class TWatchCycle {
public:
    explicit TWatchCycle(const TPipelineContext& ctx) : Ctx(ctx) {}

    // Thrown when a store or a file ended a watch pass; already reported.
    struct TPassEnded {};
    // Thrown when an alert grew older than the retry period while its dispatch waited.
    struct TAlertTooLate {};

    qint64 LastId(const QString& table) const { return Last.value(table, 0); }
    // The ids of the three tables as they stand now, and what came since the last handled ones named
    // as passed over (`since`: from id 0 instead, for a database made anew).
    void StartAt(bool fromZero = false);

    // How long an alert that could not be sent is tried again (setting RetryPeriod).
    qint64 RetryPeriodMs() const;

    // One reader: the rows of `table` in the id window (last, current], filtered and handed to `rule`.
    // A store or file that fails ends the pass (TPassEnded, reported through `report`), and the
    // alert is tried again on the next tick.
    void ReadWindow(const QString& table, TDataTable* t, bool filledSource,
                    const std::function<void(TOmegaOrder&)>& rule,
                    const std::function<void(const QString&)>& report);

    // When the alert being dispatched was first seen (monotonic ms); nullopt: none (a manual order).
    std::optional<qint64> DispatchSeenMs() const { return DispatchSeen; }
    // The highest alert id of a table that the day's registry holds an order of: handled for sure,
    // also when the robot died before the last ids were written.
    std::function<qint64(const QString&)> HandledInRegistry;
    // An alert handled now, written at once; a failure is journalled once.
    void HandledNow(const QString& table, qint64 id);
    // Writes the last ids that moved since they were last written; a failure is journalled once.
    void SaveLastIds();
    // Reads the last ids handled in the alerts database of the settings from tWatchState.
    void LoadState();
    // The table timer's period: a look that comes much later than it was held up (a lock, a dialog).
    void SetPollIntervalMs(qint64 ms) { PollMs = ms; }
    // A pass that a store or a file ended held the robot from looking: what comes before the next
    // look may have come any time since the last one.
    void PassFailed() {
        for (auto it = LastLook.cbegin(); it != LastLook.cend(); ++it)
            if (!BlockedSince.contains(it.key())) BlockedSince.insert(it.key(), it.value());
    }
    // Forgets when alerts were seen: a database made anew starts its ids again.
    void ForgetSightings() {
        FirstSeen.clear();
        LastLook.clear();
        BlockedSince.clear();
    }

private:
    void ReportPassedOver(const QString& table, TDataTable* t, qint64 cur, qint64 after);
    void WriteId(const QString& table, qint64 id);

    const TPipelineContext& Ctx;
    QHash<QString, qint64> Last;                     // alert table -> last id handled in this run
    QHash<QString, qint64> Saved;                    // what tWatchState holds
    QString SavedAlerts;                             // the alerts database Saved belongs to
    QHash<QString, QHash<qint64, qint64>> FirstSeen; // alert table -> id -> first seen, monotonic ms
    QHash<QString, qint64> LastLook;                 // alert table -> last look that read it
    // alert table -> since when a lock or a lost connection kept the robot from reading it
    QHash<QString, qint64> BlockedSince;
    qint64 PollMs = 1000;
    std::optional<qint64> DispatchSeen;
    QString LastPassFailure;
    QString SaveFailure;
};

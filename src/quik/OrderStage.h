#pragma once

#include <QString>
#include <optional>

// Where one transaction of the day stands, from its recording to QUIK's last word. The numbers are
// stored in tOrderRegistry.stage: never renumber them.
enum class TOrderStage : quint8 {
    Recorded = 0,      // committed; its line is not in the .TRI yet
    InFile = 1,        // its line is wholly in the .TRI
    AtServer = 2,      // QUIK sent it to its server (status 0 or 1)
    Accepted = 3,      // a limit or stop order living in QUIK under its number
    Refused = 4,       // QUIK refused it
    GivenUp = 5,       // its line never reached the .TRI
    CancelPending = 6, // an accepted order whose cancellation is on its way
    Cancelled = 7,     // QUIK confirmed the cancellation
    Filled = 8,        // the strategy platform reported the order's fill
    Done = 9,          // a market order or a cancellation that QUIK carried out
};

// What can happen to a transaction. Each moves a stage forward or changes nothing.
enum class TOrderEvent : quint8 {
    LineWritten,
    LineGivenUp,
    SentToServer, // status 0 or 1
    AcceptedLive, // status 3 of a limit or stop order
    Executed,     // status 3 of a market order or a cancellation
    Refused,      // any other final status
    KillSent,     // a cancellation of this order was recorded
    KillFailed,   // that cancellation was refused or never reached the file
    KillDone,     // QUIK carried that cancellation out
    FillReported, // the strategy platform reported the fill
};

// The one table of moves: the stage an event leads to, or nothing when the event does not apply
// (a repeated or late answer, an answer to a line that never reached the file).
std::optional<TOrderStage> NextStage(TOrderStage stage, TOrderEvent event);

// The stage in the operator's words (the transaction report, the journal).
QString StageText(TOrderStage stage);

// QUIK has not given its final word on the transaction yet.
inline bool AwaitsAnswer(TOrderStage s) {
    return s == TOrderStage::Recorded || s == TOrderStage::InFile || s == TOrderStage::AtServer;
}

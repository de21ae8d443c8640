#pragma once

#include "pipeline/SessionBounds.h"

#include <QHash>
#include <QSqlRecord>
#include <QString>
#include <optional>

class TDatMod;
class TJournal;
class TClock;
struct TSettings;

// What the order pipeline reads while it works: the tables, the settings as they stand, the journal
// and the clock.
struct TPipelineContext {
    TDatMod& DM;
    const TSettings& Settings;
    TJournal& Journal;
    const TClock& Clock;
    // What the filter has already told the operator about unreadable session bounds.
    mutable TSessionBounds SessionBounds{};
    // While one alert is dispatched: its instrument row, the same for every account, read once.
    struct TDispatchMemo {
        bool Active = false;
        QHash<QString, std::optional<QSqlRecord>> Instruments; // by ticker; empty: not in tSecCode
    };
    mutable TDispatchMemo Memo{};
};

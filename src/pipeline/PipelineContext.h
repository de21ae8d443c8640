#pragma once

#include "pipeline/AccountNotes.h"
#include "pipeline/SessionBounds.h"

#include <QHash>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class TDatMod;
class TJournal;
class TClock;
struct TSettings;
struct TOmegaOrder;

// What the order pipeline reads while it works: the tables, the settings as they stand, the journal
// and the clock.
struct TPipelineContext {
    TDatMod& DM;
    const TSettings& Settings;
    TJournal& Journal;
    const TClock& Clock;
    // What the filter has already told the operator about unreadable session bounds.
    mutable TSessionBounds SessionBounds{};
    // The filter's columns (workspaces, strategies) as last read, with the table's stamp then.
    struct TKeptColumn {
        qint64 Stamp = -1;
        QStringList Values;
    };
    mutable QHash<QString, TKeptColumn> FilterColumns{};
    // While one alert is dispatched, what is the same for every account is worked out once: the
    // order text read, and the instrument row's cells.
    struct TParsedOrder {
        QString Operation;
        qint32 Quantity = 0;
        double Price = 0;
        bool IsStop = false;
        bool Filled = false;
    };
    // The cells of an instrument row that sizing reads; an empty number is one that is missing or
    // does not read, which fails only the sizing that needs it.
    struct TInstrumentCells {
        bool Readable = true; // false: a cell every sizing needs does not read
        QString Unreadable;   // which one, and why
        QString SecCode;
        QString ClassCode;
        qint32 Digits = 0;
        bool Traded = false;
        double Slippage = 0;
        std::optional<double> LotSize;
        std::optional<double> Part;
        std::optional<double> FixVol;
    };
    struct TDispatchMemo {
        bool Active = false;
        std::optional<TParsedOrder> Parsed;
        bool InstrumentsChecked = false;    // the instrument table's stamp was looked at for this alert
        std::optional<qint64> SecCodeStamp; // the instrument table's stamp, when the dispatch read it
        TAccountNotes Notes;                // what the alert met on its accounts, said after them
        void Clear() {
            Active = false;
            Parsed.reset();
            InstrumentsChecked = false;
            SecCodeStamp.reset();
        }
    };
    // Instrument rows' cells, kept while the instrument table stays unchanged (its stamp; -1: kept
    // for one alert only).
    struct TInstrumentCache {
        qint64 Stamp = -1;
        QHash<QString, std::optional<TInstrumentCells>> Rows; // by ticker; empty: not in tSecCode
    };
    mutable TInstrumentCache Instruments{};
    // While a pass runs (empty until first looked at): the filter tables' stamps, looked at once in
    // the pass.
    mutable std::optional<std::vector<qint64>> PassFilterStamps{};
    mutable TDispatchMemo Memo{};
    // The lots that exits already on their way (sent, not yet filled or refused) will close for a
    // client, an instrument and an alert's keys; unset: none.
    std::function<qint64(const QString&, const QString&, const TOmegaOrder&)> ReservedByExits{};

    // A refusal on one account ("<head> по счету <account> не отправлен: <why>."): said at once, or,
    // while an alert is dispatched, once for all the accounts it met.
    void NoteRefusal(const QString& head, const QString& account, const QString& why) const;
    // A line that names no account: said once while an alert is dispatched.
    void NoteOnce(const QString& line) const;
};

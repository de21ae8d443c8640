#pragma once

#include "pipeline/PipelineContext.h"
#include "pipeline/Records.h"

#include <array>

class QSqlRecord;

// Fills the alert from one alert row. `filledSource` is true only for the polling cycle's
// FilledOrders query and the executed-orders table: then FillPrice, TimeFilled and Filled are read.
// Throws KorvexError when the row lacks a column.
void LoadOmegaOrder(TOmegaOrder& alert, const QSqlRecord& row, bool filledSource);

// Where each column an alert is read from stands in the rows of one query (-1: missing), found once
// for all its rows: finding a column by name in every row costs more than reading it.
struct TAlertColumns {
    enum {
        FillPrice,
        TimeFilled,
        ID,
        Symbol,
        Description,
        OrderType,
        Order,
        System,
        Workspace,
        Signal,
        Interval,
        OrderNumber,
        Count
    };
    std::array<int, Count> At{};
};
TAlertColumns AlertColumns(const QSqlRecord& row);
void LoadOmegaOrder(TOmegaOrder& alert, const QSqlRecord& row, bool filledSource,
                    const TAlertColumns& columns);

// Workspace, strategy and trading-hours filter; true when all three pass. Both table lookups are
// always made. A time1 or time2 that is not a time of day lets no alert pass; it is journalled once
// while the same text stands (see TSessionBounds).
bool CheckFilters(const TPipelineContext& ctx, const TOmegaOrder& alert);

// The strategy key: the text of System before its first "(", or the whole text when that is empty.
QString StrategyKey(const QString& system);

#pragma once

#include "pipeline/PipelineContext.h"
#include "pipeline/Records.h"

class QSqlRecord;

// Fills the alert from one alert row. `filledSource` is true only for the polling cycle's
// FilledOrders query and the executed-orders table: then FillPrice, TimeFilled and Filled are read.
// Throws KorvexError when the row lacks a column.
void LoadOmegaOrder(TOmegaOrder& alert, const QSqlRecord& row, bool filledSource);

// Workspace, strategy and trading-hours filter; true when all three pass. Both table lookups are
// always made. A time1 or time2 that is not a time of day lets no alert pass; it is journalled once
// while the same text stands (see TSessionBounds).
bool CheckFilters(const TPipelineContext& ctx, const TOmegaOrder& alert);

// The strategy key: the text of System before its first "(", or the whole text when that is empty.
QString StrategyKey(const QString& system);

#pragma once

#include "pipeline/PipelineContext.h"
#include "pipeline/Records.h"

#include <optional>

// What an exact exit closes: the quantities of every open-position row recorded for the client, the
// instrument, the alert's side (LX the long, SX the short; a row without a side either) and its
// strategy, workspace and interval, added up; nullopt when none is recorded.
// Throws StoreError when the lookup fails.
std::optional<qint64> RecordedExitQuantity(const TPipelineContext& ctx, const QString& clientCode,
                                           const QString& ticker, const TOmegaOrder& alert);

// Completes a transaction record with the instrument's QUIK codes, precision and traded flag, the
// slippage-adjusted price (into StopPrice) and the quantity in lots by the sizing mode. A failure of
// the lookups or the arithmetic is journalled with its reason, leaves Quantity 0 and sets Refused. For
// an exit with exact closing on, the sum of the quantities recorded for its keys, less what exits on
// their way will close, replaces the result; when that is nothing, the exit is refused with one line.
// A failure of that lookup is not caught here (KorvexError).
void SizeOrder(const TPipelineContext& ctx, TOrder& order, const TOmegaOrder& alert);

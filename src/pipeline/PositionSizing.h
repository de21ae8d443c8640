#pragma once

#include "pipeline/PipelineContext.h"
#include "pipeline/Records.h"

// Completes a transaction record with the instrument's QUIK codes, precision and traded flag, the
// slippage-adjusted price (into StopPrice) and the quantity in lots by the sizing mode. A failure of
// the lookups or the arithmetic is journalled and leaves Quantity 0. For an exit with exact closing
// on, the quantity recorded when the position was opened replaces the result; a failure of that
// lookup is not caught here (KorvexError).
void SizeOrder(const TPipelineContext& ctx, TOrder& order, const TOmegaOrder& alert);

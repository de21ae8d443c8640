#pragma once

#include "pipeline/PipelineContext.h"
#include "pipeline/Records.h"

#include <functional>

// A transaction builder: fills `order` for one alert and one account; true when the transaction may
// be written. Each builder resets the whole record first, so one record serves every account.
using TOrderBuilder =
    std::function<bool(const TPipelineContext&, TOrder&, const TOmegaOrder&, const TClientAccount&)>;

// Reads operation, quantity, price and order kind from the alert's order text. A quantity word that
// is not a whole number throws ConversionError naming the alert and the word.
void ParseOrderText(TOrder& order, const TOmegaOrder& alert);

// A new order or a new stop order.
bool BuildNewOrder(const TPipelineContext& ctx, TOrder& order, const TOmegaOrder& alert,
                   const TClientAccount& account);
// The cancellation of the order placed earlier for the same alert and client; false (silently) when
// QUIK has not reported an order number above 0 for it. A failing lookup throws KorvexError.
bool BuildKillOrder(const TPipelineContext& ctx, TOrder& order, const TOmegaOrder& alert,
                    const TClientAccount& account);

// The trading account by the instrument's class code.
QString RouteAccount(const QString& classCode, const TClientAccount& account);

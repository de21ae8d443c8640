#pragma once

// The pages of the main window, in their order. The engine needs to know which one is shown: the
// manual order commands act on the current row of the page's alert table.
enum class TMainPage {
    tshOpenPositions = 0,
    TabSheet1,
    tshActiveOrders,
    tshFilledOrders,
    tshCanceledOrders,
    tshQuotes,
    tshTRO,
    tshLog,
};

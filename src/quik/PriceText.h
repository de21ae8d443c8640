#pragma once

#include <QString>

// The one rule for writing a price to QUIK and to the journal. Digits >= 0: fixed point with exactly
// that many decimals (halves away from zero, at most 16 significant digits, the regional decimal
// separator). Digits < 0: rounded to a multiple of 10 * -Digits (halves to even), a whole number.
QString PriceToText(qint32 digits, double price);

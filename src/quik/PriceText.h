#pragma once

#include <QString>
#include <optional>

// The one rule for writing a price to QUIK and to the journal. Digits >= 0: fixed point with exactly
// that many decimals (at most 30; halves away from zero, at most 16 significant digits, the regional
// decimal separator). Digits < 0: rounded to a multiple of 10 * -Digits (halves to even), a whole
// number. std::nullopt when the price cannot be written: not a finite number, or, for Digits < 0,
// a multiple beyond the 64-bit whole numbers.
std::optional<QString> TryPriceToText(qint32 digits, double price);

// The same text; a price that cannot be written gives an empty text, which QUIK refuses.
QString PriceToText(qint32 digits, double price);

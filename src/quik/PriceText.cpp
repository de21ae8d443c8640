#include "quik/PriceText.h"

#include "common/Regional.h"

#include <QByteArray>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// Fixed-point text from the value's 16 significant decimal digits, rounded half away from zero.
QString FixedText(double value, int decimals) {
    if (!std::isfinite(value)) return QString::number(value);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15e", std::fabs(value)); // d.ddddddddddddddde±XX
    const QByteArray s(buf);
    const int ePos = s.indexOf('e');
    QByteArray digits = s.left(ePos);
    digits.remove(1, 1); // drop the point: 16 digits
    const int exponent = s.mid(ePos + 1).toInt();
    // The value is 0.<digits> * 10^(exponent+1); position of the point within `digits`:
    int point = exponent + 1;
    // Pad so that the point lies inside and there are enough decimals.
    while (point < 1) {
        digits.prepend('0');
        ++point;
    }
    while (digits.size() < point + decimals + 1)
        digits.append('0');
    // Round at position point + decimals.
    const int cut = point + decimals;
    const bool up = digits[cut] >= '5';
    digits.truncate(cut);
    if (up) {
        int i = cut - 1;
        for (; i >= 0; --i) {
            if (digits[i] == '9') {
                digits[i] = '0';
            } else {
                digits[i] = static_cast<char>(digits[i] + 1);
                break;
            }
        }
        if (i < 0) {
            digits.prepend('1');
            ++point;
        }
    }
    QByteArray intPart = digits.left(point);
    while (intPart.size() > 1 && intPart[0] == '0')
        intPart.remove(0, 1);
    if (intPart.isEmpty()) intPart = "0";
    const QByteArray frac = digits.mid(point, decimals);
    bool zero = intPart == "0" && frac.count('0') == frac.size();
    QString out = QString::fromLatin1(intPart);
    if (decimals > 0) out += Regional::DecimalSeparator() + QString::fromLatin1(frac);
    if (value < 0 && !zero) out.prepend(QLatin1Char('-'));
    return out;
}

} // namespace

std::optional<QString> TryPriceToText(qint32 digits, double price) {
    if (!std::isfinite(price)) return std::nullopt;
    if (digits >= 0) {
        // One alert writes the same two prices for every account: the last few texts are kept.
        struct TKept {
            qint32 Digits;
            double Price;
            QChar Separator;
            QString Text;
        };
        thread_local std::array<TKept, 4> kept{};
        thread_local int next = 0;
        const QChar separator = digits > 0 ? Regional::DecimalSeparator() : QChar();
        for (const TKept& k : kept)
            if (!k.Text.isNull() && k.Digits == digits && k.Separator == separator &&
                std::memcmp(&k.Price, &price, sizeof price) == 0)
                return k.Text;
        TKept& slot = kept[next];
        next = (next + 1) % static_cast<int>(kept.size());
        slot = {digits, price, separator, FixedText(price, std::min(digits, 30))};
        return slot.Text;
    }
    const qint64 step = 10 * -static_cast<qint64>(digits); // at most 10 * 2^31: no overflow
    const double steps = std::nearbyint(price / static_cast<double>(step));
    // The multiple must be a 64-bit whole number: the count of steps is checked against 2^63 before
    // the cast, then in whole numbers before the product.
    constexpr double twoTo63 = 9223372036854775808.0;
    if (!(steps > -twoTo63 && steps < twoTo63)) return std::nullopt;
    const qint64 count = static_cast<qint64>(steps);
    const qint64 maxCount = std::numeric_limits<qint64>::max() / step;
    if (count > maxCount || count < -maxCount) return std::nullopt;
    return QString::number(count * step);
}

QString PriceToText(qint32 digits, double price) {
    return TryPriceToText(digits, price).value_or(QString());
}

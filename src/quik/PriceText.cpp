#include "quik/PriceText.h"

#include "common/Regional.h"

#include <QByteArray>
#include <cmath>
#include <cstdio>

namespace {

// Fixed-point text from the value's 16 significant decimal digits, rounded half away from zero.
QString FixedText(double value, int decimals) {
    if (!std::isfinite(value)) return QString::number(value);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15e", std::fabs(value));  // d.ddddddddddddddde±XX
    const QByteArray s(buf);
    const int ePos = s.indexOf('e');
    QByteArray digits = s.left(ePos);
    digits.remove(1, 1);  // drop the point: 16 digits
    const int exponent = s.mid(ePos + 1).toInt();
    // The value is 0.<digits> * 10^(exponent+1); position of the point within `digits`:
    int point = exponent + 1;
    // Pad so that the point lies inside and there are enough decimals.
    while (point < 1) {
        digits.prepend('0');
        ++point;
    }
    while (digits.size() < point + decimals + 1) digits.append('0');
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
    while (intPart.size() > 1 && intPart[0] == '0') intPart.remove(0, 1);
    if (intPart.isEmpty()) intPart = "0";
    const QByteArray frac = digits.mid(point, decimals);
    bool zero = intPart == "0" && frac.count('0') == frac.size();
    QString out = QString::fromLatin1(intPart);
    if (decimals > 0) out += Regional::DecimalSeparator() + QString::fromLatin1(frac);
    if (value < 0 && !zero) out.prepend(QLatin1Char('-'));
    return out;
}

} // namespace

QString PriceToText(qint32 digits, double price) {
    if (digits >= 0) return FixedText(price, std::min(digits, 30));
    const qint64 k = -static_cast<qint64>(digits);
    const double steps = std::nearbyint(price / (10.0 * static_cast<double>(k)));
    return QString::number(static_cast<qint64>(steps) * 10 * k);
}

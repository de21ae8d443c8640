#include "common/Regional.h"

#include <QRegularExpression>
#include <cmath>

namespace Regional {

QChar DecimalSeparator() {
    return QLocale().decimalPoint().at(0);
}

std::optional<double> ParseDecimal(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return std::nullopt;
    QLocale loc;
    loc.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    double v = loc.toDouble(t, &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<double> ParseDecimalAnySeparator(const QString& text) {
    const QString t = text.trimmed();
    QByteArray plain;
    plain.reserve(t.size());
    bool separator = false, digit = false;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            digit = true;
            plain += static_cast<char>(c.unicode());
        } else if ((c == QLatin1Char('.') || c == QLatin1Char(',')) && !separator) {
            separator = true;
            plain += '.';
        } else if ((c == QLatin1Char('-') || c == QLatin1Char('+')) && i == 0) {
            plain += static_cast<char>(c.unicode());
        } else {
            return std::nullopt;
        }
    }
    if (!digit) return std::nullopt;
    bool ok = false;
    const double v = QLocale::c().toDouble(QString::fromLatin1(plain), &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

QString WithoutGroups(const QString& text) {
    const QLocale loc;
    const QString point = loc.decimalPoint();
    QString separators = QStringLiteral(" \u00a0\u202f");
    if (loc.groupSeparator() != point) separators += loc.groupSeparator();
    const QString sep = QLatin1Char('[') + QRegularExpression::escape(separators) + QLatin1Char(']');
    const QRegularExpression grouped(QStringLiteral("^\\s*[+-]?\\d{1,3}(?:%1\\d{3})+(?:%2\\d*)?\\s*$")
                                         .arg(sep, QRegularExpression::escape(point)));
    if (!grouped.match(text).hasMatch()) return text;
    QString out = text.trimmed();
    out.removeIf([&](QChar c) { return separators.contains(c); });
    return out;
}

std::optional<qint64> ParseInteger(const QString& text) {
    // Blanks around, a sign, ASCII digits: nothing else is a whole number here.
    const auto blank = [](QChar c) {
        return c == QLatin1Char(' ') || (c.unicode() >= 0x09 && c.unicode() <= 0x0D);
    };
    qsizetype b = 0, e = text.size();
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    qsizetype d = b;
    if (d < e && (text[d] == QLatin1Char('+') || text[d] == QLatin1Char('-'))) ++d;
    if (d == e) return std::nullopt;
    for (qsizetype i = d; i < e; ++i)
        if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9')) return std::nullopt;
    bool ok = false;
    const qint64 v = QStringView(text).mid(b, e - b).toLongLong(&ok);
    if (!ok) return std::nullopt;
    return v;
}

std::optional<QTime> ParseTimeOfDay(const QString& text) {
    // Seconds may be left out: operators write "9:00" as often as "9:00:00".
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d{1,2}):(\\d{2})(?::(\\d{2}))?\\s*$"));
    auto m = re.match(text);
    if (!m.hasMatch()) return std::nullopt;
    int h = m.captured(1).toInt(), mi = m.captured(2).toInt(), s = m.captured(3).toInt();
    if (h > 23 || mi > 59 || s > 59) return std::nullopt;
    return QTime(h, mi, s);
}

QString FormatGrouped(double value, int decimals) {
    QLocale loc;
    double intDigits = value == 0 ? 1 : std::floor(std::log10(std::fabs(value))) + 1;
    if (intDigits > 10) {
        return loc.toString(value, 'E', 9);
    }
    // Beyond 10 significant digits the remaining decimals are shown as zeros.
    int keep = std::max(0, std::min(decimals, 10 - static_cast<int>(std::max(1.0, intDigits))));
    double scale = std::pow(10.0, keep);
    double rounded = std::round(value * scale) / scale;
    QLocale grouped = loc;
    grouped.setNumberOptions(QLocale::DefaultNumberOptions);
    QString s = grouped.toString(rounded, 'f', decimals);
    if (s.startsWith(QLatin1Char('-')) && rounded == 0) s.remove(0, 1);
    return s;
}

QString FormatGeneral(double value) {
    QLocale loc;
    loc.setNumberOptions(QLocale::OmitGroupSeparator);
    return loc.toString(value, 'g', 15);
}

QString ShortDate(const QDate& d) {
    return QLocale().toString(d, QLocale::ShortFormat);
}

QString LongTime(const QTime& t) {
    // The long format of some locales carries the time zone ("t"); the journal never showed one.
    QString fmt = QLocale().timeFormat(QLocale::LongFormat);
    fmt.remove(QLatin1Char('t'));
    return t.toString(fmt.trimmed());
}

} // namespace Regional

#pragma once

#include <QLocale>
#include <QString>
#include <QTime>
#include <optional>

// Numbers and times as the operator's regional settings write them. Everything here uses the default
// QLocale, which is the system's unless a test sets another one with QLocale::setDefault.
namespace Regional {

QChar DecimalSeparator();

// A decimal number in the regional form ("25,50" or "25.50"); no thousands separators.
std::optional<double> ParseDecimal(const QString& text);
// A decimal number written with "." or "," as its separator, whatever the regional settings (another
// program may write with other settings): blanks around, a sign, digits, at most one separator; no
// grouping, no exponent.
std::optional<double> ParseDecimalAnySeparator(const QString& text);
// The number without its thousands separators when it is grouped as the grids show it ("1 000 000,50":
// blanks, no-break spaces or the regional group separator between groups of three digits); any other
// text unchanged.
QString WithoutGroups(const QString& text);
// A whole number in decimal digits with an optional sign.
std::optional<qint64> ParseInteger(const QString& text);
// A time of day "H:MM:SS", "HH:MM:SS", "H:MM" or "HH:MM" (blanks around are ignored); std::nullopt
// for anything else, an hour past 23 or minutes or seconds past 59 included.
std::optional<QTime> ParseTimeOfDay(const QString& text);

// Digits grouped in thousands, exactly `decimals` decimals, at most 10 significant digits: a value
// with more than 10 digits before the separator is shown in exponent form.
QString FormatGrouped(double value, int decimals);
// The shortest decimal text of the value with at most 15 significant digits, no grouping.
QString FormatGeneral(double value);

QString ShortDate(const QDate& d);
QString LongTime(const QTime& t);

} // namespace Regional

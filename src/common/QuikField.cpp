#include "common/QuikField.h"

bool BreaksQuikLine(const QString& text) {
    for (const QChar c : text)
        if (c == QLatin1Char(';') || c.unicode() < 0x20 || c.unicode() == 0x7F) return true;
    return false;
}

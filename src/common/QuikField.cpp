#include "common/QuikField.h"

#include "common/Codec.h"

namespace {
QString CodePoint(char32_t c) {
    return QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
}
} // namespace

QString QuikFieldProblem(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        if (u == u';') return QStringLiteral("\";\"");
        if (u < 0x20 || (u >= 0x7F && u < 0xA0)) return QStringLiteral("управляющий символ ") + CodePoint(u);
        if (!Cp1251::Holds(c)) {
            const bool pair = c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
            return QStringLiteral("символ ") + CodePoint(pair ? QChar::surrogateToUcs4(c, text[i + 1]) : u) +
                   QStringLiteral(", которого нет в Windows-1251");
        }
    }
    return QString();
}

bool BreaksQuikLine(const QString& text) {
    return !QuikFieldProblem(text).isEmpty();
}

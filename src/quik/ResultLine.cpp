#include "quik/ResultLine.h"

#include "common/Codec.h"

#include <QStringDecoder>
#include <QStringList>

namespace {
QString StripBlanks(const QString& s) {
    int b = 0, e = s.size();
    while (b < e && s[b].unicode() <= ' ')
        ++b;
    while (e > b && s[e - 1].unicode() <= ' ')
        --e;
    return s.mid(b, e - b);
}

// A ";" or "=" inside a double-quoted value (QUIK quotes its names and descriptions) does not cut,
// so a description that holds them stays whole. A line whose quotes do not balance is cut at every
// separator.
QStringList CutPieces(const QString& line, bool respectQuotes) {
    QStringList pieces;
    QString cur;
    bool quoted = false;
    for (const QChar c : line) {
        if (respectQuotes && c == QLatin1Char('"')) quoted = !quoted;
        if (!quoted && (c == QLatin1Char(';') || c == QLatin1Char('='))) {
            pieces << StripBlanks(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (quoted) return CutPieces(line, false);
    return pieces;
}
} // namespace

TResultLine ParseResultLine(const QString& line) {
    const QStringList pieces = CutPieces(line, true);
    TResultLine r;
    QString values[5];
    bool seen[5] = {};
    static const char* const keys[5] = {"TRANS_ID", "STATUS", "TRANS_NAME", "DESCRIPTION", "ORDER_NUMBER"};
    for (int k = 0; k + 1 < pieces.size(); ++k)
        for (int i = 0; i < 5; ++i)
            if (pieces[k] == QLatin1String(keys[i])) {
                values[i] = pieces[k + 1];
                seen[i] = true;
            }
    QString* targets[5] = {&r.TRANS_ID, &r.STATUS, &r.TRANS_NAME, &r.DESCRIPTION, &r.ORDER_NUMBER};
    for (int i = 0; i < 5; ++i)
        if (seen[i] && !values[i].isEmpty()) *targets[i] = values[i];
    return r;
}

QString ResultText(const QString& value) {
    const QString t = value.trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('"')) && t.endsWith(QLatin1Char('"'))) {
        QString inner = t.mid(1, t.size() - 2);
        inner.replace(QStringLiteral("\"\""), QStringLiteral("\""));
        return inner;
    }
    return value;
}

QString DecodeResultLine(const QByteArray& bytes, bool* utf8) {
    if (utf8) *utf8 = false;
    const QByteArrayView text = bytes.startsWith("\xEF\xBB\xBF") ? QByteArrayView(bytes).sliced(3) : bytes;
    bool ascii = true;
    for (const char c : text)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return QString::fromLatin1(text);
    // Windows-1251 text is hardly ever valid UTF-8: two letters in a row already break it. A line
    // that decodes cleanly, without C1 control characters, was written in UTF-8.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(text);
    bool control = false;
    for (const QChar c : decoded)
        control = control || (c.unicode() >= 0x80 && c.unicode() < 0xA0);
    if (!decoder.hasError() && !control) {
        if (utf8) *utf8 = true;
        return decoded;
    }
    return Cp1251::Decode(text.toByteArray());
}

#include "common/Codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace Cp1251 {

QByteArray Encode(const QString& text) {
    QStringEncoder encoder("windows-1251");
    if (!encoder.isValid()) return text.toLatin1();
    QByteArray out = encoder.encode(text);
    return out;
}

QString Decode(const QByteArray& bytes) {
    QStringDecoder decoder("windows-1251");
    if (!decoder.isValid()) return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}

} // namespace Cp1251

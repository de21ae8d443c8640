#include "common/Codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace Cp1251 {

// One converter each, made once: making one looks the codec up by name, which costs more than
// converting a transaction line.
QByteArray Encode(const QString& text) {
    thread_local QStringEncoder encoder("windows-1251");
    if (!encoder.isValid()) return text.toLatin1();
    encoder.resetState();
    QByteArray out = encoder.encode(text);
    return out;
}

QString Decode(const QByteArray& bytes) {
    thread_local QStringDecoder decoder("windows-1251");
    if (!decoder.isValid()) return QString::fromLatin1(bytes);
    decoder.resetState();
    return decoder.decode(bytes);
}

} // namespace Cp1251

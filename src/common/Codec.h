#pragma once

#include <QByteArray>
#include <QString>

// Every file the robot shares with QUIK, its journal and its settings are single-byte Windows-1251.
// All conversions go through these two functions.
namespace Cp1251 {
// A character without a Windows-1251 byte becomes 0x1A ("substitute"), as the system converter does;
// unlike it, an invisible one (a zero-width space) is substituted too rather than dropped.
QByteArray Encode(const QString& text);
// The same, appended to a buffer.
void EncodeAppend(QByteArray& out, const QString& text);
QString Decode(const QByteArray& bytes);
// True when the character has a Windows-1251 byte of its own (NUL included); false for the rest,
// which Encode writes as the substitute byte.
bool Holds(QChar c);
} // namespace Cp1251

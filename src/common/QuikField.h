#pragma once

#include <QString>

// True when the text would let QUIK read a line other than the one meant: the field separator ";",
// a line break, NUL or any other control character (below 0x20, or 0x7F). Such a value never goes
// into a .TRI line, and the editors refuse it when it is typed.
bool BreaksQuikLine(const QString& text);

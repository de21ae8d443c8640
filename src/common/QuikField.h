#pragma once

#include <QString>

// Why the text cannot go into a .TRI line as it stands, as words that follow "содержит": the field
// separator ";", a control character (a line break, NUL, anything below 0x20, 0x7F or 0x80..0x9F),
// or a character Windows-1251 has no byte for (a zero-width space, U+2028, a BOM…), which would reach
// QUIK as another byte than the one typed. Empty when the text is safe. The writer refuses such a
// field, and the editors refuse it when it is typed.
QString QuikFieldProblem(const QString& text);

// True when QuikFieldProblem names something.
bool BreaksQuikLine(const QString& text);

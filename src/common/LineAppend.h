#pragma once

#include <QIODevice>
#include <QStringList>

// Appends lines as Windows-1251 text with CR LF to an open unbuffered file, continuing a line that an
// earlier short write cut: the first `partWritten` bytes of the first line are already in the file.
// Returns how many lines are now whole in the file; `partWritten` then counts the bytes of the next
// line that made it. `written` and `wanted` give the bytes of this write, so a short write (a full
// disk) shows as written < wanted. Nothing is ever written twice.
int AppendLines(QIODevice& file, const QStringList& lines, qint64& partWritten, qint64* written = nullptr,
                qint64* wanted = nullptr);

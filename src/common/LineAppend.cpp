#include "common/LineAppend.h"

#include "common/Codec.h"

#include <algorithm>
#include <vector>

int AppendLines(QIODevice& file, const QStringList& lines, qint64& partWritten, qint64* written,
                qint64* wanted) {
    QByteArray bytes;
    qsizetype chars = 0;
    for (const QString& l : lines)
        chars += l.size() + 2;
    bytes.reserve(chars);
    std::vector<qint64> sizes;
    sizes.reserve(lines.size());
    for (const QString& l : lines) {
        const qsizetype before = bytes.size();
        Cp1251::EncodeAppend(bytes, l);
        bytes += "\r\n";
        sizes.push_back(bytes.size() - before);
    }
    const QByteArray rest = bytes.mid(partWritten);
    const qint64 out = rest.isEmpty() ? 0 : std::max<qint64>(0, file.write(rest));
    if (written) *written = out;
    if (wanted) *wanted = rest.size();
    qint64 consumed = partWritten + out;
    int done = 0;
    while (done < static_cast<int>(sizes.size()) && consumed >= sizes[done])
        consumed -= sizes[done++];
    partWritten = done < static_cast<int>(sizes.size()) ? consumed : 0;
    return done;
}

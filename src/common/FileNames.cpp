#include "common/FileNames.h"

#include <QtGlobal>

QString WorkspaceFileName(const QString& path) {
    int cut = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char(':')));
    return cut < 0 ? path : path.mid(cut + 1);
}

QString LocalFilePath(const QString& settingPath) {
#ifdef Q_OS_WIN
    return settingPath;
#else
    QString p = settingPath;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return p;
#endif
}

#include "common/FileNames.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

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

QString FileIdentity(const QString& path) {
    const QFileInfo fi(path);
    if (!fi.exists()) return QString();
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        return QStringLiteral("%1:%2")
            .arg(static_cast<qulonglong>(st.st_dev))
            .arg(static_cast<qulonglong>(st.st_ino));
#endif
    return QString::number(fi.birthTime().toMSecsSinceEpoch());
}

#include "common/ProgramFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// Both relative to the executable's folder, set by the build: the installed layout first (bin ->
// share/korvex, from the install directories), then the build tree's (src/app -> share/korvex).
constexpr const char* Candidates[] = {KORVEX_DATA_FROM_BIN, KORVEX_DATA_FROM_BUILD_BIN};

QString Resolve(const char* relative) {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QLatin1String(relative));
}

} // namespace

QString ProgramDataDir() {
    for (const char* relative : Candidates) {
        const QString dir = Resolve(relative);
        if (QFileInfo::exists(dir + QStringLiteral("/help/index.html"))) return dir;
    }
    return Resolve(Candidates[0]);
}

QString HelpDir() {
    return ProgramDataDir() + QStringLiteral("/help");
}

QString IconFile(const QString& name) {
    return ProgramDataDir() + QStringLiteral("/icons/") + name + QStringLiteral(".svg");
}

QStringList MissingProgramFiles() {
    QStringList missing;
    const QStringList files{HelpDir() + QStringLiteral("/index.html"), IconFile(QStringLiteral("app"))};
    for (const QString& file : files)
        if (!QFileInfo::exists(file)) missing << QDir::toNativeSeparators(file);
    return missing;
}

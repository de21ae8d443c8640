#include "ui/QtTranslations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

bool InstallQtTranslations(const QLocale& locale) {
    static QPointer<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
    }
    auto* t = new QTranslator(QCoreApplication::instance());
    const QStringList places = {
        QLibraryInfo::path(QLibraryInfo::TranslationsPath),
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations"))};
    for (const QString& place : places)
        if (t->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), place)) {
            QCoreApplication::installTranslator(t);
            installed = t;
            return true;
        }
    delete t;
    return false;
}

#include "toolkitfrench.h"

#include <QCoreApplication>
#include <QLibraryInfo>

bool InstallToolkitFrench(QTranslator& translator) {
    if (!translator.load(QStringLiteral("qt_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

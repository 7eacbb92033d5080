#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// The translators this file installed: children of the application, by this name.
const QString installedName = QStringLiteral("pinglark-translations");

void install(const QLocale& locale, const QString& name, const QString& folder) {
    auto* translator = new QTranslator(QCoreApplication::instance());
    translator->setObjectName(installedName);
    if (translator->load(locale, name, QStringLiteral("_"), folder))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace

void installTranslations(const QLocale& locale) {
    QCoreApplication* application = QCoreApplication::instance();
    const QList<QTranslator*> earlier =
        application->findChildren<QTranslator*>(installedName, Qt::FindDirectChildrenOnly);
    for (QTranslator* translator : earlier)
        delete translator; // which also uninstalls it
    install(locale, QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    // Built into the program (see translations/CMakeLists.txt).
    install(locale, QStringLiteral("pinglark"), QStringLiteral(":/i18n"));
}

#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

void installTranslations(QObject &owner, const QLocale &locale)
{
    auto *qt = new QTranslator(&owner);
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);

    const QStringList folders {QCoreApplication::applicationDirPath()
            + QStringLiteral("/../share/lumexor-capture-config/translations"),
        QStringLiteral(LUMEXOR_INSTALLED_TRANSLATIONS), QStringLiteral(LUMEXOR_BUILT_TRANSLATIONS)};
    auto *own = new QTranslator(&owner);
    for (const QString &folder : folders) {
        if (own->load(
                locale, QStringLiteral("lumexor-capture-config"), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(own);
            return;
        }
    }
    delete own;
}

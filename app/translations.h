#pragma once

#include <QLocale>

class QObject;

// Loads the programs' translation for `locale` (the user's, from LANGUAGE, LC_MESSAGES or
// LANG) and Qt's own for its dialogs' buttons, and installs them while `owner` lives. The programs'
// one comes from share/lumexor-capture-config/translations: beside the executable's prefix (a
// relocated install), the configured install prefix, or the build tree. No translation for
// the locale leaves the English texts.
void installTranslations(QObject &owner, const QLocale &locale = QLocale());

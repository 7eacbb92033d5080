#pragma once

#include <QLocale>

// Installs Qt's own translation (qtbase) and Pinglark's for the locale's user interface
// languages, in place of any that an earlier call installed. The first language that Pinglark has
// a translation for wins; in the C locale, and in English, the texts stay as written. Call it
// once the application object exists and before any text is made.
void installTranslations(const QLocale& locale = QLocale());

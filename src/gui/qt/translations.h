#pragma once
// Qt's own texts (the file dialog's columns, the standard buttons) in the
// user's language, from the translations the system's Qt carries.

#include <QLocale>

namespace loopmon::qt {

// Installs Qt's translations for `locale` into the running application;
// false when the system has none for that language (English stays).
bool installQtTranslations(const QLocale& locale = QLocale());

}  // namespace loopmon::qt

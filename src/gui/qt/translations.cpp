#include "gui/qt/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace loopmon::qt {

bool installQtTranslations(const QLocale& locale) {
  // Owned by the application, so it lives as long as the texts it translates.
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(locale, "qtbase", "_",
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace loopmon::qt

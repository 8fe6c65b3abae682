// Qt's own dialogs speak the user's language: the file dialog's columns and
// the standard buttons come from the system's Qt translations.

#include "gui/qt/translations.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>

namespace loopmon::qt {
namespace {

TEST(QtTranslations, RussianUserGetsQtsOwnTextsInRussian) {
  int argc = 1;
  char name[] = "qt_translations_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  ASSERT_EQ(QCoreApplication::translate("QFileSystemModel", "Name"), "Name");

  EXPECT_FALSE(installQtTranslations(QLocale(QLocale::Icelandic, QLocale::Iceland)));
  ASSERT_TRUE(installQtTranslations(QLocale(QLocale::Russian, QLocale::Russia)));
  EXPECT_EQ(QCoreApplication::translate("QFileSystemModel", "Name"), "Имя");
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Отмена");
}

}  // namespace
}  // namespace loopmon::qt

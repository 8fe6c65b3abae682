// What a new user meets in Qt's own dialogs: their texts in the user's
// language, and file dialogs that start in the folder last used for the kind
// of file rather than wherever the program was started.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "desktop/file_folders.h"
#include "gui/qt/message_box.h"
#include "gui/qt/translations.h"

namespace loopmon::qt {
namespace {

QApplication& application() {
  static int argc = 1;
  static char name[] = "qt_dialogs_test";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

TEST(QtDialogs, RussianUserGetsQtsOwnTextsInRussian) {
  application();
  ASSERT_EQ(QCoreApplication::translate("QFileSystemModel", "Name"), "Name");
  EXPECT_FALSE(installQtTranslations(QLocale(QLocale::Icelandic, QLocale::Iceland)));
  ASSERT_TRUE(installQtTranslations(QLocale(QLocale::Russian, QLocale::Russia)));
  EXPECT_EQ(QCoreApplication::translate("QFileSystemModel", "Name"), "Имя");
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Отмена");
}

TEST(QtDialogs, FileDialogsStartInTheFolderLastUsedForTheKind) {
  application();
  namespace fs = std::filesystem;
  const fs::path root =
      fs::temp_directory_path() /
      ("loopmon-dialogs-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(root / "documents");
  fs::create_directories(root / "records");
  FileFolders folders((root / "pcom.ini").string(), (root / "documents").string());
  setFileFolders(&folders);

  // Answers the dialog once it runs: notes where it started and picks `file`.
  QString started;
  const auto answerWith = [&](const fs::path& file) {
    QTimer::singleShot(0, [&started, file] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      started = QDir(dialog->directory()).absolutePath();
      dialog->selectFile(QString::fromStdString(file.string()));
      static_cast<QDialog*>(dialog)->accept();
    });
  };
  answerWith(root / "records" / "Склад.json");
  EXPECT_EQ(askSaveFile(nullptr, "save", "Запись шлейфов.json", "JSON (*.json)", "json"),
            (root / "records" / "Склад.json").string());
  EXPECT_EQ(started.toStdString(), (root / "documents").string()) << "the first time";

  std::ofstream(root / "records" / "Склад.json") << "{}";
  answerWith(root / "records" / "Склад.json");
  askOpenFile(nullptr, "open", "JSON (*.json)", "json");
  EXPECT_EQ(started.toStdString(), (root / "records").string()) << "where the last one went";

  setFileFolders(nullptr);
  fs::remove_all(root);
}

}  // namespace
}  // namespace loopmon::qt

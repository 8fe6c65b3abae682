// The file dialogs start in the folder last used for the same kind of file,
// remembered across runs in the port settings file, else in the documents.

#include "desktop/file_folders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace loopmon {
namespace {

namespace fs = std::filesystem;

std::string utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

fs::path pathOf(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

class FileFoldersTest : public ::testing::Test {
 protected:
  FileFoldersTest()
      : root_(fs::temp_directory_path() /
              ("loopmon-folders-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
    for (const char* name : {"documents", "Записи объектов", "csv"}) {
      fs::create_directories(root_ / pathOf(name));
    }
    std::ofstream(root_ / "pcom.ini") << "[Port]\nNum=2\n";
  }
  ~FileFoldersTest() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  std::string at(const std::string& relative) const {
    return utf8((root_ / pathOf(relative)).make_preferred());
  }
  FileFolders folders() const { return FileFolders(at("pcom.ini"), at("documents")); }

  fs::path root_;
};

TEST_F(FileFoldersTest, EachKindStartsWhereItWasLastChosenAcrossRuns) {
  EXPECT_EQ(folders().suggest("ШС 3, адрес 5.csv"), at("documents/ШС 3, адрес 5.csv"));

  folders().remember(at("Записи объектов/Склад.JSON"));
  folders().remember(at("csv/loop.csv"));
  const FileFolders nextRun = folders();
  EXPECT_EQ(nextRun.suggest("Запись шлейфов.json"), at("Записи объектов/Запись шлейфов.json"));
  EXPECT_EQ(nextRun.folderFor("json"), at("Записи объектов"));
  EXPECT_EQ(nextRun.suggest("a.csv"), at("csv/a.csv"));
  EXPECT_EQ(nextRun.suggest("Обмен по шине.txt"), at("documents/Обмен по шине.txt"))
      << "a kind never chosen starts in the documents";

  std::stringstream settings;
  settings << std::ifstream(root_ / "pcom.ini").rdbuf();
  EXPECT_NE(settings.str().find("Num=2"), std::string::npos) << "the port setting stays";
  EXPECT_TRUE(std::ranges::all_of(settings.str(), [](char c) { return c > 0; }))
      << "folder names in ASCII, so that any code page keeps them: " << settings.str();

  fs::remove_all(root_ / "csv");
  EXPECT_EQ(folders().suggest("a.csv"), at("documents/a.csv")) << "a folder gone since";
}

TEST_F(FileFoldersTest, SettingsThatCannotBeKeptCostOnlyTheMemory) {
  const FileFolders unreachable(at("no such folder/pcom.ini"), at("documents"));
  FileFolders copy = unreachable;
  copy.remember(at("csv/loop.csv"));
  EXPECT_EQ(copy.suggest("a.csv"), at("documents/a.csv"));
  EXPECT_EQ(FileFolders(at("pcom.ini"), "").suggest("a.csv"), "a.csv")
      << "no documents folder: the dialog's own start";
}

}  // namespace
}  // namespace loopmon

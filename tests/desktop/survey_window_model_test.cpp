// The survey window without a toolkit, on the windows' bus thread against a
// simulated bus: the devices of the last search surveyed with their progress,
// a stop, the record and its page saved or refused, earlier records compared
// or refused, and a change choosing its device and loop.

#include "desktop/survey_window_model.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "loops/coeffs.h"
#include "scoped_temp_dir.h"
#include "session/bus_runner.h"
#include "session/device_names.h"
#include "session/session.h"
#include "sim/device_model.h"
#include "sim/scenario.h"
#include "window_queue.h"

namespace loopmon {
namespace {

// Type 1 at 9 with an open loop 2, type 7 (no loops) at 30, type 4 at 12,
// which the last search did not find.
const char* const Bus =
    "[bus]\ndrift = no\n"
    "[device 9]\ntype = 1\nversion = 160\nloop.2 = 0\n"
    "[device 12]\ntype = 4\nversion = 102\n"
    "[device 30]\ntype = 7\nversion = 100\n";

// Keeps what a window would show, from the model's calls alone.
struct MirrorView : SurveyWindowView {
  void showSurveyButton(const std::string& text, bool enabled) override {
    button = text + (enabled ? "" : " (disabled)");
  }
  void showRecordControls(bool enabled) override { recordControls = enabled; }
  void showProgress(const std::string& text, int steps) override {
    progress.push_back(text);
    EXPECT_TRUE(steps == 0 || steps >= lastSteps) << text << ": the bar never goes back";
    lastSteps = steps;
  }
  void showDevices(const std::vector<std::string>& shown) override { devices = shown; }
  void showChanges(const std::vector<std::string>& shown) override { changes = shown; }
  std::optional<std::string> askSavePath(const std::string&) override { return path; }
  std::optional<std::string> askRecordPath() override { return path; }
  void showMessage(const std::string& text) override { messages.push_back(text); }
  void chooseLoop(uint8_t address, int loop) override {
    chosen.push_back(std::to_string(address) + "/" + std::to_string(loop));
  }

  std::string button;
  bool recordControls = false;
  std::vector<std::string> progress;
  int lastSteps = 0;
  std::vector<std::string> devices;
  std::vector<std::string> changes;
  std::optional<std::string> path;
  std::vector<std::string> messages;
  std::vector<std::string> chosen;
};

class SurveyWindow : public ::testing::Test {
 protected:
  SurveyWindow() {
    fake.line->setResponder([this](const Bytes& request) { return simulated.respond(request); });
    // What the last search found.
    for (const auto& [address, type, version] : {std::tuple{9, 1, 160}, std::tuple{30, 7, 100}}) {
      session.SetDeviceType(static_cast<uint8_t>(address), static_cast<uint16_t>(type));
      session.SetDeviceVersion(static_cast<uint8_t>(address), static_cast<uint8_t>(version));
    }
  }
  // Runs the follow-ups as the window would, `stopAfter` of them before the stop.
  void survey(int stopAfter = -1) {
    model.surveyClicked();
    for (int done = 0; model.running(); ++done) {
      if (done == stopAfter) {
        model.surveyClicked();
        EXPECT_EQ(view.button, "Стоп (disabled)");
      }
      ASSERT_TRUE(window.runOne()) << "no follow-up";
    }
  }
  void write(const std::string& name, const std::string& content) {
    testing::writeFile(folder.file(name), content);
  }

  sim::SimulatedBus simulated{sim::parseScenario(Bus)};
  testing::FakePlatform fake;
  TRSSession session{fake.platform()};
  CoefficientsStore store{"/nonexistent-folder/ohmgauge.kft", '.'};
  testing::WindowQueue window;
  BusThread bus{session, [this](std::function<void()> call) { window.post(std::move(call)); }};
  MirrorView view;
  SurveyWindowModel model{view, bus, store, ','};
  testing::ScopedTempDir folder;
};

TEST(ReportPathFor, TakesTheRecordsNameWithAnotherExtensionButNeverTheRecordsOwnFile) {
  const std::pair<const char*, const char*> cases[] = {
      {"/site/record.json", "/site/record.html"},
      {"C:\\site.v2\\record", "C:\\site.v2\\record.html"},
      {"/site/.json", "/site/.json.html"},
      {"/site/page.html", "/site/page.html.html"},
  };
  for (const auto& [json, html] : cases) EXPECT_EQ(ReportPathFor(json), html) << json;
}

TEST_F(SurveyWindow, SurveysTheDevicesFoundSavesComparesAndChooses) {
  survey();
  EXPECT_EQ(view.progress,
            (std::vector<std::string>{
                "Обход приборов, найденных поиском...",
                "Поиск приборов по адресу 9 (1/2)",
                "Поиск приборов по адресу 30 (2/2)",
                "Прибор 1 из 2: Адрес:   9  Mivra-Q (версия  1,60)",
                "Прибор 2 из 2: " + DeviceDescription(30, DeviceTypeName(7), 100, ','),
                "Обход окончен: приборов 2, шлейфов 20",
            }));
  EXPECT_EQ(view.lastSteps, 100);
  EXPECT_EQ(view.button, "Обход");
  ASSERT_TRUE(model.record() && view.recordControls);
  EXPECT_EQ(model.record()->programName, "loopmon");
  EXPECT_EQ(model.record()->devices[0].loops[1].text, "Обрыв");
  EXPECT_EQ(view.devices,
            (std::vector<std::string>{
                "Адрес 9, Mivra-Q 1,60 — ШС 20: обрыв 1, КЗ 0, тревога 0, нет ответа 0",
                "Адрес 30, " + DeviceTypeName(7) + " 1,00 — без шлейфов"}));
  EXPECT_TRUE(view.messages.empty());
  model.deviceChosen(0);

  // Saved: the record whole, its page beside it; a folder that is not there: one box, no file.
  struct Save {
    std::string path;
    std::string message;
  };
  const Save saves[] = {
      {folder.file("site.json"), ""},
      {folder.file("none/site.json"),
       "Не удалось сохранить файл " + folder.file("none/site.json") + ": "},
  };
  for (const Save& save : saves) {
    view.messages.clear();
    view.path = save.path;
    model.saveClicked();
    if (save.message.empty()) {
      EXPECT_TRUE(view.messages.empty());
      EXPECT_EQ(LoadRecord(save.path), *model.record());
      EXPECT_EQ(testing::readFile(ReportPathFor(save.path)).rfind("<!DOCTYPE html>", 0), 0u);
    } else {
      ASSERT_EQ(view.messages.size(), 1u);
      EXPECT_EQ(view.messages[0].rfind(save.message, 0), 0u) << view.messages[0];
    }
  }

  // An earlier record where loop 1 read far higher, the last loop showed
  // another state, 30 was not yet and 50 was.
  SiteRecord earlier = *model.record();
  earlier.time = "2025-06-01T10:00:00+03:00";
  earlier.devices[0].loops[0].kohm = *earlier.devices[0].loops[0].kohm * 3;
  earlier.devices[0].loops.back().state = "снят";
  const std::string lastLoop = "9/" + std::to_string(earlier.devices[0].loops.back().loop);
  earlier.devices[1] = {50, 4, "X", 100, {}};
  write("earlier.json", RecordJson(earlier));
  write("broken.json", "{\"site\": ");
  struct Compare {
    const char* file;
    std::string message;
  };
  const Compare compares[] = {
      {"missing.json", "Не удалось прочитать файл " + folder.file("missing.json") + ": файла нет"},
      {"broken.json",
       "Файл " + folder.file("broken.json") + " — не запись шлейфов: not JSON: line 1"},
      {"earlier.json", ""},
  };
  for (const Compare& compare : compares) {
    view.messages.clear();
    view.path = folder.file(compare.file);
    model.compareClicked();
    const std::string told = view.messages.empty() ? "" : view.messages[0];
    EXPECT_EQ(view.messages.size(), compare.message.empty() ? 0u : 1u) << compare.file;
    EXPECT_EQ(told.rfind(compare.message, 0), 0u) << told;
  }
  ASSERT_EQ(view.changes.size(), 4u);
  EXPECT_EQ(view.changes[0].rfind("Адрес 9, ШС 1: сопротивление: ", 0), 0u) << view.changes[0];
  EXPECT_EQ(view.changes[0].substr(view.changes[0].size() - 7), " кОм");
  EXPECT_EQ(view.changes[2], "Адрес 30: новый прибор (" + DeviceTypeName(7) + ")");
  EXPECT_EQ(view.changes[3], "Адрес 50: нет прибора (X)");
  EXPECT_EQ(view.progress.back(), "Изменения с записи от " + LocalTimeText(earlier.time) + ": 4");
  // The device's last loop is chosen like any other; a device gone has
  // nothing to show; a line past the changes chooses nothing.
  for (int line : {0, 1, 2, 3, 4}) model.changeChosen(line);
  EXPECT_EQ(view.chosen, (std::vector<std::string>{"9/0", "9/1", lastLoop, "30/0"}));
  // Saved after the comparison, the page has the changes first.
  view.path = folder.file("site.json");
  model.saveClicked();
  EXPECT_NE(testing::readFile(folder.file("site.html")).find("Изменения с записи от"),
            std::string::npos);

  // Stopped while the first device is read: no record, nothing to save or compare.
  survey(5);
  EXPECT_EQ(view.progress.back(), "Обход остановлен: запись не составлена");
  EXPECT_FALSE(model.record() || view.recordControls);
  EXPECT_TRUE(view.changes.empty() && view.devices.empty());
  EXPECT_EQ(view.button, "Обход");
}

}  // namespace
}  // namespace loopmon

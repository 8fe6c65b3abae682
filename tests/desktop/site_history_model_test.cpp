// A site's history window without a toolkit: the folder's drifting loop comes
// first and is drawn over the visits, a folder without records says so, and a
// file that is no record is named and the others still shown.

#include "desktop/site_history_model.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "record/site_record.h"
#include "scoped_temp_dir.h"

namespace loopmon {
namespace {

using testing::ScopedTempDir;
using testing::writeFile;

struct FakeSiteView : SiteHistoryView {
  std::optional<std::string> askFolder() override { return folder; }
  void showLoops(const std::string& shownStatus, const std::vector<std::string>& shownLoops,
                 const std::vector<std::string>& shownSkipped) override {
    status = shownStatus;
    loops = shownLoops;
    skipped = shownSkipped;
  }
  void showPlot() override { ++plots; }
  void showMessage(const std::string& text) override { messages.push_back(text); }

  std::optional<std::string> folder;
  std::string status;
  std::vector<std::string> loops;
  std::vector<std::string> skipped;
  int plots = 0;
  std::vector<std::string> messages;
};

constexpr int64_t HalfYear = 182 * 86400;
const int64_t FirstVisit = RecordTimeOf("2022-03-01T10:00:00+03:00")->seconds;

// Visit `n` of site "Склад \"Север\"": loop 1 of address 5 drifts up by
// `drift` kOhm a visit, loop 2 stays put.
std::string visit(int n, double drift) {
  SiteRecord record{"Склад \"Север\"",
                    IsoDateOf(FirstVisit + n * HalfYear, 180) + "T10:00:00+03:00",
                    "COM1",
                    "loopmon",
                    "1",
                    {}};
  DeviceRecord device{5, 1, "Mivra-Q", 105, {}};
  for (int loop : {1, 2}) {
    device.loops.push_back({loop, 100, loop == 1 ? 4.0 + drift * n : 2.0, std::nullopt,
                            std::nullopt, LoopCondition::Normal, LoopCondition::NotShown});
  }
  record.devices.push_back(device);
  return RecordJson(record);
}

TEST(SiteHistoryModel, ShowsTheFoldersLoopsWithThoseToLookAtFirst) {
  const struct {
    const char* what;
    int visits;
    double drift;
    std::vector<std::string> extraFiles;
    bool opens;
    std::string firstLine;
    std::string status;
    std::vector<std::string> skipped;
  } cases[] = {
      {"a loop that drifts out of its band leads",
       8,
       0.12,
       {},
       true,
       "До следующего посещения! Адрес 5, ШС 1: посещений 8, последнее 4,84 кОм, +0,020 ± "
       "0,000 кОм/мес, выйдет из полосы 2023-10-29",
       "Записей: 8, шлейфов: 2",
       {}},
      {"flat loops keep their order", 4, 0, {}, true, "Адрес 5, ШС 1: посещений 4", "", {}},
      {"no records", 0, 0, {}, false, "", "В папке ", {}},
      {"a file that is no record is named, the rest shown",
       3,
       0,
       {"notes.json"},
       true,
       "Адрес 5, ШС 1",
       "Записей: 3",
       {"notes.json: not a site record"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedTempDir folder;
    for (int n = 0; n < c.visits; ++n) {
      writeFile(folder.file("visit" + std::to_string(n) + ".json"), visit(n, c.drift));
    }
    for (const std::string& name : c.extraFiles) writeFile(folder.file(name), "{\"site\": 1}");
    FakeSiteView view;
    view.folder = folder.path();
    SiteHistoryModel model(view, ',');
    EXPECT_EQ(model.open(), c.opens);
    EXPECT_EQ(view.status.rfind(c.status, 0), 0u) << view.status;
    EXPECT_EQ(view.skipped.size(), c.skipped.size());
    for (size_t i = 0; i < std::min(view.skipped.size(), c.skipped.size()); ++i) {
      EXPECT_NE(view.skipped[i].find(c.skipped[i]), std::string::npos) << view.skipped[i];
    }
    if (!c.opens) {
      EXPECT_EQ(view.messages, std::vector<std::string>{view.status});
      EXPECT_NE(view.status.find(folder.path()), std::string::npos) << "names the folder";
      EXPECT_FALSE(model.chosen());
      continue;
    }
    EXPECT_TRUE(view.messages.empty());
    ASSERT_FALSE(view.loops.empty());
    EXPECT_EQ(view.loops[0].rfind(c.firstLine, 0), 0u) << view.loops[0];
    EXPECT_EQ(model.title(), "История объекта — Склад \"Север\"");
    EXPECT_EQ(model.chosen(), 0u) << "the first loop is drawn at once";
  }
}

// The chosen loop is drawn as a loop's history is: one resistance segment
// between each two visits, its times told as the visits' dates.
TEST(SiteHistoryModel, DrawsTheChosenLoopOverTheVisits) {
  ScopedTempDir folder;
  for (int n = 0; n < 5; ++n) writeFile(folder.file(std::to_string(n) + ".json"), visit(n, 0.2));
  FakeSiteView view;
  SiteHistoryModel model(view, ',');
  ASSERT_TRUE(model.load(folder.path()));
  model.loopChosen(1);
  model.loopChosen(7);
  EXPECT_EQ(model.chosen(), 1u) << "a line past the list changes nothing";
  EXPECT_EQ(view.plots, 2);
  const TextMeasure measure{[](const std::string& text) { return int(text.size()) * 6; }, 13};
  std::vector<std::string> texts;
  int segments = 0;
  for (const PlotShape& shape : model.plot({600, 300}, 96, measure)) {
    if (shape.kind == PlotShape::Kind::Text) texts.push_back(shape.text);
    if (shape.kind == PlotShape::Kind::Line && shape.width == 2) ++segments;
  }
  EXPECT_EQ(segments, 5) << "a dot for the first visit, then a segment to each next";
  EXPECT_NE(std::ranges::find(texts, IsoDateOf(FirstVisit, 180)), texts.end());
  EXPECT_NE(std::ranges::find(texts, IsoDateOf(FirstVisit + 4 * HalfYear, 180)), texts.end());
}

}  // namespace
}  // namespace loopmon

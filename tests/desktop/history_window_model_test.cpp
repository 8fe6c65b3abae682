// A loop's history window without a toolkit: the resistance scale and its
// ticks (negative and all-equal readings included), the figures, the plot's
// marks and line, and the CSV with its name and the save's outcomes.

#include "desktop/history_window_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "common/number_text.h"
#include "platform/system/locale_info.h"

namespace loopmon {
namespace {

using std::chrono::seconds;

constexpr LoopKey Key{5, 3};
const WallTime Start = WallTime(seconds(1'800'000'000));

struct FakeHistoryView : HistoryWindowView {
  void showFigures(const std::string& minimum, const std::string& maximum,
                   const std::string& moves) override {
    figures = minimum + " | " + maximum + " | " + moves;
  }
  void showPlot() override { ++plots; }
  std::optional<std::string> askSavePath(const std::string& suggested) override {
    offered = suggested;
    return path;
  }
  void showMessage(const std::string& text) override { messages.push_back(text); }

  std::string figures;
  int plots = 0;
  std::string offered;
  std::optional<std::string> path;
  std::vector<std::string> messages;
};

// ADC readings of the key's loop with `a` and `b`, one a second from Start.
struct AdcRun : LoopHistory {
  explicit AdcRun(const std::vector<int>& adc, Coefficients pair = {408, -1}) {
    for (size_t n = 0; n < adc.size(); ++n) {
      Record(AdcReading(Key.address, Key.loop, Start + seconds(n), static_cast<uint8_t>(adc[n]),
                        pair));
    }
  }
};

std::string clock(WallTime time) {
  return IsoTime(time).substr(11, 8);
}

TEST(ResistanceScale, HoldsEveryReadingOnRoundTicks) {
  const struct {
    const char* name;
    std::vector<int> adc;
    Coefficients pair;
  } cases[] = {
      {"spread readings", {100, 96, 160, 0, 255}, {408, -1}},
      // a = 10, b = -5: ADC 100 reads -4.9.
      {"negative readings", {100, 50, 20}, {10, -5}},
      {"around zero", {200, 100}, {408, -1.5}},
      {"all equal", {100, 100, 100}, {408, -1}},
      {"all zero", {100, 100}, {0, 0}},
      {"all equal and negative", {100, 100}, {10, -5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const AdcRun history(c.adc, c.pair);
    const std::vector<HistoryPoint> series = history.Series(Key);
    const std::optional<ResistanceScale> scale = ScaleFor(series);
    ASSERT_TRUE(scale);
    EXPECT_LT(scale->low, scale->high);
    std::set<std::string> labels;
    for (const HistoryPoint& point : series) {
      if (const auto kiloOhms = point.KiloOhms()) {
        EXPECT_GT(*kiloOhms, scale->low) << "room below the lowest";
        EXPECT_LT(*kiloOhms, scale->high) << "room above the highest";
      }
    }
    ASSERT_GE(scale->ticks.size(), 3u);
    ASSERT_LE(scale->ticks.size(), 8u);
    EXPECT_DOUBLE_EQ(scale->ticks.front(), scale->low);
    EXPECT_NEAR(scale->ticks.back(), scale->high, 1e-9);
    const double step = scale->ticks[1] - scale->ticks[0];
    for (size_t n = 0; n < scale->ticks.size(); ++n) {
      EXPECT_NEAR(scale->ticks[n], scale->low + n * step, 1e-9);
      labels.insert(FormatFixed(scale->ticks[n], scale->decimals, '.'));
    }
    EXPECT_EQ(labels.size(), scale->ticks.size()) << "every tick reads apart";
    EXPECT_EQ(labels.count("-0.0"), 0u);
  }
  EXPECT_FALSE(ScaleFor(AdcRun({0, 255}).Series(Key))) << "no resistance, no scale";
  const auto negative = ScaleFor(AdcRun({100}, {10, -5}).Series(Key));
  EXPECT_EQ(negative->ticks, (std::vector<double>{-5.5, -5.0, -4.5, -4.0}));
}

TEST(HistoryWindowModel, FiguresNameTheExtremesWithTheirTimesAndTheMoves) {
  FakeHistoryView view;
  // 3,08 3,25 open 3,08 short 1,55: four moves; 1,55 shows as 1,6.
  const AdcRun readings({100, 96, 0, 100, 255, 160});
  HistoryWindowModel model(view, readings, Key, ',');
  EXPECT_EQ(model.title(), "История шлейфа 3 — адрес 5");
  model.refresh();
  EXPECT_EQ(view.figures, "Минимум: 1,6 кОм (" + clock(Start + seconds(5)) +
                              ") | Максимум: 3,3 кОм (" + clock(Start + seconds(1)) +
                              ") | Переходов: 4");
  EXPECT_EQ(view.plots, 1);

  LoopHistory states;
  for (uint8_t code : {1, 3, 3, 1}) states.Record(StateReading(Key.address, Key.loop, Start, code));
  HistoryWindowModel stateModel(view, states, Key, ',');
  stateModel.refresh();
  EXPECT_EQ(view.figures, "Минимум: — | Максимум: — | Переходов: 2");
}

TEST(HistoryWindowModel, ThePlotMarksEachMoveInItsColourAndKeepsTheLineInsideItsFrame) {
  FakeHistoryView view;
  const TextMeasure measure{
      [](const std::string& text) { return 6 * static_cast<int>(text.size()); }, 13};
  const Size area{600, 300};
  const struct {
    const char* name;
    std::vector<int> adc;
    Coefficients pair;
    std::set<LoopCondition> marked;
  } cases[] = {
      {"open and short",
       {100, 0, 100, 255, 100},
       {408, -1},
       {LoopCondition::Open, LoopCondition::Short}},
      {"negative, steady", {100, 50, 20, 100}, {10, -5}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const AdcRun history(c.adc, c.pair);
    HistoryWindowModel model(view, history, Key, ',');
    model.refresh();
    const std::vector<PlotShape> shapes = model.plot(area, 96, measure);
    const auto frame = std::find_if(shapes.begin(), shapes.end(), [](const PlotShape& s) {
      return s.kind == PlotShape::Kind::Frame;
    });
    ASSERT_NE(frame, shapes.end());
    std::set<LoopCondition> movesDrawn;
    int lineSegments = 0;
    for (const PlotShape& shape : shapes) {
      EXPECT_TRUE(shape.x1 >= 0 && shape.x2 <= area.width && shape.y1 >= 0 &&
                  shape.y2 <= area.height);
      if (shape.kind != PlotShape::Kind::Line) continue;
      for (LoopCondition condition : {LoopCondition::Open, LoopCondition::Short}) {
        if (shape.colour == ConditionColour(condition) && shape.x1 == shape.x2) {
          movesDrawn.insert(condition);
        }
      }
      if (shape.colour == ConditionColour(LoopCondition::Normal)) {
        ++lineSegments;
        EXPECT_TRUE(shape.y1 > frame->y1 && shape.y1 < frame->y2 && shape.y2 > frame->y1 &&
                    shape.y2 < frame->y2)
            << shape.y1 << " " << shape.y2;
      }
    }
    EXPECT_EQ(movesDrawn, c.marked);
    EXPECT_GT(lineSegments, 0);
  }

  // Nothing read yet: the frame says so.
  const LoopHistory empty;
  HistoryWindowModel model(view, empty, Key, ',');
  model.refresh();
  const auto shapes = model.plot(area, 96, measure);
  EXPECT_TRUE(std::any_of(shapes.begin(), shapes.end(),
                          [](const PlotShape& s) { return s.text == "Нет показаний"; }));
}

TEST(HistoryWindowModel, SavesTheLoopsCsvUnderItsOwnName) {
  LoopHistory history;
  const WallTime t0 = Start + std::chrono::milliseconds(250);
  history.Record(AdcReading(5, 3, t0, 100, {408, -1}));
  history.Record(AdcReading(5, 3, t0 + seconds(1), 0, {408, -1}));
  history.Record(StateReading(5, 3, t0 + seconds(2), 3));
  history.Record(AdcReading(5, 4, t0, 100, {408, -1}));
  FakeHistoryView view;
  HistoryWindowModel model(view, history, Key, ',');
  std::istringstream lines(model.csv());
  std::string heading;
  std::getline(lines, heading);
  EXPECT_EQ(heading, "Время;Адрес;ШС;АЦП;R кОм;Состояние;Переход");

  // The local time shown, less its offset, is the instant of the reading.
  const std::regex row(R"((\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)\.250([+-])(\d\d):(\d\d);(.*))");
  std::vector<std::string> rest;
  for (const WallTime t : {Start, Start + seconds(1), Start + seconds(2)}) {
    std::string line;
    std::getline(lines, line);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, row)) << line;
    const std::time_t local = (m[2] == "-" ? -60 : 60) * (std::stoi(m[3]) * 60 + std::stoi(m[4]));
    const std::time_t shifted = std::chrono::system_clock::to_time_t(t) + local;
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%S", std::gmtime(&shifted));
    EXPECT_EQ(m[1], expected);
    rest.push_back(m[5]);
  }
  EXPECT_EQ(rest, (std::vector<std::string>{"5;3;100;3,080;;", "5;3;0;;Обрыв;Норма → Обрыв",
                                            "5;3;;;тревога;"}));
  EXPECT_FALSE(std::getline(lines, heading)) << "loop 4 is another window's";
  HistoryWindowModel dotted(view, history, Key, '.');
  EXPECT_NE(dotted.csv().find(",5,3,100,3.080,,\n"), std::string::npos) << dotted.csv();

  // Cancelled, saved, refused (a folder that is not there).
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("loopmon-csv-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder);
  const std::string saved = (folder / "loop.csv").string();
  model.saveClicked();
  EXPECT_EQ(view.offered, "ШС 3, адрес 5.csv");
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  view.path = saved;
  model.saveClicked();
  {
    std::ifstream file(saved, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}),
              spreadsheetFileText(model.csv()));
  }
  EXPECT_TRUE(view.messages.empty());
  view.path = (folder / "gone" / "loop.csv").string();
  model.saveClicked();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages.front().rfind("Не удалось сохранить файл " + *view.path + ": ", 0), 0u)
      << view.messages.front();
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace loopmon

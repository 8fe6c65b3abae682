// The loop history window over a small recorded history: the model's figures
// and plot on the screen, following the history while open, opening again
// after a close, and the CSV saved whole or not at all.

#include "gui/win32/history_window.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "gui/win32/plot.h"
#include "window_driver.h"

namespace loopmon::win32 {
namespace {

using namespace loopmon::win32::testing;
using namespace std::chrono_literals;

constexpr LoopKey Key{5, 2};
constexpr Coefficients Pair{408, -1};
const WallTime Start = WallTime(std::chrono::seconds(1'800'000'000));

void record(LoopHistory& history, std::vector<uint8_t> adc) {
  WallTime time = Start;
  for (uint8_t value : adc) {
    history.Record(AdcReading(Key.address, Key.loop, time, value, Pair));
    time += 1s;
  }
}

std::string fileText(const std::filesystem::path& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Pixels of each colour the plot paints.
std::map<COLORREF, int> plotColours(HistoryWindow& window) {
  return readPainting(window.control(history_form::ResistancePlot), [](HDC dc, const RECT& area) {
    std::map<COLORREF, int> counts;
    for (int y = 0; y < area.bottom; ++y) {
      for (int x = 0; x < area.right; ++x) ++counts[GetPixel(dc, x, y)];
    }
    return counts;
  });
}

COLORREF colourRef(Colour colour) {
  return RGB(colour.red, colour.green, colour.blue);
}

TEST(HistoryWindow, ShowsTheModelsFiguresAndPlotAndFollowsTheHistory) {
  LoopHistory history;
  record(history, {100, 96, 100});
  HistoryWindow window(nullptr, history, Key);
  window.open();
  EXPECT_EQ(windowText(window.hwnd()), "История шлейфа 2 — адрес 5");
  EXPECT_EQ(windowText(window.control(history_form::MovesLabel)), "Переходов: 0");
  EXPECT_EQ(windowText(window.control(history_form::MinimumLabel)).rfind("Минимум: ", 0), 0u);
  expectPlacedAsDesigned(window);
  auto colours = plotColours(window);
  EXPECT_GT(colours[colourRef(ConditionColour(LoopCondition::Normal))], 0) << "the line";
  const int legendOnly = colours[colourRef(ConditionColour(LoopCondition::Open))];

  // A move into open while the window is open: the figures and the plot follow.
  history.Record(AdcReading(Key.address, Key.loop, Start + 10s, 0, Pair));
  HWND moves = window.control(history_form::MovesLabel);
  EXPECT_TRUE(pumpUntil([&] { return windowText(moves) == "Переходов: 1"; }, 5000));
  EXPECT_GT(plotColours(window)[colourRef(ConditionColour(LoopCondition::Open))], legendOnly);

  // Closed, it opens again where it was, up to date.
  SendMessageW(window.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(window.hwnd()));
  window.open();
  EXPECT_TRUE(IsWindowVisible(window.hwnd()));

  // Larger, the plot takes the room.
  SetWindowPos(window.hwnd(), nullptr, 0, 0, 1000, 700, SWP_NOMOVE | SWP_NOZORDER);
  expectPlacedAsDesigned(window);
}

TEST(HistoryWindow, SavesTheLoopsCsvWholeOrNotAtAll) {
  TempFolder folder;
  LoopHistory history;
  record(history, {100, 0, 100});
  struct Case {
    const char* name;
    const char* target;    // in the case's folder; null: the user cancels
    const char* existing;  // the target's text before, if there is one
    bool readOnly;
    bool saved;
  };
  const Case cases[] = {
      {"new file", "loop.csv", nullptr, false, true},
      {"replaces a file", "loop.csv", "an older and much longer file than the new one\n", false,
       true},
      {"missing folder", "gone\\loop.csv", nullptr, false, false},
      {"read-only file", "loop.csv", "kept\n", true, false},
      {"cancelled", nullptr, nullptr, false, false},
  };
  HistoryWindow window(nullptr, history, Key);
  window.open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path place = std::filesystem::path(folder.file(c.name));
    std::filesystem::create_directories(place);
    const std::filesystem::path path = place / (c.target ? c.target : "");
    if (c.existing) std::ofstream(path, std::ios::binary) << c.existing;
    if (c.readOnly) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    BoxCapture boxes;
    std::string suggested;
    setSavePathHook([&](const std::string& name) -> std::optional<std::string> {
      suggested = name;
      if (!c.target) return std::nullopt;
      return narrow(path.wstring());
    });
    click(window.control(history_form::SaveButton));
    setSavePathHook({});

    EXPECT_EQ(suggested, "ШС 2, адрес 5.csv");
    if (c.saved || c.existing) {
      // Excel's way on Windows: a byte-order mark, then CR LF lines.
      std::string excel = "\xEF\xBB\xBF" + window.model().csv();
      for (size_t at = excel.find('\n'); at != std::string::npos; at = excel.find('\n', at + 2)) {
        excel.insert(at, 1, '\r');
      }
      EXPECT_EQ(fileText(path), c.saved ? excel : std::string(c.existing));
    }
    const bool failed = c.target && !c.saved;
    ASSERT_EQ(boxes.boxes.size(), failed ? 1u : 0u);
    if (failed) {
      EXPECT_EQ(boxes.boxes[0].rfind(
                    "Шлейфы MIVRA-QX: Не удалось сохранить файл " + narrow(path.wstring()), 0),
                0u);
    }
    // Nothing but the target in the folder: no temporary file left behind.
    const auto files = std::distance(std::filesystem::directory_iterator(place), {});
    EXPECT_EQ(files, c.saved || c.existing ? 1 : 0);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

}  // namespace
}  // namespace loopmon::win32

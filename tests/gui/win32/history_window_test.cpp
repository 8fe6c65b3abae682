// The loop history window over a small recorded history: its texts, its
// refresh while open, the marks it draws and the CSV it saves.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "gui/win32/history_window.h"
#include "gui/win32/message_box.h"

namespace loopmon::win32 {
namespace {

using namespace std::chrono_literals;

constexpr LoopKey Key{5, 2};
constexpr Coefficients Pair{408, -1};
const WallTime Start = WallTime(std::chrono::seconds(1'800'000'000));

std::string windowString(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return narrow(text);
}

void pumpMessages() {
  MSG message;
  for (int i = 0; i < 1000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// A number as the window writes it, "3,3" or "3.3" after the user's locale.
std::string kiloOhms(const char* text) {
  std::string shown = text;
  for (char& c : shown) {
    if (c == ',') c = userDecimalSeparator();
  }
  return shown + " кОм";
}

// ADC readings of the key's loop, one a second, then state readings.
void recordRun(LoopHistory& history, std::vector<uint8_t> adc, std::vector<uint8_t> states = {}) {
  WallTime time = Start;
  for (uint8_t value : adc) {
    history.Record(AdcReading(Key.address, Key.loop, time, value, Pair));
    time += 1s;
  }
  for (uint8_t code : states) {
    history.Record(StateReading(Key.address, Key.loop, time, code));
    time += 1s;
  }
}

std::string fileText(const std::filesystem::path& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

class HistoryWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ =
        std::filesystem::path(temp) / ("loopmon-history-" + std::to_string(GetCurrentProcessId()) +
                                       "-" + std::to_string(GetTickCount()));
    std::filesystem::create_directories(folder_);
    previousBoxHook_ =
        setMessageBoxHook([this](const std::string& text, const std::string& caption, UINT icon) {
          boxes_.push_back(caption + "|" + std::to_string(icon) + "|" + text);
        });
  }
  void TearDown() override {
    setMessageBoxHook(previousBoxHook_);
    setSavePathHook({});
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::filesystem::path folder_;
  std::vector<std::string> boxes_;
  MessageBoxHook previousBoxHook_;
};

TEST_F(HistoryWindowTest, ShowsTheExtremesAndMovesOfTheLoop) {
  struct Case {
    const char* name;
    std::function<void(LoopHistory&)> record;
    std::string minimum;
    std::string maximum;
    std::string moves;
  };
  const Case cases[] = {
      // 3,08 3,25 open 3,08 short 1,55: four moves; 1,55 shows as 1,6.
      {"open and short",
       [](LoopHistory& h) {
         recordRun(h, {100, 96, 0, 100, 255, 160});
       },
       "Минимум: " + kiloOhms("1,6"), "Максимум: " + kiloOhms("3,3"), "Переходов: 4"},
      {"steady",
       [](LoopHistory& h) {
         recordRun(h, {100, 100, 100});
       },
       "Минимум: " + kiloOhms("3,1"), "Максимум: " + kiloOhms("3,1"), "Переходов: 0"},
      {"states only",
       [](LoopHistory& h) {
         recordRun(h, {}, {1, 3, 3, 1, 3});
       },
       "Минимум: —", "Максимум: —", "Переходов: 3"},
      {"another loop only",
       [](LoopHistory& h) { h.Record(AdcReading(Key.address, 3, Start, 100, Pair)); }, "Минимум: —",
       "Максимум: —", "Переходов: 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopHistory history;
    c.record(history);
    HistoryWindow window(history, Key);
    window.show(nullptr);
    ASSERT_NE(window.window(), nullptr);
    EXPECT_EQ(windowString(window.window()), "История шлейфа 2 — адрес 5");
    EXPECT_EQ(windowString(GetDlgItem(window.window(), HistoryMinimumLabelId)), c.minimum);
    EXPECT_EQ(windowString(GetDlgItem(window.window(), HistoryMaximumLabelId)), c.maximum);
    EXPECT_EQ(windowString(GetDlgItem(window.window(), HistoryMovesLabelId)), c.moves);
  }
}

TEST_F(HistoryWindowTest, FollowsTheHistoryWhileOpenAndOpensAgainAfterClosing) {
  LoopHistory history;
  recordRun(history, {100});
  HistoryWindow window(history, Key);
  window.show(nullptr);
  HWND moves = GetDlgItem(window.window(), HistoryMovesLabelId);
  history.Record(AdcReading(Key.address, Key.loop, Start + 10s, 0, Pair));
  const DWORD started = GetTickCount();
  while (windowString(moves) != "Переходов: 1" && GetTickCount() - started < 5000) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    pumpMessages();
  }
  EXPECT_EQ(windowString(moves), "Переходов: 1");

  SendMessageW(window.window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(window.window(), nullptr);
  window.show(nullptr);
  ASSERT_NE(window.window(), nullptr);
  EXPECT_EQ(windowString(GetDlgItem(window.window(), HistoryMovesLabelId)), "Переходов: 1");
}

// Pixels of each colour in the plot as it paints for `history`.
std::map<COLORREF, int> plotColours(const LoopHistory& history) {
  HistoryWindow window(history, Key);
  window.show(nullptr);
  HWND plot = FindWindowExW(window.window(), nullptr, L"LoopmonHistoryPlot", nullptr);
  RECT area;
  GetClientRect(plot, &area);
  HDC screen = GetDC(plot);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, area.right, area.bottom);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  SendMessageW(plot, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  std::map<COLORREF, int> counts;
  for (int y = 0; y < area.bottom; ++y) {
    for (int x = 0; x < area.right; ++x) ++counts[GetPixel(dc, x, y)];
  }
  SelectObject(dc, previous);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(plot, screen);
  return counts;
}

TEST_F(HistoryWindowTest, MarksEachKindOfMoveInItsColour) {
  struct Case {
    const char* name;
    std::vector<uint8_t> adc;
    std::vector<uint8_t> states;
    // Mark pixels beyond the legend's: alarm, open, short; then whether a line shows.
    std::array<bool, 3> marked;
    bool line;
  };
  const Case cases[] = {
      {"open, short, alarm", {100, 96, 0, 100, 255, 160}, {1, 3, 1}, {true, true, true}, true},
      {"open only", {100, 0, 100}, {}, {false, true, false}, true},
      {"states only", {}, {1, 3, 1}, {true, false, false}, false},
  };
  LoopHistory steady;
  recordRun(steady, {100, 96, 100, 96});
  std::map<COLORREF, int> legendOnly = plotColours(steady);
  const LoopCondition kinds[] = {LoopCondition::Alarm, LoopCondition::Open, LoopCondition::Short};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopHistory history;
    recordRun(history, c.adc, c.states);
    std::map<COLORREF, int> counts = plotColours(history);
    for (size_t kind = 0; kind < std::size(kinds); ++kind) {
      const COLORREF colour = *historyConditionColour(kinds[kind]);
      EXPECT_GT(legendOnly[colour], 0);
      EXPECT_EQ(counts[colour] > legendOnly[colour], c.marked[kind]) << kind;
    }
    EXPECT_EQ(counts[HistoryLineColour] > 0, c.line);
  }
}

TEST_F(HistoryWindowTest, SavesTheLoopsCsvWholeOrNotAtAll) {
  LoopHistory history;
  recordRun(history, {100, 0, 100});
  history.Record(AdcReading(9, 1, Start, 50, Pair));
  std::ostringstream expected;
  history.WriteCsv(expected, Key);

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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path folder = folder_ / c.name;
    std::filesystem::create_directories(folder);
    const std::filesystem::path path = folder / (c.target ? c.target : "");
    if (c.existing) std::ofstream(path, std::ios::binary) << c.existing;
    if (c.readOnly) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    boxes_.clear();
    std::wstring suggested;
    setSavePathHook([&](const std::wstring& name) -> std::optional<std::wstring> {
      suggested = name;
      if (!c.target) return std::nullopt;
      return path.wstring();
    });

    HistoryWindow window(history, Key);
    window.show(nullptr);
    SendMessageW(GetDlgItem(window.window(), HistorySaveButtonId), BM_CLICK, 0, 0);
    pumpMessages();

    EXPECT_EQ(narrow(suggested), "шлейф-2-адрес-5.csv");
    if (c.saved || c.existing) {
      EXPECT_EQ(fileText(path), c.saved ? expected.str() : std::string(c.existing));
    }
    const bool failed = c.target && !c.saved;
    ASSERT_EQ(boxes_.size(), failed ? 1u : 0u);
    if (failed) {
      EXPECT_EQ(boxes_[0].rfind(applicationTitle() + "|" + std::to_string(MB_ICONERROR) +
                                    "|Не удалось сохранить файл " + path.string(),
                                0),
                0u);
    }
    // Nothing but the target in the folder: no temporary file left behind.
    const auto files = std::distance(std::filesystem::directory_iterator(folder), {});
    EXPECT_EQ(files, c.saved || c.existing ? 1 : 0);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

}  // namespace
}  // namespace loopmon::win32

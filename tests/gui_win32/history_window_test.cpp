// The loop history window over a small recorded history: its texts, its
// refresh while open, the marks it draws and the CSV it saves.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
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
  HDC screen = GetDC(nullptr);
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
  ReleaseDC(nullptr, screen);
  return counts;
}

TEST_F(HistoryWindowTest, MarksEachKindOfMoveInItsColour) {
  LoopHistory steady;
  recordRun(steady, {100, 96, 100, 96});
  LoopHistory moving;
  recordRun(moving, {100, 96, 0, 100, 255, 160}, {1, 3, 1});
  LoopHistory statesOnly;
  recordRun(statesOnly, {}, {1, 3, 1});

  std::map<COLORREF, int> calm = plotColours(steady);
  std::map<COLORREF, int> marked = plotColours(moving);
  std::map<COLORREF, int> states = plotColours(statesOnly);
  for (LoopCondition condition :
       {LoopCondition::Alarm, LoopCondition::Open, LoopCondition::Short}) {
    SCOPED_TRACE(ConditionText(condition));
    const COLORREF colour = *historyConditionColour(condition);
    // The legend shows each colour in any case; the marks add to it.
    EXPECT_GT(calm[colour], 0);
    EXPECT_GT(marked[colour], calm[colour]);
  }
  EXPECT_GT(states[*historyConditionColour(LoopCondition::Alarm)],
            calm[*historyConditionColour(LoopCondition::Alarm)]);
  EXPECT_EQ(states[*historyConditionColour(LoopCondition::Open)],
            calm[*historyConditionColour(LoopCondition::Open)]);
  EXPECT_GT(calm[HistoryLineColour], 0);
  EXPECT_EQ(states[HistoryLineColour], 0);
  EXPECT_FALSE(historyConditionColour(LoopCondition::Normal));
}

TEST_F(HistoryWindowTest, SavesTheLoopsCsvWholeOrNotAtAll) {
  LoopHistory history;
  recordRun(history, {100, 0, 100});
  history.Record(AdcReading(9, 1, Start, 50, Pair));
  std::ostringstream expected;
  history.WriteCsv(expected, Key);

  struct Case {
    const char* name;
    std::function<std::optional<std::filesystem::path>(const std::filesystem::path& folder)>
        prepare;
    bool saved;
    bool box;
  };
  const Case cases[] = {
      {"new file", [](const auto& folder) { return folder / "loop.csv"; }, true, false},
      {"replaces a file",
       [](const auto& folder) {
         std::ofstream(folder / "loop.csv") << "an older and much longer file than the new one\n";
         return folder / "loop.csv";
       },
       true, false},
      {"missing folder", [](const auto& folder) { return folder / "gone" / "loop.csv"; }, false,
       true},
      {"read-only file",
       [](const auto& folder) {
         std::ofstream(folder / "loop.csv") << "kept\n";
         SetFileAttributesW((folder / "loop.csv").c_str(), FILE_ATTRIBUTE_READONLY);
         return folder / "loop.csv";
       },
       false, true},
      {"cancelled", [](const auto&) { return std::nullopt; }, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path folder = folder_ / c.name;
    std::filesystem::create_directories(folder);
    const std::optional<std::filesystem::path> path = c.prepare(folder);
    const std::string before = path ? fileText(*path) : std::string();
    boxes_.clear();
    std::wstring suggested;
    setSavePathHook([&](const std::wstring& name) -> std::optional<std::wstring> {
      suggested = name;
      if (!path) return std::nullopt;
      return path->wstring();
    });

    HistoryWindow window(history, Key);
    window.show(nullptr);
    SendMessageW(GetDlgItem(window.window(), HistorySaveButtonId), BM_CLICK, 0, 0);
    pumpMessages();

    EXPECT_EQ(narrow(suggested), "шлейф-2-адрес-5.csv");
    if (c.saved) {
      EXPECT_EQ(fileText(*path), expected.str());
    } else if (path) {
      EXPECT_EQ(fileText(*path), before);
    }
    ASSERT_EQ(boxes_.size(), c.box ? 1u : 0u);
    if (c.box) {
      EXPECT_EQ(boxes_[0].rfind(applicationTitle() + "|" + std::to_string(MB_ICONERROR) +
                                    "|Не удалось сохранить файл " + path->string(),
                                0),
                0u);
    }
    // No temporary file is left beside the target.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    const bool targetThere =
        path && path->parent_path() == folder && std::filesystem::exists(*path);
    EXPECT_EQ(names.size(), targetThere ? 1u : 0u);
    if (path && std::filesystem::exists(*path)) {
      SetFileAttributesW(path->c_str(), FILE_ATTRIBUTE_NORMAL);
    }
  }
}

}  // namespace
}  // namespace loopmon::win32

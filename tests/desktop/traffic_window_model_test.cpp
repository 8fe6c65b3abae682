// The traffic window without a toolkit: the list the view holds stays the
// model's through the line cap, the filter, pause and clear; what the trace
// lost is said in the list; the counters, the saved text and the capture.

#include "desktop/traffic_window_model.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "traffic/capture.h"

namespace loopmon {
namespace {

// Keeps the list as a list box would, from the model's calls alone.
struct MirrorView : TrafficWindowView {
  void showLinesMoved(int removedFirst, const std::vector<std::string>& added) override {
    ASSERT_LE(static_cast<size_t>(removedFirst), lines.size());
    lines.erase(lines.begin(), lines.begin() + removedFirst);
    lines.insert(lines.end(), added.begin(), added.end());
  }
  void showLines(const std::vector<std::string>& shown) override { lines = shown; }
  void showCounters(const std::vector<std::string>& shown) override { counters = shown; }
  void showPauseButton(const std::string& text) override { pauseText = text; }
  std::optional<std::string> askSavePath(const std::string&) override { return std::nullopt; }
  std::optional<std::string> askCapturePath(const std::string&) override { return std::nullopt; }
  void showMessage(const std::string&) override {}

  std::vector<std::string> lines;
  std::vector<std::string> counters;
  std::string pauseText;
};

TraceRecord attempt(uint8_t address, TraceOutcome outcome) {
  TraceRecord record;
  record.request = {address, 0x06, 0x00, 0x01, 0x00, 0x00};
  record.requestSize = 6;
  record.outcome = outcome;
  record.attempt = record.attempts = 1;
  record.sentMicros = 1000;
  record.requestEndMicros = 2000;
  record.lastByteMicros = 9000;
  record.readEndMicros = 9000;
  return record;
}

size_t linesOf(const std::vector<std::string>& lines, uint8_t address) {
  const std::string tag = " адрес " + std::to_string(address) + " ";
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.find(tag) != std::string::npos;
  }));
}

TEST(TrafficWindowModel, TheViewsListFollowsTheModelThroughEveryChange) {
  BusTrace trace;
  MirrorView view;
  TrafficWindowModel model(view, trace);
  model.opened();
  ASSERT_NE(trace.active(), nullptr) << "open, the trace is on";
  // Taken as the window's timer would, before the ring runs over.
  const auto push = [&](uint8_t address, size_t count) {
    for (size_t n = 1; n <= count; ++n) {
      trace.active()->push(attempt(address, TraceOutcome::Answer));
      if (n % 1000 == 0 || n == count) model.refresh();
    }
  };
  struct Step {
    const char* name;
    std::function<void()> act;
    size_t shown;   // lines the list shows after the step
    size_t ofFive;  // of them, device 5's
    bool paused;
  };
  constexpr size_t Cap = TrafficWindowModel::MaxLines;
  const Step steps[] = {
      {"two devices", [&] { push(5, 3), push(7, 2); }, 5, 3, false},
      {"filtered to 5", [&] { model.filterChanged("5"); }, 3, 3, false},
      {"7 hidden, 5 shown", [&] { push(7, 4), push(5, 1); }, 4, 4, false},
      {"no number: every line", [&] { model.filterChanged("5x"); }, 10, 4, false},
      {"the cap drops the oldest", [&] { push(7, Cap - 5); }, Cap, 1, false},
      {"the cap under a filter", [&] { model.filterChanged("5"), push(5, 10), push(7, Cap); }, 0, 0,
       false},
      {"paused: the list stays", [&] { model.filterChanged(""), model.pauseClicked(), push(5, 2); },
       Cap, 0, true},
      {"resumed: the list catches up", [&] { model.pauseClicked(); }, Cap, 2, false},
      {"cleared", [&] { model.clearClicked(), push(5, 1); }, 1, 1, false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.act();
    EXPECT_EQ(model.paused(), step.paused);
    EXPECT_EQ(view.pauseText, step.paused ? "Продолжить" : "Пауза");
    if (!step.paused) {
      EXPECT_EQ(view.lines, model.shownLines());
    }
    EXPECT_EQ(view.lines.size(), step.shown);
    EXPECT_EQ(linesOf(view.lines, 5), step.ofFive);
  }
  // The counters count every record since the clear, whether shown or not.
  ASSERT_EQ(view.counters.size(), 2u);
  EXPECT_EQ(view.counters[1].substr(0, 14), "   5        1 ");
  model.closed();
  EXPECT_EQ(trace.active(), nullptr) << "closed, the trace is off";
}

TEST(TrafficWindowModel, SaysWhatTheTraceLostAndSavesWhatItShows) {
  BusTrace trace;
  trace.start(4);
  MirrorView view;
  TrafficWindowModel model(view, trace);
  model.opened();
  model.filterChanged("9");
  for (int n = 0; n < 6; ++n) trace.active()->push(attempt(5, TraceOutcome::Silence));
  trace.active()->push(attempt(9, TraceOutcome::BadChecksum));
  model.refresh();
  ASSERT_EQ(view.lines.size(), 2u) << "shown whatever the filter";
  EXPECT_EQ(view.lines[0], "обмен: пропущено записей: 3 (чтение не успевало)");
  EXPECT_EQ(model.text(), view.lines[0] + "\n" + view.lines[1] + "\n\n" + view.counters[0] + "\n" +
                              view.counters[1] + "\n" + view.counters[2] + "\n");
  const DeviceTraffic& five = model.counters().devices().at(5);
  EXPECT_EQ(five.silences, 3u) << "the records lost are not counted";
  EXPECT_EQ(model.counters().devices().at(9).damaged, 1u);
  // The capture for Wireshark holds the attempts shown, as the list does.
  const std::vector<CapturedPacket> packets = readCapture(model.capture());
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].frame, attempt(9, TraceOutcome::BadChecksum).requestBytes());
}

}  // namespace
}  // namespace loopmon

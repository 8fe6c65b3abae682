#pragma once
// The traffic window without a toolkit: the bus trace's records as lines, the
// newest last, filtered by address, frozen while paused, at most MaxLines
// kept; the per-device counters under them; and the text file and the
// capture for Wireshark it saves.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "traffic/traffic_counters.h"
#include "transport/bus_trace.h"

namespace loopmon {

class TrafficWindowView {
 public:
  virtual ~TrafficWindowView() = default;
  // The list lost its first `removedFirst` lines and gained `added` at its end.
  virtual void showLinesMoved(int removedFirst, const std::vector<std::string>& added) = 0;
  // The list shows `lines` and nothing else.
  virtual void showLines(const std::vector<std::string>& lines) = 0;
  virtual void showCounters(const std::vector<std::string>& lines) = 0;
  // The pause button's text: "Пауза", or "Продолжить" while paused.
  virtual void showPauseButton(const std::string& text) = 0;
  // Where to save, offering `suggested`; nothing when the user cancels. The
  // text file's dialog offers text files, the capture's Wireshark's.
  virtual std::optional<std::string> askSavePath(const std::string& suggested) = 0;
  virtual std::optional<std::string> askCapturePath(const std::string& suggested) = 0;
  // A box with the application's title, an error icon and one OK button.
  virtual void showMessage(const std::string& text) = 0;
};

class TrafficWindowModel {
 public:
  static constexpr int RefreshMs = 200;
  static constexpr size_t MaxLines = 5000;

  // `trace` is the session's and outlives the model.
  TrafficWindowModel(TrafficWindowView& view, BusTrace& trace);
  ~TrafficWindowModel();
  TrafficWindowModel(const TrafficWindowModel&) = delete;
  TrafficWindowModel& operator=(const TrafficWindowModel&) = delete;

  // The window shows: the trace is on until it closes.
  void opened();
  void closed();
  // Takes what the trace holds: the window's timer, every RefreshMs.
  void refresh();
  // The address field's text: a number shows that device's lines (and what
  // the trace lost), anything else every line.
  void filterChanged(const std::string& text);
  void pauseClicked();
  void clearClicked();
  void saveClicked();
  void saveCaptureClicked();

  // The lines the list shows, oldest first, and the file's content: those
  // lines, then the counters.
  std::vector<std::string> shownLines() const;
  std::string text() const;
  // The attempts shown as a pcapng capture, what the trace lost among them
  // in its drop count.
  std::string capture() const;
  bool paused() const { return paused_; }
  const TrafficCounters& counters() const { return counters_; }

 private:
  struct Line {
    uint8_t address = 0;  // 0: the trace's own line, shown whatever the filter
    std::string text;
    std::optional<TraceRecord> record;  // none for the trace's own line
    uint64_t dropped = 0;
  };
  void save(const std::optional<std::string>& path, const std::string& content);
  bool shown(const Line& line) const;
  // The list and the counters afresh (unless paused).
  void showAll();

  TrafficWindowView& view_;
  BusTrace& trace_;
  std::shared_ptr<TraceRing> ring_;
  std::vector<TraceRecord> batch_;
  std::deque<Line> lines_;
  TrafficCounters counters_;
  // The program's Russian with the locale's separator; loopctl keeps English.
  const TraceWording wording_;
  std::optional<uint8_t> filter_;
  bool paused_ = false;
};

}  // namespace loopmon

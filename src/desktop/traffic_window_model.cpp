#include "desktop/traffic_window_model.h"

#include <charconv>

#include "desktop/texts.h"
#include "platform/store/whole_file.h"
#include "platform/system/locale_info.h"
#include "traffic/capture.h"
#include "traffic/trace_text.h"

namespace loopmon {

namespace {

// Records taken per refresh at most, so that a burst never holds the window
// up; with the line of what was dropped, a batch always fits the list.
constexpr size_t BatchLimit = 4096;
static_assert(BatchLimit < TrafficWindowModel::MaxLines);

}  // namespace

TrafficWindowModel::TrafficWindowModel(TrafficWindowView& view, BusTrace& trace)
    : view_(view), trace_(trace), wording_{true, userDecimalSeparator()} {
  batch_.reserve(BatchLimit);
}

TrafficWindowModel::~TrafficWindowModel() {
  if (ring_) trace_.stop();
}

void TrafficWindowModel::opened() {
  ring_ = trace_.start();
  view_.showPauseButton(paused_ ? texts::Resume : texts::Pause);
  showAll();
}

void TrafficWindowModel::closed() {
  refresh();
  trace_.stop();
}

bool TrafficWindowModel::shown(const Line& line) const {
  return !filter_ || line.address == 0 || line.address == *filter_;
}

void TrafficWindowModel::refresh() {
  if (!ring_) return;
  batch_.clear();
  const uint64_t dropped = ring_->take(batch_, BatchLimit);
  if (batch_.empty() && dropped == 0) return;
  std::vector<std::string> added;
  const auto add = [&](Line line) {
    if (shown(line)) added.push_back(line.text);
    lines_.push_back(std::move(line));
  };
  if (dropped != 0) add({0, droppedText(dropped, wording_), std::nullopt, dropped});
  for (const TraceRecord& record : batch_) {
    counters_.add(record);
    add({record.address(), traceText(record, wording_), record});
  }
  int removed = 0;
  for (; lines_.size() > MaxLines; lines_.pop_front()) removed += shown(lines_.front()) ? 1 : 0;
  if (paused_) return;
  view_.showLinesMoved(removed, added);
  view_.showCounters(countersTable(counters_, wording_));
}

void TrafficWindowModel::filterChanged(const std::string& text) {
  unsigned address = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), address);
  const bool number = !text.empty() && error == std::errc() && end == text.data() + text.size();
  filter_.reset();
  if (number && address >= 1 && address <= 127) filter_ = static_cast<uint8_t>(address);
  showAll();
}

void TrafficWindowModel::pauseClicked() {
  paused_ = !paused_;
  view_.showPauseButton(paused_ ? texts::Resume : texts::Pause);
  if (!paused_) showAll();
}

void TrafficWindowModel::clearClicked() {
  lines_.clear();
  counters_.clear();
  showAll();
}

void TrafficWindowModel::showAll() {
  if (paused_) return;
  view_.showLines(shownLines());
  view_.showCounters(countersTable(counters_, wording_));
}

std::vector<std::string> TrafficWindowModel::shownLines() const {
  std::vector<std::string> lines;
  for (const Line& line : lines_) {
    if (shown(line)) lines.push_back(line.text);
  }
  return lines;
}

std::string TrafficWindowModel::text() const {
  std::string text;
  for (const std::string& line : shownLines()) text += line + '\n';
  text += '\n';
  for (const std::string& line : countersTable(counters_, wording_)) text += line + '\n';
  return text;
}

std::string TrafficWindowModel::capture() const {
  CaptureWriter writer(std::string("loopmon ") + LOOPMON_VERSION);
  for (const Line& line : lines_) {
    if (!shown(line)) continue;
    if (line.record) {
      writer.add(*line.record);
    } else {
      writer.addDropped(line.dropped);
    }
  }
  return writer.content();
}

void TrafficWindowModel::save(const std::optional<std::string>& path, const std::string& content) {
  if (!path || path->empty()) return;
  try {
    replaceWholeFile(*path, content);
  } catch (const FileError& error) {
    view_.showMessage(texts::Format(texts::SaveFailed, *path, error.reason()));
  }
}

void TrafficWindowModel::saveClicked() {
  const std::optional<std::string> path = view_.askSavePath(texts::TrafficFileName);
  if (path) save(path, text());
}

void TrafficWindowModel::saveCaptureClicked() {
  const std::optional<std::string> path = view_.askCapturePath(texts::CaptureFileName);
  if (path) save(path, capture());
}

}  // namespace loopmon

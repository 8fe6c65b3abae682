#include "watch/event_log.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "loops/loop_history.h"
#include "platform/store/append_file.h"

namespace loopmon {

namespace fs = std::filesystem;

EventLog::EventLog(std::string folder, LogBound bound, Now now)
    : folder_(std::move(folder)), bound_(bound), now_(std::move(now)) {
  if (folder_.empty()) return;
  std::error_code ignored;
  fs::create_directories(fs::u8path(folder_), ignored);
  file_ = std::make_unique<AppendFile>(folder_ + "/" + fileName(0));
}

EventLog::~EventLog() = default;

std::string EventLog::fileName(int index) {
  return index == 0 ? "watch.jsonl" : "watch." + std::to_string(index) + ".jsonl";
}

void EventLog::rotate() {
  const fs::path folder = fs::u8path(folder_);
  // Closed first: Windows renames no file that is open.
  file_.reset();
  std::error_code ignored;
  fs::remove(folder / fileName(bound_.files - 1), ignored);
  for (int index = bound_.files - 2; index >= 0; --index) {
    fs::rename(folder / fileName(index), folder / fileName(index + 1), ignored);
  }
  file_ = std::make_unique<AppendFile>(folder_ + "/" + fileName(0));
}

void EventLog::write(Json event) {
  Json line = {{"time", IsoTime(now_())}};
  for (auto& [key, value] : event.items()) line[key] = std::move(value);
  JsonStyle style;
  style.replaceInvalid = true;
  const std::string text = JsonText(line, style);
  const std::lock_guard lock(mutex_);
  if (folder_.empty()) {
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
    return;
  }
  try {
    if (!file_) {
      file_ = std::make_unique<AppendFile>(folder_ + "/" + fileName(0));
    } else if (file_->size() > 0 && file_->size() + text.size() + 1 > bound_.fileBytes()) {
      rotate();
    }
    file_->appendLine(text);
    failing_ = false;
  } catch (const std::exception& error) {
    if (!failing_) std::fprintf(stderr, "loopctl: the event log: %s\n", error.what());
    failing_ = true;
    file_.reset();
  }
}

}  // namespace loopmon

#pragma once
// The watch's event log: one JSON object per line, in files of a bounded
// size in one folder. The current file is watch.jsonl; a full one moves to
// watch.1.jsonl, the one before to watch.2.jsonl and so on, and the oldest
// goes, so that the folder never holds much more than the bound. Each line
// is flushed to disk as it is written.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "record/json.h"

namespace loopmon {

class AppendFile;

struct LogBound {
  // All files together, the current one included.
  uint64_t totalBytes = 100ull * 1024 * 1024;
  int files = 10;
  uint64_t fileBytes() const { return totalBytes / static_cast<uint64_t>(files); }
};

class EventLog {
 public:
  // Where each event's time comes from.
  using Now = std::function<std::chrono::system_clock::time_point()>;

  // `folder` empty: the events go to standard output only. Throws FileError
  // when the current file cannot be opened.
  EventLog(std::string folder, LogBound bound = {}, Now now = std::chrono::system_clock::now);
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // Writes one event with the time in front; safe from any thread. A file
  // that cannot be written is reported on standard error once per failure
  // and the watch goes on.
  void write(Json event);

  static std::string fileName(int index);

 private:
  void rotate();

  std::string folder_;
  LogBound bound_;
  Now now_;
  std::mutex mutex_;
  std::unique_ptr<AppendFile> file_;
  bool failing_ = false;
};

}  // namespace loopmon

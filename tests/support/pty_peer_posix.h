#pragma once
// The device end of a pseudo-terminal. A thread on the master side reads
// request frames as a device on the bus would and answers each one a set time
// after the request's last stop bit would have left a 9600-baud wire. An answer
// that the engine's turnaround has not waited for is lost to its receive purge,
// just as on a real line.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "transport/frame.h"

namespace loopmon::testing {

class PtyPeer {
 public:
  // Sees each request frame (checksum included) and returns the answer, if any.
  using Responder = std::function<std::optional<Bytes>(const Bytes& request)>;

  PtyPeer(Responder responder, std::chrono::microseconds answerDelay);
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  // The terminal side, to be opened as the serial port.
  const std::string& devicePath() const { return path_; }
  // The request frames seen so far.
  std::vector<Bytes> requests() const;

 private:
  void run();
  void answer(const Bytes& request, std::chrono::steady_clock::time_point firstByte);

  Responder responder_;
  std::chrono::microseconds answerDelay_;
  int master_ = -1;
  int terminal_ = -1;  // held open so the master never sees a hang-up
  int wake_[2] = {-1, -1};
  std::string path_;
  mutable std::mutex mutex_;
  std::vector<Bytes> requests_;
  std::thread thread_;
};

}  // namespace loopmon::testing

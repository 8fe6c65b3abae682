#pragma once
// What the benchmarks of the engine on a pseudo-terminal measure with: the
// moments of the send and of the line release, the counter base the engine
// waits from, and the processor time of the calling thread.

#include <time.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "platform/platform.h"
#include "platform/serial/serial_port_relay.h"
#include "platform/system/clock.h"
#include "pty_peer_posix.h"
#include "recording_clock.h"

namespace loopmon::bench {

inline int64_t threadCpuNanos() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

struct Turnaround {
  int64_t sendStart = 0;  // the engine's counter base
  size_t written = 0;
  int64_t released = -1;  // counter when RTS was cleared
  int64_t cpuAtSend = 0;
  int64_t cpuAtRelease = 0;
  int64_t drainCounts = -1;  // counter time spent in the port's drain
};

// The real port, with the moments of the send and of the line release noted
// on whichever clock `clock` holds at the moment.
class TimingPort : public SerialPortRelay {
 public:
  TimingPort(std::unique_ptr<SerialPort> inner, const std::shared_ptr<RecordingClock>& clock,
             Turnaround& record)
      : SerialPortRelay(std::move(inner)), clock_(clock), record_(record) {}
  bool setRts(bool on) override {
    if (!on && record_.released < 0) {
      record_.released = clock_->now();
      record_.cpuAtRelease = threadCpuNanos();
    }
    return SerialPortRelay::setRts(on);
  }
  bool drain() override {
    const int64_t before = clock_->now();
    const bool drained = SerialPortRelay::drain();
    record_.drainCounts = clock_->now() - before;
    return drained;
  }
  size_t write(const uint8_t* buffer, size_t count) override {
    if (record_.written == 0) {
      record_.sendStart = clock_->last();
      record_.cpuAtSend = threadCpuNanos();
    }
    size_t done = SerialPortRelay::write(buffer, count);
    record_.written += done;
    return done;
  }

 private:
  const std::shared_ptr<RecordingClock>& clock_;
  Turnaround& record_;
};

inline double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

// The line release minus the moment the timed send computed (wire time of the
// bytes written plus TailInUS), in microseconds; none when the line was not released.
inline std::optional<double> turnaroundErrorMicros(const Turnaround& record, int64_t frequency,
                                                   int64_t tailMicros) {
  if (record.released < 0) return std::nullopt;
  const int64_t micros = static_cast<int64_t>(record.written) * 1041 + tailMicros;
  const int64_t due = record.sendStart + frequency * micros / 1'000'000;
  return static_cast<double>(record.released - due) * 1e6 / static_cast<double>(frequency);
}

// A device at the far end of a pseudo-terminal that answers every request
// AnswerDelay after it has left the wire, and the platform whose ports note
// the moments of the engine's send and line release in `record`.
struct ProbedLine {
  static constexpr std::chrono::microseconds AnswerDelay{2000};

  ProbedLine() {
    platform.clock = clock;
    platform.makeSerialPort = [this] {
      return std::make_unique<TimingPort>(makeSerialPort(), clock, record);
    };
  }
  ProbedLine(const ProbedLine&) = delete;
  ProbedLine& operator=(const ProbedLine&) = delete;

  testing::PtyPeer peer{[](const Bytes& request) -> std::optional<Bytes> {
                          Bytes answer{request[0], 5, 0, 0x21, 0x64};
                          answer.push_back(FrameChecksum(answer));
                          return answer;
                        },
                        AnswerDelay};
  std::shared_ptr<RecordingClock> clock = std::make_shared<RecordingClock>(systemClock());
  Turnaround record;
  Platform platform;
};

}  // namespace loopmon::bench

#include "cli/check_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "cli/cli_args.h"
#include "platform/serial/port_names.h"
#include "platform/serial/serial_port_relay.h"
#include "platform/serial/usb_latency.h"
#include "platform/system/clock.h"
#include "transport/bus_state.h"

namespace loopmon::cli {
namespace {

using Steady = std::chrono::steady_clock;

// One 10-bit character at the bus's 9600 baud.
constexpr double CharacterMs = 1.041;
constexpr int RoundTrips = 5;
// Bytes no device takes for a frame: a keyed address 127 with length 0.
constexpr uint8_t Probe[] = {0xFF, 0x00, 0x55, 0xAA};
// Long enough that a wait sleeps before its spin at the widest margin.
constexpr int64_t WakeProbeMicros = 3000;

double msSince(Steady::time_point start, Steady::time_point end = Steady::now()) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}

void report(const char* item, const char* verdict, const std::string& detail) {
  std::printf("%-15s %-5s %s\n", item, verdict, detail.c_str());
  std::fflush(stdout);
}

std::string ms(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", value);
  return text;
}

// The real port with the moments the round trip is made of: the first write
// of an exchange, and the answer's first read, from its call to its return.
class TimingPort final : public SerialPortRelay {
 public:
  using SerialPortRelay::SerialPortRelay;

  struct Exchange {
    std::optional<Steady::time_point> sent, listening, answered;
    size_t firstRead = 0;
  };
  Exchange exchange;

  size_t read(uint8_t* buffer, size_t count) override {
    const bool first = !exchange.listening;
    if (first) exchange.listening = Steady::now();
    const size_t done = SerialPortRelay::read(buffer, count);
    if (first) {
      exchange.answered = Steady::now();
      exchange.firstRead = done;
    }
    return done;
  }
  size_t write(const uint8_t* buffer, size_t count) override {
    if (!exchange.sent) exchange.sent = Steady::now();
    return SerialPortRelay::write(buffer, count);
  }
};

// The listing's entry for the device the session opens, for what it is.
std::optional<PortEntry> entryOf(const TRSSession& session) {
  const std::string name = session.PortName();
  const Registry& registry = *session.Bus().platform.registry;
  std::error_code error;
  const auto device = std::filesystem::weakly_canonical(resolvePortName(registry, name), error);
  for (const PortEntry& entry : listPorts(registry)) {
    std::error_code entryError;
    if (std::filesystem::weakly_canonical(entry.devicePath, entryError) == device ||
        entry.comName == name) {
      return entry;
    }
  }
  return std::nullopt;
}

// Sends bytes no device answers while the line is driven, as it is while the
// engine sends, and looks for them coming back.
std::optional<bool> echoSeen(TRSSession& session) {
  SerialPort& port = *session.Bus().Port;
  const size_t n = sizeof Probe;
  port.setTimeouts({0, 0, static_cast<uint32_t>(n * CharacterMs) + 50, 0, 0});
  if (!session.Bus().LineTurnsItself()) {
    port.setDtr(false);
    port.setRts(true);
  }
  port.purge(PurgeAction::RxClear);
  if (port.write(Probe, n) != n) return std::nullopt;
  uint8_t back[n] = {};
  const size_t got = port.read(back, n);
  return got == n && std::equal(back, back + n, Probe);
}

struct RoundTrip {
  int answered = 0;
  std::vector<double> tripMs;    // first byte sent to the answer's 6 bytes in
  std::vector<double> marginMs;  // line listening to the answer's first byte
};

RoundTrip measure(TRSSession& session, TimingPort& timing, uint8_t address) {
  RoundTrip result;
  const Bytes request{address, 6, 0, 1, 0, 0};
  for (int i = 0; i < RoundTrips; ++i) {
    timing.exchange = {};
    if (!Transact(session.Bus(), PrepareRequest(session.Bus(), request), 1)) continue;
    ++result.answered;
    const TimingPort::Exchange& e = timing.exchange;
    if (!e.sent || !e.listening || !e.answered) continue;
    result.tripMs.push_back(msSince(*e.sent, *e.answered));
    // The answer's first byte came in its wire time before the read had all.
    const double firstByte =
        msSince(*e.listening, *e.answered) - static_cast<double>(e.firstRead) * CharacterMs;
    result.marginMs.push_back(firstByte);
  }
  return result;
}

// How late this machine wakes from the timed send's sleeps: timed waits as
// the send makes them, until the clock has a window of its own sleeps.
void reportWakeLateness(Clock& clock) {
  const int64_t frequency = clock.counterFrequency();
  if (frequency <= 0) {
    report("wake-up", "n/a", "no high-resolution counter: the padded send is used");
    return;
  }
  WakeLateness& lateness = clock.wakeLateness();
  for (size_t i = 0; i < WakeLateness::Window && lateness.sleepsNoted() < WakeLateness::Window;
       ++i) {
    waitForCounter(clock, clock.counter() + frequency * WakeProbeMicros / 1'000'000);
  }
  const double lateMs = static_cast<double>(lateness.highQuantileMicros().value_or(0)) / 1000;
  const double marginMs = static_cast<double>(clock.spinMarginMicros()) / 1000;
  char detail[160];
  std::snprintf(detail, sizeof detail,
                "sleeps wake up to %.2f ms late (99 in 100); the timed send spins the last %.2f ms",
                lateMs, marginMs);
  const bool covered = lateMs < marginMs;
  report("wake-up", covered ? "ok" : "warn",
         covered ? detail
                 : std::string(detail) +
                       ": a busy machine, where a longer spin is preempted too; some "
                       "turnarounds come late");
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string currentFlags(const LineSettings& s) {
  return std::string("SmartPI ") + (s.SmartPI ? "present" : "absent") + ", USARTMode " +
         (s.USARTMode ? "present" : "absent");
}

}  // namespace

int check(const std::vector<std::string>& words, const PortOpener& open) {
  const Arguments args(words, {"--port", "--addr"}, {"--fix"});
  if (!args.plain().empty()) throw UsageError("check takes no words: " + args.plain().front());
  const std::string portText = args.required("--port");
  // 0: no device to measure.
  const auto address = static_cast<uint8_t>(
      args.has("--addr") ? parseNumber(args.required("--addr"), 1, 127, "--addr") : 0);

  const auto openStart = Steady::now();
  std::unique_ptr<TRSSession> session = open(portText);
  const double openMs = msSince(openStart);
  if (session->Bus().Simulator.enabled) {
    report("port", "n/a", "simulator mode (loopsim serve runs): the port is not used");
    return 0;
  }
  bool failed = false;
  report("open time", openMs < 100 ? "ok" : "warn",
         ms(openMs) + (openMs < 100 ? "" : ": slow for a serial port"));

  auto timing = std::make_unique<TimingPort>(std::move(session->Bus().Port));
  TimingPort& port = *timing;
  session->Bus().Port = std::move(timing);

  const std::optional<bool> echo = echoSeen(*session);
  if (!echo) {
    report("echo", "fail", "the port takes no bytes");
    failed = true;
  } else {
    report("echo", *echo ? "warn" : "ok",
           *echo ? "the converter hands our own bytes back (its receiver stays on while sending)"
                 : "none: the converter does not hand our own bytes back");
  }

  const std::optional<PortEntry> entry = entryOf(*session);
  const std::optional<int> latency = entry ? readLatencyTimer(*entry) : std::nullopt;
  if (!latency) {
    report("latency timer", "n/a", "not a converter with a USB latency timer");
  } else if (*latency <= 1) {
    report("latency timer", "ok", std::to_string(*latency) + " ms");
  } else if (args.has("--fix")) {
    std::string why;
    if (setLatencyTimer(*entry, 1, why)) {
      report("latency timer", "fixed", "set from " + std::to_string(*latency) + " ms to 1 ms");
    } else {
      report("latency timer", "fail",
             std::to_string(*latency) + " ms, cannot be set (" + why + "): run as root");
      failed = true;
    }
  } else {
    report("latency timer", "warn",
           std::to_string(*latency) +
               " ms: every answer arrives up to that much later; "
               "1 ms with loopctl check --fix");
  }

  reportWakeLateness(*session->Bus().platform.clock);

  std::optional<RoundTrip> trip;
  if (address == 0) {
    report("round trip", "n/a", "give --addr N to measure the exchange with a device");
  } else {
    trip = measure(*session, port, address);
    const std::string answered =
        std::to_string(trip->answered) + " of " + std::to_string(RoundTrips) + " answered";
    if (trip->tripMs.empty()) {
      report("round trip", "fail", "no answer from address " + std::to_string(address));
      failed = true;
    } else {
      report("round trip", trip->answered == RoundTrips ? "ok" : "warn",
             ms(median(trip->tripMs)) + " to address " + std::to_string(address) + " (" + answered +
                 ")");
      const double margin = median(trip->marginMs);
      report("turnaround", margin >= 0 ? "ok" : "warn",
             margin >= 0 ? ms(margin) + " from listening to the answer's first byte"
                         : "the answer began " + ms(-margin) +
                               " before the line was turned round: lower TailInUS");
    }
  }

  const LineSettings& s = session->Bus().Settings;
  const bool rs485 = port.supportsKernelRs485();
  if (echo && *echo) {
    const bool fits = !s.SmartPI && !s.USARTMode;
    report("line settings", fits ? "ok" : "warn",
           fits ? currentFlags(s) + ": the echo is cleared after the timed send"
                : "set SmartPI and USARTMode absent: only the timed send and the clearing "
                  "after it keep the echo out of the answer");
  } else if (trip && !trip->tripMs.empty()) {
    report("line settings", "ok", currentFlags(s) + " work with this converter");
  } else if (trip) {
    report("line settings", "warn",
           std::string("no answer with ") + currentFlags(s) +
               ": a converter that turns the line round by itself needs SmartPI present" +
               (rs485 ? "; or let the kernel turn it (KernelRS485 = 1)" : ""));
  } else {
    report("line settings", "n/a", currentFlags(s) + "; give --addr N to try them");
  }

  report("kernel RS-485", rs485 ? "ok" : "n/a",
         session->Bus().KernelTurnsLine ? "on: the kernel turns the line round (KernelRS485 = 1)"
         : rs485 ? "supported: KernelRS485 = 1 lets the kernel turn the line round"
                 : "not supported by this port's driver");
  return failed ? 1 : 0;
}

}  // namespace loopmon::cli

#include "cli/check_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "cli/cli_args.h"
#include "platform/serial/port_names.h"
#include "platform/serial/serial_port_relay.h"
#include "platform/serial/usb_latency.h"
#include "platform/system/clock.h"
#include "transport/line_settings.h"

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
  const Registry& registry = *session.Services().registry;
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
std::optional<bool> echoSeen(const TRSSession& session, SerialPort& port) {
  const size_t n = sizeof Probe;
  port.setTimeouts({0, 0, static_cast<uint32_t>(n * CharacterMs) + 50, 0, 0});
  if (!session.LineTurnsItself()) {
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
    if (!session.ExchangeOnce(request)) continue;
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

// How late this machine wakes from the timed send's sleeps, and the spin
// margin that covers it.
struct WakeFigures {
  double lateMs = 0;
  double marginMs = 0;
};

// Timed waits as the send makes them, until the clock has a window of its
// own sleeps; nothing without a high-resolution counter.
std::optional<WakeFigures> measureWakeLateness(Clock& clock) {
  const int64_t frequency = clock.counterFrequency();
  if (frequency <= 0) return std::nullopt;
  WakeLateness& lateness = clock.wakeLateness();
  for (size_t i = 0; i < WakeLateness::Window && lateness.sleepsNoted() < WakeLateness::Window;
       ++i) {
    waitForCounter(clock, clock.counter() + frequency * WakeProbeMicros / 1'000'000);
  }
  return WakeFigures{static_cast<double>(lateness.highQuantileMicros().value_or(0)) / 1000,
                     static_cast<double>(clock.spinMarginMicros()) / 1000};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string currentFlags(const LineSettings& s) {
  return std::string("SmartPI ") + (s.SmartPI ? "present" : "absent") + ", USARTMode " +
         (s.USARTMode ? "present" : "absent");
}

struct CheckRequest {
  std::string port;
  // 0: no device to measure.
  uint8_t address = 0;
  bool fix = false;
};

CheckRequest parseCheck(const Arguments& args) {
  if (!args.plain().empty()) throw UsageError("check takes no words: " + args.plain().front());
  CheckRequest request;
  request.port = args.required("--port");
  if (args.has("--addr"))
    request.address = static_cast<uint8_t>(parseNumber(args.required("--addr"), 1, 127, "--addr"));
  request.fix = args.has("--fix");
  return request;
}

// What the port, the converter and the machine showed.
struct Findings {
  double openMs = 0;
  // Nothing: the port takes no bytes.
  std::optional<bool> echo;
  // Nothing: no converter with a USB latency timer.
  std::optional<int> latencyMs;
  // With --fix: whether the timer could be set, and why not.
  std::optional<bool> latencyFixed;
  std::string fixProblem;
  std::optional<WakeFigures> wake;
  // Nothing without --addr.
  std::optional<RoundTrip> trip;
  LineSettings settings;
  bool rs485 = false;
  bool kernelTurnsLine = false;
};

Findings examine(TRSSession& session, const CheckRequest& request, double openMs) {
  Findings found;
  found.openMs = openMs;
  TimingPort* timing = nullptr;
  session.WrapPort([&timing](std::unique_ptr<SerialPort> inner) -> std::unique_ptr<SerialPort> {
    auto wrapped = std::make_unique<TimingPort>(std::move(inner));
    timing = wrapped.get();
    return wrapped;
  });
  TimingPort& port = *timing;

  found.echo = echoSeen(session, port);
  const std::optional<PortEntry> entry = entryOf(session);
  found.latencyMs = entry ? readLatencyTimer(*entry) : std::nullopt;
  if (found.latencyMs && *found.latencyMs > 1 && request.fix) {
    found.latencyFixed = setLatencyTimer(*entry, 1, found.fixProblem);
  }
  found.wake = measureWakeLateness(*session.Services().clock);
  if (request.address != 0) found.trip = measure(session, port, request.address);
  found.settings = session.Settings();
  found.rs485 = port.supportsKernelRs485();
  found.kernelTurnsLine = session.KernelTurnsLine();
  return found;
}

struct Verdict {
  const char* item;
  const char* verdict;
  std::string detail;
};

Verdict latencyVerdict(const Findings& found) {
  if (!found.latencyMs) return {"latency timer", "n/a", "not a converter with a USB latency timer"};
  const std::string latency = std::to_string(*found.latencyMs);
  if (*found.latencyMs <= 1) return {"latency timer", "ok", latency + " ms"};
  if (!found.latencyFixed) {
    return {"latency timer", "warn",
            latency +
                " ms: every answer arrives up to that much later; "
                "1 ms with loopctl check --fix"};
  }
  if (*found.latencyFixed) return {"latency timer", "fixed", "set from " + latency + " ms to 1 ms"};
  return {"latency timer", "fail",
          latency + " ms, cannot be set (" + found.fixProblem + "): run as root"};
}

Verdict wakeVerdict(const Findings& found) {
  if (!found.wake) {
    return {"wake-up", "n/a", "no high-resolution counter: the padded send is used"};
  }
  char detail[160];
  std::snprintf(detail, sizeof detail,
                "sleeps wake up to %.2f ms late (99 in 100); the timed send spins the last %.2f ms",
                found.wake->lateMs, found.wake->marginMs);
  if (found.wake->lateMs < found.wake->marginMs) return {"wake-up", "ok", detail};
  return {"wake-up", "warn",
          std::string(detail) +
              ": a busy machine, where a longer spin is preempted too; some "
              "turnarounds come late"};
}

void tripVerdicts(const Findings& found, uint8_t address, std::vector<Verdict>& verdicts) {
  if (!found.trip) {
    verdicts.push_back(
        {"round trip", "n/a", "give --addr N to measure the exchange with a device"});
    return;
  }
  const RoundTrip& trip = *found.trip;
  const std::string answered =
      std::to_string(trip.answered) + " of " + std::to_string(RoundTrips) + " answered";
  if (trip.tripMs.empty()) {
    verdicts.push_back({"round trip", "fail", "no answer from address " + std::to_string(address)});
    return;
  }
  verdicts.push_back(
      {"round trip", trip.answered == RoundTrips ? "ok" : "warn",
       ms(median(trip.tripMs)) + " to address " + std::to_string(address) + " (" + answered + ")"});
  const double margin = median(trip.marginMs);
  verdicts.push_back({"turnaround", margin >= 0 ? "ok" : "warn",
                      margin >= 0 ? ms(margin) + " from listening to the answer's first byte"
                                  : "the answer began " + ms(-margin) +
                                        " before the line was turned round: lower TailInUS"});
}

Verdict lineSettingsVerdict(const Findings& found) {
  const LineSettings& s = found.settings;
  if (found.echo && *found.echo) {
    const bool fits = !s.SmartPI && !s.USARTMode;
    return {"line settings", fits ? "ok" : "warn",
            fits ? currentFlags(s) + ": the echo is cleared after the timed send"
                 : "set SmartPI and USARTMode absent: only the timed send and the clearing "
                   "after it keep the echo out of the answer"};
  }
  if (found.trip && !found.trip->tripMs.empty()) {
    return {"line settings", "ok", currentFlags(s) + " work with this converter"};
  }
  if (found.trip) {
    return {"line settings", "warn",
            std::string("no answer with ") + currentFlags(s) +
                ": a converter that turns the line round by itself needs SmartPI present" +
                (found.rs485 ? "; or let the kernel turn it (KernelRS485 = 1)" : "")};
  }
  return {"line settings", "n/a", currentFlags(s) + "; give --addr N to try them"};
}

// One verdict per finding, in the order they are printed.
std::vector<Verdict> verdictsOf(const Findings& found, uint8_t address) {
  std::vector<Verdict> verdicts;
  verdicts.push_back({"open time", found.openMs < 100 ? "ok" : "warn",
                      ms(found.openMs) + (found.openMs < 100 ? "" : ": slow for a serial port")});
  if (!found.echo) {
    verdicts.push_back({"echo", "fail", "the port takes no bytes"});
  } else {
    verdicts.push_back(
        {"echo", *found.echo ? "warn" : "ok",
         *found.echo
             ? "the converter hands our own bytes back (its receiver stays on while sending)"
             : "none: the converter does not hand our own bytes back"});
  }
  verdicts.push_back(latencyVerdict(found));
  verdicts.push_back(wakeVerdict(found));
  tripVerdicts(found, address, verdicts);
  verdicts.push_back(lineSettingsVerdict(found));
  verdicts.push_back(
      {"kernel RS-485", found.rs485 ? "ok" : "n/a",
       found.kernelTurnsLine ? "on: the kernel turns the line round (KernelRS485 = 1)"
       : found.rs485         ? "supported: KernelRS485 = 1 lets the kernel turn the line round"
                             : "not supported by this port's driver"});
  return verdicts;
}

}  // namespace

int check(const Arguments& args, const PortOpener& open) {
  const CheckRequest request = parseCheck(args);
  const auto openStart = Steady::now();
  std::unique_ptr<TRSSession> session = open(request.port);
  const double openMs = msSince(openStart);
  if (session->SimulatorMode()) {
    report("port", "n/a", "simulator mode (loopsim serve runs): the port is not used");
    return 0;
  }
  bool failed = false;
  for (const Verdict& verdict : verdictsOf(examine(*session, request, openMs), request.address)) {
    report(verdict.item, verdict.verdict, verdict.detail);
    failed = failed || std::string_view(verdict.verdict) == "fail";
  }
  return failed ? 1 : 0;
}

}  // namespace loopmon::cli

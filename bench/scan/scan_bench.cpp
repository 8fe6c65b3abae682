// Scans the demo bus over `loopsim pty` through the real serial code and
// compares the time with the ideal the line settings imply:
//   a silent address: six attempts, each the request on the wire with the
//     timed send's tail, the short-class read time-out and StartTimeout;
//   a device: its answered exchanges, each the request and the answer on the
//     wire with the device's latency, and StartTimeout; an event answer adds
//     the acknowledgement (request, tail, StartTimeout).
// The scan runs its steps back to back: the dialog's 10 ms timer between two
// addresses is not the line's and is left out of both figures.
// Then a survey of the same bus for the site record (the scan, then every
// loop of every device in both views) against the ideal of the same requests:
// each answered loop request is the request and the answer on the wire with
// the latency and StartTimeout, as above; the time per device is printed.
// Then the same scan over RFC 2217 (with the allowance it learns, and with the
// ceiling it kept before it learned) and over raw TCP through ser2net on the
// loopback address, serving the same pseudo-terminal, and either through a
// relay that delays each way by 0, 5 and 30 ms with jitter, as ratios to the
// local line; and the whole survey through that relay, as ratios to the
// survey over the local line.
//
//   scan_bench

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "delaying_relay.h"
#include "loops/coeffs.h"
#include "loops/loop_layout.h"
#include "loopsim_process.h"
#include "platform/platform.h"
#include "platform/serial/serial_port_relay.h"
#include "record/survey.h"
#include "scoped_temp_dir.h"
#include "search/quick_search.h"
#include "search/search_procedure.h"
#include "ser2net_process.h"
#include "session/bus_runner.h"
#include "session/session.h"
#include "sim/scenario.h"
#include "transport/bus_state.h"

using namespace loopmon;

namespace {

constexpr double CharacterMicros = 1041;
constexpr int RequestBytes = 7;  // six bytes and the checksum
constexpr int AnswerBytes = 6;
constexpr int Attempts = 6;

// The dialog without a window: only the timer and the list matter here.
class QuietView : public SearchView {
 public:
  void clearDevices() override { devices = 0; }
  void appendDevice(const FoundDevice&) override { ++devices; }
  void focusDeviceList() override {}
  void focusSearchButton() override {}
  void setChooseEnabled(bool) override {}
  std::string title() const override { return title_; }
  void setTitle(const std::string& title) override { title_ = title; }
  void setProgress(int) override {}
  std::string portText() const override { return "COM1"; }
  void setPortEnabled(bool) override {}
  void setSearchCaption(const std::string& caption) override { caption_ = caption; }
  void setScanTimerEnabled(bool enabled) override { timer = enabled; }
  void showError(const std::string& text, const std::string&) override {
    std::fprintf(stderr, "scan_bench: %s\n", text.c_str());
  }

  int devices = 0;
  bool timer = false;

 private:
  std::string title_;
  std::string caption_ = SearchButtonSearch;
};

// Seconds of a quick search of every address through `session`, and the
// devices it found.
std::pair<double, int> quickScan(TRSSession& session) {
  std::set<int> everyAddress;
  for (int address = 1; address <= 127; ++address) everyAddress.insert(address);
  QuickScan quick(ScanOrder(everyAddress));
  int found = 0;
  const auto started = std::chrono::steady_clock::now();
  while (!quick.Done()) found += quick.Step(session).empty() ? 0 : 1;
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), found};
}

// Seconds of a full scan through `session`; the devices found go to `view`.
double scanSeconds(TRSSession& session, QuietView& view) {
  InlineBus bus(session);
  SearchProcedure search(view, &bus);
  const auto started = std::chrono::steady_clock::now();
  search.StartStopScan();
  while (view.timer) search.ScanStep();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

// A line that waits the whole ceiling for every answer, as RFC 2217 did
// before it learned its network.
class CeilingKept final : public SerialPortRelay {
 public:
  using SerialPortRelay::SerialPortRelay;
  uint32_t networkAllowanceMs(uint32_t ceilingMs) override { return ceilingMs; }
};

// When each device's reading began, and when the survey ended.
struct SurveyTimes : SurveyObserver {
  using Clock = std::chrono::steady_clock;
  void Probing(int, int, uint8_t) override {}
  void Reading(int, int, const DeviceRecord&) override { readingFrom.push_back(Clock::now()); }
  void Message(uint8_t, int, const std::string&) override {}
  std::vector<Clock::time_point> readingFrom;
};

// The wire's ideal for the loop requests of one surveyed device: every loop
// request answered (a line controller's kind request too), or six attempts
// that wait out the long class's read time-out.
double loopsIdealMicros(const DeviceRecord& device, const LineSettings& s, double latencyMicros) {
  const double requestMicros = RequestBytes * CharacterMicros;
  const double pauseMicros = s.StartTimeout * 1000.0;
  const double answered =
      requestMicros + latencyMicros + AnswerBytes * CharacterMicros + pauseMicros;
  const double silent =
      Attempts *
      (requestMicros + s.TailInUS +
       (s.CmdTimeoutConstant + AnswerBytes * s.CmdTimeoutMultiplier) * 1000.0 + pauseMicros);
  double micros = 0;
  for (const LoopRecord& loop : device.loops) {
    const bool adcAnswered = loop.condition != LoopCondition::Unanswered;
    micros += adcAnswered ? answered : silent;
    if (adcAnswered && device.type == LineControllerType) micros += answered;
    micros += loop.stateCondition != LoopCondition::Unanswered ? answered : silent;
  }
  return micros;
}

// A whole-bus survey through `session`, its steps back to back as loopctl
// runs them; `times` hears of each device.
struct SurveyRun {
  double seconds = 0;
  std::vector<DeviceRecord> devices;
};
SurveyRun runSurvey(TRSSession& session, const CoefficientsStore& store, SurveyTimes& times) {
  InlineBus bus(session);
  std::set<int> everyAddress;
  for (int address = 1; address <= 127; ++address) everyAddress.insert(address);
  Survey survey(bus, store, times, {ScanOrder(everyAddress)});
  const auto started = SurveyTimes::Clock::now();
  for (bool more = true; more;) survey.Step([&more](bool next) { more = next; });
  const auto ended = SurveyTimes::Clock::now();
  times.readingFrom.push_back(ended);
  return {std::chrono::duration<double>(ended - started).count(), survey.Devices()};
}

size_t loopCount(const std::vector<DeviceRecord>& devices) {
  size_t loops = 0;
  for (const DeviceRecord& device : devices) loops += device.loops.size();
  return loops;
}

}  // namespace

int main() {
  testing::ScopedTempDir folder;
  testing::ScopedEnv runtime("XDG_RUNTIME_DIR", folder.file("run"));
  testing::ScopedEnv config("XDG_CONFIG_HOME", folder.file("config"));
  testing::LoopsimProcess loopsim(LOOPSIM_PATH, {"pty", "--link", folder.file("tty")});
  for (std::string line = loopsim.readLine(); line.rfind("loopsim: linked as", 0) != 0;
       line = loopsim.readLine()) {
    if (line.empty()) {
      std::fprintf(stderr, "scan_bench: loopsim did not start\n");
      return 1;
    }
  }

  TRSSession session(Platform::system());
  session.SetPortPath(folder.file("tty"));
  QuietView view;
  const double measuredS = scanSeconds(session, view);

  const LineSettings& s = session.Settings();
  const double requestMicros = RequestBytes * CharacterMicros;
  const double pauseMicros = s.StartTimeout * 1000.0;
  const double silentMicros =
      Attempts * (requestMicros + s.TailInUS +
                  (s.TimeoutConstant + AnswerBytes * s.TimeoutMultiplier) * 1000.0 + pauseMicros);
  const sim::Scenario demo = sim::demoScenario();
  double idealMicros = 0;
  std::set<int> devices;
  for (const sim::DeviceSpec& device : demo.devices) {
    devices.insert(device.address);
    const double latency = device.latencyMicros.value_or(demo.latencyMicros);
    const double answered = requestMicros + latency + AnswerBytes * CharacterMicros + pauseMicros;
    const double acknowledgement =
        device.events.empty() ? 0 : requestMicros + s.TailInUS + pauseMicros;
    idealMicros += 2 * answered + acknowledgement;
  }
  idealMicros += (127 - static_cast<double>(devices.size())) * silentMicros;
  const double idealS = idealMicros / 1e6;

  std::printf("full scan of the demo bus over loopsim pty (%zu devices, %d found)\n",
              devices.size(), view.devices);
  std::printf("line settings: short time-out %u ms, StartTimeout %u ms, TailInUS %u us\n",
              s.TimeoutConstant, s.StartTimeout, s.TailInUS);
  std::printf("ideal     %8.3f s (silent address %.1f ms)\n", idealS, silentMicros / 1000);
  std::printf("measured  %8.3f s\n", measuredS);
  std::printf("ratio     %8.3f (goal within 1.05)\n", measuredS / idealS);

  // The quick search beside the full one: on the demo bus, then on a bus
  // with no device at all. A line is opened for one session at a time.
  {
    const auto [demoQuickS, demoFound] = quickScan(session);
    std::ofstream(folder.file("empty.ini")) << "[bus]\n";
    testing::LoopsimProcess empty(LOOPSIM_PATH, {"pty", "--scenario", folder.file("empty.ini"),
                                                 "--link", folder.file("empty")});
    for (std::string line = empty.readLine(); line.rfind("loopsim: linked as", 0) != 0;
         line = empty.readLine()) {
      if (line.empty()) {
        std::fprintf(stderr, "scan_bench: loopsim did not start on the empty bus\n");
        return 1;
      }
    }
    TRSSession emptyFull(Platform::system());
    emptyFull.SetPortPath(folder.file("empty"));
    QuietView emptyView;
    const double emptyFullS = scanSeconds(emptyFull, emptyView);
    const double emptyQuickS = quickScan(emptyFull).first;
    std::printf("\nthe quick search beside the full one (127 addresses)\n");
    std::printf("%-10s %10s %10s %7s %6s %6s\n", "bus", "full", "quick", "ratio", "found", "goal");
    std::printf("%-10s %8.3f s %8.3f s %7.3f %3d/%-2d %6s\n", "demo", measuredS, demoQuickS,
                demoQuickS / measuredS, demoFound, view.devices, "1/3");
    std::printf("%-10s %8.3f s %8.3f s %7.3f %6s %6s\n", "empty", emptyFullS, emptyQuickS,
                emptyQuickS / emptyFullS, "", "1/4");
    if (demoFound != view.devices) return 1;
  }

  SurveyTimes times;
  const CoefficientsStore store(folder.file("ohmgauge.kft"), '.');
  const auto surveyStart = SurveyTimes::Clock::now();
  const SurveyRun local = runSurvey(session, store, times);
  const std::vector<DeviceRecord>& surveyed = local.devices;
  const auto seconds = [](auto from, auto to) {
    return std::chrono::duration<double>(to - from).count();
  };
  std::printf("\nsurvey of the demo bus over the same line (%zu devices)\n", surveyed.size());
  std::printf("%-30s %6s %10s %10s %7s\n", "device", "loops", "measured", "ideal", "ratio");
  const double searchS = seconds(surveyStart, times.readingFrom.front());
  std::printf("%-30s %6s %8.3f s %8.3f s %7.3f\n", "search of 127 addresses", "", searchS, idealS,
              searchS / idealS);
  double surveyIdealS = idealS;
  double loopsS = 0;
  for (size_t i = 0; i < surveyed.size() && i + 1 < times.readingFrom.size(); ++i) {
    const DeviceRecord& device = surveyed[i];
    double latency = demo.latencyMicros;
    for (const sim::DeviceSpec& spec : demo.devices) {
      if (spec.address == device.addr) latency = spec.latencyMicros.value_or(demo.latencyMicros);
    }
    const double deviceIdealS = loopsIdealMicros(device, s, latency) / 1e6;
    const double deviceS = seconds(times.readingFrom[i], times.readingFrom[i + 1]);
    surveyIdealS += deviceIdealS;
    loopsS += deviceS;
    std::printf("%3d %-26s %6zu %8.3f s %8.3f s %7.3f\n", device.addr, device.name.c_str(),
                device.loops.size(), deviceS, deviceIdealS, deviceS / deviceIdealS);
  }
  const double surveyS = local.seconds;
  std::printf("%-30s %6s %8.3f s %8.3f s %7.3f (goal within 1.05)\n", "whole survey", "", surveyS,
              surveyIdealS, surveyS / surveyIdealS);
  std::printf("time per device %.3f s (loops of both views), %.3f s with the search\n",
              loopsS / static_cast<double>(surveyed.size()),
              surveyS / static_cast<double>(surveyed.size()));

  testing::Ser2netProcess server(SER2NET_PATH, folder.file("tty"));
  if (!server.start()) {
    std::fprintf(stderr, "scan_bench: ser2net (%s) does not serve the line\n", SER2NET_PATH);
    return 1;
  }
  std::printf(
      "\nthe same scan through ser2net on 127.0.0.1; NetworkAllowance %u ms at most on\n"
      "each read time-out, as the round trip and the answers call for\n",
      session.Settings().NetworkAllowance);
  std::printf("%-22s %8s %8s %6s %12s\n", "line", "seconds", "ratio", "found", "allowance ms");
  const int expected = static_cast<int>(devices.size());
  bool allFound = true;
  const testing::DelayingRelay relay0(server.tcpPort(), 0);
  const testing::DelayingRelay relay5(server.tcpPort(), 5);
  const testing::DelayingRelay relay30(server.tcpPort(), 30);
  const testing::DelayingRelay telnetRelay0(server.rfc2217Port(), 0);
  const testing::DelayingRelay telnetRelay5(server.rfc2217Port(), 5);
  const testing::DelayingRelay telnetRelay30(server.rfc2217Port(), 30);
  struct RemoteRow {
    const char* name;
    std::string url;
    bool ceilingKept = false;
  };
  for (const RemoteRow& row :
       {RemoteRow{"RFC 2217, ceiling kept", server.rfc2217Url(), true},
        RemoteRow{"RFC 2217", server.rfc2217Url()}, RemoteRow{"raw TCP", server.tcpUrl()},
        RemoteRow{"raw TCP relay 0 ms", relay0.tcpUrl()},
        RemoteRow{"raw TCP relay 5 ms", relay5.tcpUrl()},
        RemoteRow{"raw TCP relay 30 ms", relay30.tcpUrl()},
        RemoteRow{"RFC 2217 relay 0 ms", telnetRelay0.rfc2217Url()},
        RemoteRow{"RFC 2217 relay 5 ms", telnetRelay5.rfc2217Url()},
        RemoteRow{"RFC 2217 relay 30 ms", telnetRelay30.rfc2217Url()}}) {
    TRSSession remote(Platform::system());
    remote.SetPortPath(row.url);
    if (row.ceilingKept) {
      remote.WrapPort([](std::unique_ptr<SerialPort> port) -> std::unique_ptr<SerialPort> {
        return std::make_unique<CeilingKept>(std::move(port));
      });
    }
    QuietView remoteView;
    const double remoteS = scanSeconds(remote, remoteView);
    std::printf("%-22s %8.3f %8.3f %6d %12u\n", row.name, remoteS, remoteS / measuredS,
                remoteView.devices, remote.NetworkAllowanceMs());
    allFound = allFound && remoteView.devices == expected;
  }

  std::printf("\nthe whole survey through the relay, against the survey over the local line\n");
  std::printf("%-12s %8s %8s %8s %6s\n", "line", "seconds", "ratio", "devices", "loops");
  for (const auto& [delayMs, relay] :
       {std::pair{0, &relay0}, std::pair{5, &relay5}, std::pair{30, &relay30}}) {
    TRSSession remote(Platform::system());
    remote.SetPortPath(relay->tcpUrl());
    SurveyTimes remoteTimes;
    const SurveyRun run = runSurvey(remote, store, remoteTimes);
    std::printf("relay %2d ms %8.3f %8.3f %8zu %6zu\n", delayMs, run.seconds, run.seconds / surveyS,
                run.devices.size(), loopCount(run.devices));
    allFound = allFound && static_cast<int>(run.devices.size()) == expected;
  }
  return view.devices == expected && allFound && static_cast<int>(surveyed.size()) == expected ? 0
                                                                                               : 1;
}

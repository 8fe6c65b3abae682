#include "watch/watch.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "loops/coeffs.h"
#include "record/survey.h"
#include "session/bus_runner.h"
#include "session/session.h"
#include "traffic/trace_pump.h"
#include "transport/bus_trace.h"
#include "watch/loop_watch.h"

namespace loopmon {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr size_t TraceRingRecords = 512;

double secondsSince(SteadyClock::time_point since) {
  return std::chrono::round<std::chrono::milliseconds>(SteadyClock::now() - since).count() / 1000.0;
}

// The survey's progress is of no interest to a watch; a line controller's
// messages are in its loops' readings.
class QuietObserver : public SurveyObserver {
 public:
  void Probing(int, int, uint8_t) override {}
  void Reading(int, int, const DeviceRecord&) override {}
  void Message(uint8_t, int, const std::string&) override {}
};

struct DeviceWatch {
  bool present = true;
  SteadyClock::time_point goneSince;
  std::map<int, LoopWatch> loops;
};

}  // namespace

class Watch::Line {
 public:
  Line(const WatchSettings& settings, std::unique_ptr<TRSSession> session, std::string port,
       EventLog& log, WatchState& state, const std::atomic<bool>& stopping)
      : settings_(settings),
        session_(std::move(session)),
        bus_(*session_),
        port_(std::move(port)),
        log_(log),
        state_(state),
        stopping_(stopping) {
    // The pump takes the records every 200 ms and a line makes an attempt in
    // a few milliseconds at the least: a ring of TraceRingRecords holds
    // seconds of them, where the default ring would cost each of many lines
    // over a megabyte.
    pump_ = std::make_unique<TracePump>(session_->Trace().start(TraceRingRecords),
                                        std::chrono::milliseconds(200),
                                        [this](const std::vector<TraceRecord>& batch, uint64_t) {
                                          for (const TraceRecord& record : batch)
                                            state_.addTraffic(port_, record);
                                        });
    state_.setLine(port_, false);
    thread_ = std::thread([this] { run(); });
  }
  ~Line() {
    if (thread_.joinable()) thread_.join();
  }

  // Joins the thread and ends the pump, so the line's traffic is all counted.
  void join() {
    if (thread_.joinable()) thread_.join();
    pump_.reset();
  }
  bool done() const { return done_; }
  int passes() const { return passes_; }
  const std::string& port() const { return port_; }

 private:
  void run() {
    while (!stopping_) {
      if (!up_ && !reopen()) {
        waitUntil(SteadyClock::now() + std::chrono::seconds(1));
        continue;
      }
      const auto began = SteadyClock::now();
      try {
        pass();
      } catch (const std::exception& error) {
        lost(error.what());
        waitUntil(SteadyClock::now() + std::chrono::seconds(1));
        continue;
      }
      back();
      if (searched_) ++passes_;
      if (settings_.passes > 0 && passes_ >= settings_.passes) break;
      waitUntil(began + settings_.period);
    }
    done_ = true;
  }

  void waitUntil(SteadyClock::time_point until) {
    while (!stopping_ && SteadyClock::now() < until) {
      std::this_thread::sleep_for(std::min<SteadyClock::duration>(until - SteadyClock::now(),
                                                                  std::chrono::milliseconds(50)));
    }
  }

  Json event(const char* name) const { return {{"event", name}, {"line", port_}}; }

  bool reopen() {
    if (!session_->SimulatorMode() && !session_->OpenPort()) {
      if (!lostSince_) {
        lostSince_ = SteadyClock::now();
        Json lostEvent = event("line lost");
        lostEvent["reason"] = session_->DescribeOpenFailure();
        log_.write(std::move(lostEvent));
      }
      return false;
    }
    up_ = true;
    state_.setLine(port_, true);
    return true;
  }

  // A line is back once a pass over it has ended: a port that opens is not
  // yet a bus that answers (a simulator always opens), and a line that
  // fails again at once must not fill the log with losses and returns.
  void back() {
    if (!lostSince_) return;
    Json backEvent = event("line back");
    backEvent["gap_s"] = secondsSince(*lostSince_);
    log_.write(std::move(backEvent));
    lostSince_.reset();
  }

  void lost(const std::string& reason) {
    up_ = false;
    state_.setLine(port_, false);
    session_->ClosePort();
    // Still the loss already told.
    if (lostSince_) return;
    lostSince_ = SteadyClock::now();
    Json lostEvent = event("line lost");
    lostEvent["reason"] = reason;
    log_.write(std::move(lostEvent));
  }

  // The devices that answered of those asked; no value when the watch is
  // stopping and the survey did not end.
  std::optional<std::vector<DeviceRecord>> survey(std::vector<uint8_t> addresses, bool search) {
    Survey run(bus_, store_, observer_, {std::move(addresses), search});
    for (bool more = true; more && !stopping_;) run.Step([&more](bool next) { more = next; });
    if (const std::string failure = session_->PortFailure(); !failure.empty()) {
      throw std::runtime_error(failure);
    }
    if (!run.Finished() || run.Stopped()) return std::nullopt;
    return run.Devices();
  }

  void pass() {
    if (!searched_) {
      const auto found = survey(settings_.addresses, true);
      if (!found) return;
      searched_ = true;
      take(*found, {});
      return;
    }
    if (const auto read = survey(known_, false)) take(*read, known_);
    // A newcomer is looked for one address a pass, so the slow search never
    // holds up the reading of the loops for long.
    for (size_t tried = 0; tried < settings_.addresses.size() && !stopping_; ++tried) {
      const uint8_t address = settings_.addresses[nextProbe_];
      nextProbe_ = (nextProbe_ + 1) % settings_.addresses.size();
      if (devices_.contains(address)) continue;
      if (const auto found = survey({address}, true)) take(*found, {});
      break;
    }
  }

  // Takes a survey's devices; those of `asked` that are missing are gone.
  void take(const std::vector<DeviceRecord>& devices, const std::vector<uint8_t>& asked) {
    std::set<uint8_t> answered;
    for (const DeviceRecord& device : devices) {
      answered.insert(device.addr);
      auto known = devices_.find(device.addr);
      if (known == devices_.end()) {
        found(device);
        continue;
      }
      DeviceWatch& watch = known->second;
      if (!watch.present) {
        watch.present = true;
        Json back = event("device back");
        back["addr"] = device.addr;
        back["gap_s"] = secondsSince(watch.goneSince);
        log_.write(std::move(back));
        state_.setDevice(port_, device.addr, true);
      }
      for (const LoopRecord& loop : device.loops) update(device.addr, watch.loops[loop.loop], loop);
    }
    for (uint8_t address : asked) {
      DeviceWatch& watch = devices_[address];
      if (answered.contains(address) || !watch.present) continue;
      watch.present = false;
      watch.goneSince = SteadyClock::now();
      Json gone = event("device gone");
      gone["addr"] = address;
      log_.write(std::move(gone));
      state_.setDevice(port_, address, false);
    }
  }

  void found(const DeviceRecord& device) {
    DeviceWatch& watch = devices_[device.addr];
    known_.push_back(device.addr);
    Json conditions = Json::array();
    for (const LoopRecord& loop : device.loops) {
      const LoopWatch& loopWatch =
          watch.loops.insert_or_assign(loop.loop, LoopWatch(loop.condition)).first->second;
      figures(device.addr, loopWatch, loop);
      conditions.push_back(ConditionJson(loop.condition));
    }
    Json foundEvent = event("device found");
    foundEvent["addr"] = device.addr;
    foundEvent["type"] = device.type;
    foundEvent["name"] = device.name;
    foundEvent["version"] = device.version / 100.0;
    foundEvent["conditions"] = std::move(conditions);
    log_.write(std::move(foundEvent));
    state_.setDevice(port_, device.addr, true);
  }

  void update(uint8_t address, LoopWatch& watch, const LoopRecord& loop) {
    std::optional<Json> made = watch.take(loop);
    figures(address, watch, loop);
    if (made) log_.write(LoopEvent(port_, address, loop.loop, std::move(*made)));
  }

  void figures(uint8_t address, const LoopWatch& watch, const LoopRecord& loop) {
    state_.setLoop(port_, address, loop.loop,
                   {loop.kohm, loop.adc, loop.condition, watch.changes(), watch.flapping()});
  }

  const WatchSettings& settings_;
  std::unique_ptr<TRSSession> session_;
  InlineBus bus_;
  std::string port_;
  EventLog& log_;
  WatchState& state_;
  const std::atomic<bool>& stopping_;
  const CoefficientsStore store_;
  QuietObserver observer_;
  std::unique_ptr<TracePump> pump_;

  bool up_ = false;
  std::optional<SteadyClock::time_point> lostSince_;
  bool searched_ = false;
  std::vector<uint8_t> known_;
  std::map<uint8_t, DeviceWatch> devices_;
  size_t nextProbe_ = 0;
  // Passes ended, the search that found the devices among them.
  std::atomic<int> passes_{0};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

Watch::Watch(WatchSettings settings, SessionMaker makeSession, EventLog& log, WatchState& state)
    : settings_(std::move(settings)),
      makeSession_(std::move(makeSession)),
      log_(log),
      state_(state) {}

Watch::~Watch() {
  stopping_ = true;
  lines_.clear();
}

void Watch::start() {
  Json started = {{"event", "started"},
                  {"site", settings_.site},
                  {"ports", settings_.ports},
                  {"addresses", settings_.addresses.size()},
                  {"period_s", settings_.period.count() / 1000.0},
                  {"log", settings_.logFolder},
                  {"metrics", settings_.metrics}};
  log_.write(std::move(started));
  for (const std::string& port : settings_.ports) {
    lines_.push_back(
        std::make_unique<Line>(settings_, makeSession_(port), port, log_, state_, stopping_));
  }
}

bool Watch::finished() const {
  return std::ranges::all_of(lines_, [](const auto& line) { return line->done(); });
}

void Watch::stop(const std::string& reason) {
  if (stopped_) return;
  stopped_ = true;
  stopping_ = true;
  // What each line did, so the log says how much was read and missed.
  Json lines = Json::array();
  for (auto& line : lines_) {
    line->join();
    const DeviceTraffic traffic = state_.lineTraffic(line->port());
    lines.push_back({{"line", line->port()},
                     {"passes", line->passes()},
                     {"requests", traffic.requests},
                     {"retries", traffic.retries},
                     {"silences", traffic.silences},
                     {"damaged", traffic.damaged},
                     {"failed", traffic.failed}});
  }
  log_.write({{"event", "stopped"}, {"reason", reason}, {"lines", std::move(lines)}});
}

}  // namespace loopmon

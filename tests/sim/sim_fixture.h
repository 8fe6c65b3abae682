#pragma once
// What the simulator exchange tests share: a log of sleeps and simulator
// calls in the order they happened, a clock that logs instead of sleeping, a
// link that logs around the real one (or plays scripted replies), and a
// loopsim server of the test's own.

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "loopsim_process.h"
#include "transport/bus_state.h"

namespace loopmon::testing {

class EventLog {
 public:
  void add(const std::string& event) {
    std::lock_guard guard(lock_);
    events_.push_back(event);
  }
  std::vector<std::string> take() {
    std::lock_guard guard(lock_);
    return std::exchange(events_, {});
  }

 private:
  std::mutex lock_;
  std::vector<std::string> events_;
};

class LoggingClock : public Clock {
 public:
  explicit LoggingClock(EventLog& log) : log_(log) {}
  // Runs inside every sleep, after it has been logged.
  std::function<void(uint32_t ms)> onSleep;

  uint32_t tickCountMs() override { return 0; }
  int64_t counter() override { return 0; }
  int64_t counterFrequency() override { return 0; }
  void sleepMs(uint32_t ms) override {
    log_.add("sleep " + std::to_string(ms));
    if (onSleep) onSleep(ms);
  }
  void sleepMicros(uint32_t) override {}
  void yield() override {}
  void beginTimerPeriod() override {}
  void endTimerPeriod() override {}
  double nowDays() override { return 0; }

 private:
  EventLog& log_;
};

// Logs "create", each call as "<method> <text>" and "release" around objects
// of another link, or of scripted replies when there is no other link.
class LoggingLink : public SimulatorLink {
 public:
  LoggingLink(EventLog& log, std::shared_ptr<SimulatorLink> inner)
      : log_(log), inner_(std::move(inner)) {}
  // Replies handed out in order by objects when there is no inner link.
  std::deque<std::string> scriptedReplies;

  std::unique_ptr<SimulatorObject> create(SimulatorSide side) override {
    const std::string method = simulatorMethodName(side);
    log_.add("create " + method);
    std::unique_ptr<SimulatorObject> inner = inner_ ? inner_->create(side) : nullptr;
    return std::make_unique<Object>(*this, method, std::move(inner));
  }

 private:
  class Object : public SimulatorObject {
   public:
    Object(LoggingLink& link, std::string method, std::unique_ptr<SimulatorObject> inner)
        : link_(link), method_(std::move(method)), inner_(std::move(inner)) {}
    ~Object() override { link_.log_.add("release " + method_); }
    std::string call(const std::string& text) override {
      link_.log_.add(method_ + " " + text);
      if (inner_) return inner_->call(text);
      if (link_.scriptedReplies.empty()) return {};
      std::string reply = link_.scriptedReplies.front();
      link_.scriptedReplies.pop_front();
      return reply;
    }

   private:
    LoggingLink& link_;
    std::string method_;
    std::unique_ptr<SimulatorObject> inner_;
  };

  EventLog& log_;
  std::shared_ptr<SimulatorLink> inner_;
};

// A bus in simulator mode whose sleeps and calls go to `log`.
struct SimulatorBus {
  static Platform platformOf(std::shared_ptr<Clock> clock, std::shared_ptr<SimulatorLink> link) {
    Platform platform;
    platform.clock = std::move(clock);
    platform.simulatorLink = std::move(link);
    return platform;
  }

  explicit SimulatorBus(std::shared_ptr<SimulatorLink> inner)
      : clock(std::make_shared<LoggingClock>(log)),
        link(std::make_shared<LoggingLink>(log, std::move(inner))),
        bus(platformOf(clock, link)) {
    bus.Simulator.enabled = true;
  }
  EventLog log;
  std::shared_ptr<LoggingClock> clock;
  std::shared_ptr<LoggingLink> link;
  BusState bus;
};

// `loopsim serve` with the given scenario text, answering on the socket in
// this test's runtime folder.
class SimulatorServer {
 public:
  explicit SimulatorServer(const std::string& scenario, std::vector<std::string> extraArgs = {})
      : scenarioFile_(runtime_.path() + "/scenario.ini") {
    std::ofstream(scenarioFile_) << scenario;
    std::vector<std::string> args{"serve", "--scenario", scenarioFile_};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    process_ = std::make_unique<LoopsimProcess>(LOOPSIM_BINARY, args);
    ready_ = process_->readLine().starts_with("loopsim: serving on ");
  }
  bool ready() const { return ready_; }
  LoopsimProcess& process() { return *process_; }
  const std::string& runtimeFolder() const { return runtime_.path(); }

 private:
  PrivateRuntimeFolder runtime_;
  std::string scenarioFile_;
  std::unique_ptr<LoopsimProcess> process_;
  bool ready_ = false;
};

inline Bytes frameOf(const std::string& text) {
  return frameFromText(text).value();
}

}  // namespace loopmon::testing

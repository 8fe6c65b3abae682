#include "cli/monitor_command.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "cli/cli_args.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "cli/read_summary.h"
#include "common/iso_time.h"
#include "record/json.h"
#include "transport/answer_rule.h"

namespace loopmon::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The owner's thread of loopctl is its main thread: the worker's hand-overs
// queue up here and run one at a time, in order.
class MainThreadOwner : public OwnerDispatcher {
 public:
  MainThreadOwner() : mainThread_(std::this_thread::get_id()) {}

  void invokeSync(const std::function<void()>& call) override {
    if (std::this_thread::get_id() == mainThread_) {
      call();
      return;
    }
    std::mutex doneLock;
    std::condition_variable doneChanged;
    bool done = false;
    post([&] {
      call();
      std::lock_guard lock(doneLock);
      done = true;
      doneChanged.notify_all();
    });
    std::unique_lock lock(doneLock);
    doneChanged.wait(lock, [&] { return done; });
  }

  void post(std::function<void()> call) override {
    {
      std::lock_guard lock(lock_);
      calls_.push_back(std::move(call));
    }
    changed_.notify_all();
  }

  // Runs queued calls until `stop` says so; it is asked at least every 50 ms,
  // since a signal handler cannot wake the queue.
  void runUntil(const std::function<bool()>& stop) {
    while (!stop()) {
      std::function<void()> call;
      {
        std::unique_lock lock(lock_);
        changed_.wait_for(lock, std::chrono::milliseconds(50), [this] { return !calls_.empty(); });
        if (calls_.empty()) continue;
        call = std::move(calls_.front());
        calls_.pop_front();
      }
      call();
    }
  }

 private:
  const std::thread::id mainThread_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> calls_;
};

// One line of output; absent fields print as "-" (or null in JSON).
struct EventLine {
  const char* name = "";
  int addr = 0;
  std::optional<int> loop;
  std::optional<int> reading;
  std::optional<int> cls;
  Bytes frame;  // the device's event frame, for "event" lines
};

std::string field(const std::optional<int>& value, const char* absent) {
  return value ? std::to_string(*value) : absent;
}

void print(const EventLine& line, bool json) {
  const std::string time = IsoUtcTime(std::chrono::system_clock::now());
  const std::string frame = frameHex(line.frame);
  if (json) {
    const auto orNull = [](const std::optional<int>& value) {
      return value ? Json(*value) : Json();
    };
    Json object{{"time", time},
                {"event", line.name},
                {"addr", line.addr},
                {"loop", orNull(line.loop)},
                {"reading", orNull(line.reading)},
                {"class", orNull(line.cls)}};
    if (!frame.empty()) object["frame"] = frame;
    printText(stdout, "%s\n", JsonText(object).c_str());
  } else {
    printText(stdout, "%s\t%s\t%d\t%s\t%s\t%s%s%s\n", time.c_str(), line.name, line.addr,
              field(line.loop, "-").c_str(), field(line.reading, "-").c_str(),
              field(line.cls, "-").c_str(), frame.empty() ? "" : "\t", frame.c_str());
  }
  std::fflush(stdout);
}

void assignHandlers(TRSSession& session, const SubscribedDevices& devices, bool json) {
  session.OnLostDevice = [json](uint8_t addr) { print({"lost", addr, {}, {}, {}, {}}, json); };
  session.OnNewDevice = [json](uint8_t addr) { print({"new", addr, {}, {}, {}, {}}, json); };
  session.OnFalseDevice = [json](uint8_t addr) { print({"false", addr, {}, {}, {}, {}}, json); };
  session.OnNewEvent = [json](Bytes frame) {
    const uint8_t code = frame[FrameOffset::Code];
    std::optional<int> loop;
    if (code == 4) loop = frame[AnswerField::EventLoop];
    if (code == 26) loop = frame[AnswerField::StateLoop];
    print({"event", frame[FrameOffset::Address], loop, {}, {}, frame}, json);
  };
  session.OnNewADC = [json, devices](const Bytes& answer, uint8_t command, uint8_t loop,
                                     int32_t typeEvent, const void* data, int32_t) {
    // Each subscription carries its address as its own data; one-off
    // readings of unsubscribed loops carry the address in their answer.
    const uint8_t addr = data ? *static_cast<const uint8_t*>(data)
                              : (answer.empty() ? 0 : answer[FrameOffset::Address]);
    const auto reading = SubscribedReading(devices, addr, command, loop, answer);
    print({"adc",
           addr,
           loop,
           reading ? std::optional<int>(reading->value) : std::nullopt,
           typeEvent,
           {}},
          json);
  };
  session.OnNewTypeEventADC = [json](uint8_t addr, uint8_t loop, int32_t, int32_t kind) {
    print({"kind", addr, loop, {}, kind, {}}, json);
  };
}

// The subscriptions take each device's type from the session's table, as a
// search would have left it: loops of some types are read differently.
void identify(TRSSession& session, const std::vector<std::pair<uint8_t, uint8_t>>& loops) {
  std::set<uint8_t> asked;
  for (const auto& [addr, loop] : loops) {
    if (!asked.insert(addr).second) continue;
    const Bytes request{addr, 6, 0, BusCommand::Identify, 0, 0};
    if (!session.DirectRequest(request, 1)) continue;
    const Bytes& answer = session.LastAnswer();
    if (!AnswerFitsRequest(request, answer)) continue;
    session.SetDeviceType(addr, answer[AnswerField::DeviceType]);
    session.SetDeviceVersion(addr, answer[AnswerField::DeviceVersion]);
  }
}

}  // namespace

int monitor(const Arguments& args, const SessionOpener& open) {
  if (!args.plain().empty()) throw UsageError("monitor takes no words: " + args.plain().front());
  const std::string port = args.required("--port");
  const std::vector<uint8_t> schedule = parsePollList(args.required("--poll"));
  const auto loops = args.has("--subscribe") ? parseSubscriptions(args.required("--subscribe"))
                                             : std::vector<std::pair<uint8_t, uint8_t>>{};
  const int periodMs = parseNumber(args.value("--adc-period", loops.empty() ? "0" : "1000"), 0,
                                   3'600'000, "--adc-period");
  const int durationS = parseNumber(args.value("--duration", "0"), 0, 31'536'000, "--duration");
  const bool json = args.has("--json");
  if (schedule.size() > 2500) throw UsageError("--poll: at most 2500 entries");

  LoopHistory history;
  auto owner = std::make_shared<MainThreadOwner>();
  std::unique_ptr<TRSSession> session = open(port, owner);
  identify(*session, loops);
  std::vector<uint8_t> subscribed;
  for (const auto& entry : loops) subscribed.push_back(entry.first);
  const SubscribedDevices devices =
      SubscribedDevicesOf(*session, subscribed, args.has("--summary"));
  assignHandlers(*session, devices, json);
  if (args.has("--summary")) FeedSubscriptions(*session, history, devices);
  session->SetPollSchedule(schedule);
  for (const auto& [addr, loop] : loops) session->SubscribeLoop(addr, loop, {addr});
  session->SetAdcPeriod(static_cast<uint32_t>(periodMs));

  const InterruptGuard interrupt;
  const auto deadline =
      durationS > 0 ? std::optional(Clock::now() + std::chrono::seconds(durationS)) : std::nullopt;
  session->SetWork(true);
  owner->runUntil(
      [&] { return InterruptGuard::requested() != 0 || (deadline && Clock::now() >= *deadline); });
  // Destruction stops the worker and calls off a hand-over still queued here.
  session.reset();
  if (args.has("--summary")) PrintSummary(stdout, history, json);
  return InterruptGuard::requested() != 0 ? InterruptGuard::exitStatus() : 0;
}

}  // namespace loopmon::cli

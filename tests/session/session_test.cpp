// The session against the platform fakes: what construction takes and leaves,
// the property edge cases, the request wrappers' attempts and bookkeeping,
// the host operations' limits, the description lines and type names, the
// event classes, the hand-over of messages to the handlers and the worker
// thread's switch-off.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "fake_platform.h"
#include "platform/serial/serial_port_relay.h"
#include "session/device_names.h"
#include "session/session_core.h"
#include "session/worker.h"

namespace loopmon {
namespace {

using testing::FakePlatform;

Bytes presenceAnswer(uint8_t address) {
  Bytes frame{address, 5, 2, 0, 0};
  frame.push_back(FrameChecksum(frame));
  return frame;
}

const Bytes Presence5{5, 6, 0, 1, 0, 0};

// Stays silent `silent` times, then answers presence at 5.
struct Device {
  explicit Device(int silences = 1'000) : silent(silences) {}
  int silent;
  int requests = 0;
  std::optional<Bytes> operator()(const Bytes&) {
    return ++requests > silent ? std::optional(presenceAnswer(5)) : std::nullopt;
  }
};

// The simulator side answering every request with one fixed text, or not there.
struct FixedSimulator : SimulatorLink, SimulatorObject {
  explicit FixedSimulator(std::optional<std::string> text) : reply(std::move(text)) {}
  std::unique_ptr<SimulatorObject> create(SimulatorSide) override {
    if (!reply) throw SimulatorUnavailable("no simulator");
    return std::make_unique<FixedSimulator>(reply);
  }
  std::string call(const std::string&) override { return *reply; }
  std::optional<std::string> reply;
};

TEST(SessionConstruction, TakesMarkersDriverAndLineSettingsAndGivesThemBack) {
  FakePlatform fake;
  fake.driver->setPresent(true);
  const char* const instance = "Enum\\BIOS\\*PNP0501\\0000";
  fake.registry->set(instance, "PortName", RegValue::ofString("COM1"));
  fake.registry->set(instance, "Settings", RegValue::ofBinary({1, 2, 3, 4}));
  {
    TRSSession session(fake.platform());
    for (const char* marker : {"MutexVELTA485", "VELTA_RS485_MUTEX", "VELTA"}) {
      EXPECT_TRUE(fake.markers->exists(marker)) << marker;
    }
    EXPECT_FALSE(session.SimulatorMode());
    EXPECT_EQ(fake.driver->codes(), std::vector<uint32_t>{DriverCode::Bind});
    EXPECT_EQ(fake.driver->calls().at(0).input, (Bytes{1, 0, 0, 0})) << "port 1";
    // The line settings were read: the two values written back when absent.
    EXPECT_EQ(fake.registry->read(LineSettingsKey, "TailInUS"), RegValue::ofDword(400));

    EXPECT_EQ(session.ComPort(), 1);
    EXPECT_FALSE(session.Work());
    for (int addr = 1; addr <= 127; ++addr) {
      EXPECT_EQ(CoreOf(session).DeviceTypes[addr], NoDevice);
      EXPECT_EQ(CoreOf(session).DeviceVersions[addr], 0);
      EXPECT_EQ(CoreOf(session).KeyWord[addr], NoKey);
      EXPECT_EQ(CoreOf(session).PollWeight[addr], 128);
    }
    EXPECT_EQ(CoreOf(session).PollDivisor, 15);
    EXPECT_EQ(CoreOf(session).Settings.DeviceTimeout, 10);
    EXPECT_EQ(CoreOf(session).CounterFrequency, fake.clock->counterFrequency());
    EXPECT_EQ(fake.clock->timerPeriodDepth(), 0) << "raised only while an exchange runs";
    EXPECT_TRUE(fake.line->calls().empty()) << "the port opens with the first exchange";
    ASSERT_TRUE(session.OpenPort());
    EXPECT_EQ(fake.registry->read(instance, "Settings"), RegValue::ofBinary({0, 0, 0, 0}));
  }
  EXPECT_EQ(fake.driver->codes().back(), DriverCode::Release);
  EXPECT_EQ(fake.registry->read(instance, "Settings"), RegValue::ofBinary({1, 2, 3, 4}))
      << "the port's own settings put back";
  EXPECT_FALSE(fake.driver->isOpen());
  for (const char* marker : {"MutexVELTA485", "VELTA_RS485_MUTEX", "VELTA"}) {
    EXPECT_FALSE(fake.markers->exists(marker)) << marker;
  }
}

TEST(SessionConstruction, SecondSessionAndSimulatorMarker) {
  FakePlatform fake;
  fake.driver->setPresent(true);
  fake.markers->holdElsewhere("MutexVELTA485");
  fake.markers->holdElsewhere("SIMUL");
  fake.registry->set(LineSettingsKey, "DeviceTimeout", RegValue::ofDword(20));
  {
    TRSSession session(fake.platform());
    EXPECT_EQ(fake.driver->opens(), 0);
    EXPECT_TRUE(session.SimulatorMode());
    EXPECT_EQ(CoreOf(session).Settings.DeviceTimeout, 20);
    EXPECT_EQ(fake.markers->holders("SIMUL"), 1) << "only looked at, not kept";
  }
  EXPECT_EQ(fake.markers->holders("MutexVELTA485"), 1);
}

TEST(SessionProperties, WorkAndComPortEdgeCases) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  fake.line->setResponder(Device(0));
  for (int round = 0; round < 3; ++round) {
    session.SetWork(false);
    EXPECT_FALSE(session.Work());
    session.SetWork(true);
    session.SetWork(true);
    EXPECT_TRUE(session.Work());
  }
  session.SetWork(false);
  ASSERT_TRUE(session.DirectRequest(Presence5, 1));
  for (const int ignored : {0, 5, 1, -1}) {
    session.SetComPort(ignored);
    EXPECT_EQ(session.ComPort(), 1);
    EXPECT_TRUE(fake.line->isOpen()) << ignored;
  }

  session.SetWork(true);
  session.SetComPort(3);
  EXPECT_EQ(session.ComPort(), 3);
  EXPECT_FALSE(fake.line->isOpen()) << "released";
  EXPECT_TRUE(session.Work()) << "and the worker back on";
  session.SetWork(false);
  fake.line->clearCalls();
  ASSERT_TRUE(session.DirectRequest(Presence5, 1));
  EXPECT_EQ(fake.line->callTexts().front(), "open COM3");
}

// A line a server gives up as it opens: the open fails, with the line's own
// account of why.
class GivenUpLine final : public SerialPortRelay {
 public:
  using SerialPortRelay::SerialPortRelay;
  bool open(const std::string&) override { return false; }
  std::string failure() const override { return "refused"; }
  std::string takeDropped() override { return std::exchange(dropped_, {}); }

 private:
  std::string dropped_ = "the server floods the line";
};

TEST(LineOperations, ALineGivenUpAsItOpensIsRaisedOnceWithItsOwnAccount) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  EXPECT_EQ(session.PortFailure(), "");
  EXPECT_NO_THROW(session.ReportDroppedLine()) << "nothing given up yet";
  session.WrapPort([](std::unique_ptr<SerialPort> port) -> std::unique_ptr<SerialPort> {
    return std::make_unique<GivenUpLine>(std::move(port));
  });
  EXPECT_FALSE(session.OpenPort());
  EXPECT_EQ(session.PortFailure(), "refused") << "the wrapper is the session's port now";
  try {
    session.ReportDroppedLine();
    ADD_FAILURE() << "the loss was not raised";
  } catch (const PortLostError& error) {
    EXPECT_STREQ(error.what(), "the server floods the line");
  }
  EXPECT_NO_THROW(session.ReportDroppedLine()) << "once per loss";
}

TEST(RequestWrappers, AttemptsAndBookkeeping) {
  using Wrapper = bool (TRSSession::*)(const Bytes&, uint8_t);
  const struct {
    Wrapper wrapper;
    int attempts;
    bool bookkeeping;
  } cases[] = {{&TRSSession::DirectRequest, 6, true},
               {&TRSSession::WorkerRequest, 11, true},
               {&TRSSession::ShortRequest, 4, false}};
  for (const auto& [wrapper, attempts, bookkeeping] : cases) {
    FakePlatform fake;
    TRSSession session(fake.platform());
    Device device;
    fake.line->setResponder(std::ref(device));
    EXPECT_FALSE((session.*wrapper)(Presence5, 1));
    EXPECT_EQ(device.requests, attempts);
    EXPECT_EQ(CoreOf(session).AttemptCount, static_cast<uint32_t>(attempts));
    EXPECT_EQ(CoreOf(session).AttemptFailCount, static_cast<uint32_t>(attempts));
    EXPECT_EQ(CoreOf(session).RequestFailCount, bookkeeping ? 1u : 0u);
    EXPECT_EQ(CoreOf(session).MissCount[5], bookkeeping ? 1 : 0);

    Device lastChance(attempts - 1);
    fake.line->setResponder(std::ref(lastChance));
    EXPECT_TRUE((session.*wrapper)(Presence5, 1));
    EXPECT_EQ(lastChance.requests, attempts);
  }
}

TEST(RequestWrappers, DirectRequestSucceedsOnTheThirdAttempt) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  Device device(2);
  std::vector<bool> workDuringRequest;
  fake.line->setResponder([&](const Bytes& request) {
    workDuringRequest.push_back(session.Work());
    return device(request);
  });
  CoreOf(session).MissCount[5] = 9;
  CoreOf(session).LostSet.set(5);
  std::vector<uint8_t> returned;
  session.OnNewDevice = [&](uint8_t addr) { returned.push_back(addr); };
  session.SetWork(true);

  ASSERT_TRUE(session.DirectRequest(Presence5, 1));
  EXPECT_EQ(device.requests, 3);
  EXPECT_EQ(session.LastAnswer(), presenceAnswer(5));
  EXPECT_EQ(CoreOf(session).AttemptFailCount, 2u);
  EXPECT_EQ(CoreOf(session).MissCount[5], 0);
  EXPECT_GT(CoreOf(session).LastAnswerTime[5], 0.0);
  EXPECT_FALSE(CoreOf(session).LostSet.test(5));
  EXPECT_EQ(returned, std::vector<uint8_t>{5});
  EXPECT_EQ(workDuringRequest, std::vector<bool>(3, false)) << "the worker off meanwhile";
  EXPECT_TRUE(session.Work()) << "and back on after";
}

TEST(RequestWrappers, DirectRequestLastAnswerRuleAndUnreachableSimulator) {
  FakePlatform fake;
  fake.markers->holdElsewhere("SIMUL");
  Bytes shortAnswer{5, 3, 0};
  shortAnswer.push_back(FrameChecksum(shortAnswer));
  fake.simulatorLink = std::make_shared<FixedSimulator>(frameToText(shortAnswer));
  {
    TRSSession session(fake.platform());
    CoreOf(session).LastAnswer = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(session.DirectRequest(Presence5, 1)) << "an answer shorter than 6 bytes";
    EXPECT_EQ(CoreOf(session).Answer, shortAnswer);
    EXPECT_TRUE(session.LastAnswer().empty());
    EXPECT_EQ(CoreOf(session).AttemptCount, 1u);
  }
  fake.simulatorLink = std::make_shared<FixedSimulator>(std::nullopt);
  TRSSession session(fake.platform());
  session.SetWork(true);
  EXPECT_THROW(session.DirectRequest(Presence5, 1), SimulatorUnavailable);
  EXPECT_TRUE(session.Work()) << "the worker comes back all the same";
}

TEST(HostOperations, ScheduleAndRingLimits) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  EXPECT_TRUE(session.SetPollSchedule(std::vector<uint8_t>(2500, 127)));
  EXPECT_EQ(CoreOf(session).PollCount, 2500);
  EXPECT_FALSE(session.SetPollSchedule(std::vector<uint8_t>(2501, 5)));
  EXPECT_FALSE(session.SetPollSchedule({5, 128}));
  EXPECT_EQ(CoreOf(session).PollCount, 2500) << "a refused schedule changes nothing";

  // One slot stays free: a full ring would read as empty.
  for (int i = 0; i < 255; ++i) ASSERT_TRUE(session.QueueRequest(Bytes(65, 5))) << i;
  EXPECT_FALSE(session.QueueRequest({5, 6, 0, 1, 0, 0}));
  EXPECT_EQ(CoreOf(session).CommandRing[1], Bytes(64, 5));
}

TEST(DeviceTable, AddressesOutsideTheBusAreFilteredLinesDescribedAndTypesNamed) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  const auto before = CoreOf(session).DeviceTypes;
  for (const int outside : {0, 128, 255}) session.SetDeviceType(outside, 5);
  EXPECT_EQ(CoreOf(session).DeviceTypes, before);
  EXPECT_EQ(session.GetDeviceType(200), 0);
  session.SetDeviceType(5, 1);
  CoreOf(session).DeviceVersions[5] = 105;
  session.SetDeviceType(127, 9);
  CoreOf(session).DeviceVersions[127] = 255;

  const std::tuple<uint8_t, char, std::string> lines[] = {
      {5, '.', "Адрес:   5  Mivra-Q (версия  1.05)"},
      {5, ',', "Адрес:   5  Mivra-Q (версия  1,05)"},
      {7, '.', "Адрес:   7  Неизвестный тип (128) (версия  0.00)"},
      {7, ',', "Адрес:   7  Неизвестный тип (128) (версия  0,00)"},
      {127, '.', "Адрес: 127  Hovra-Y (версия  2.55)"},
      {127, ',', "Адрес: 127  Hovra-Y (версия  2,55)"},
  };
  for (const auto& [address, separator, line] : lines) {
    EXPECT_EQ(session.DescribeDevice(address, separator), line);
  }
  session.SetDeviceType(1, 2);
  EXPECT_EQ(session.GetDeviceType(1), 2);
  EXPECT_EQ(session.GetDeviceType(128), 0);

  const std::map<int, std::string> names{
      {0, "Hovra"},    {1, "Mivra-Q"},   {2, "Mivra-QX"}, {3, "Hovra-F"},  {4, "Hovra-J"},
      {5, "Fyzo"},     {6, "Mivra-Z"},   {7, "Hovra-M"},  {8, "Hovra-W"},  {9, "Hovra-Y"},
      {10, "Hovra-Z"}, {11, "Mivra-QW"}, {12, "Hovra-X"}, {13, "Hovra-Q"}, {16, "Hovra-H"}};
  for (int code = 0; code <= 255; ++code) {
    const auto named = names.find(code);
    EXPECT_EQ(
        DeviceTypeName(static_cast<uint8_t>(code)),
        named != names.end() ? named->second : "Неизвестный тип (" + std::to_string(code) + ")");
  }
}

// Every event code in both kinds of event frame, from a poll and from a kind
// determination: the class of the reading it asks for, or none.
TEST(EventDecoding, EveryEventCodeHasItsClass) {
  struct Classes {
    std::vector<uint8_t> events;
    int32_t code4FromPoll, code26FromPoll, code4Determined, code26Determined;
  };
  const Classes table[] = {
      {{3, 36, 37, 44, 58, 149, 214, 216}, -1, -7, -1, -7},
      {{17}, -5, -5, -11, -11},
      {{24, 35}, -4, -4, -10, -10},
      {{109}, -6, -6, -12, -12},
      {{117}, -8, -8, -8, -8},
      {{119}, -9, -9, -9, -9},
  };
  for (int event = 0; event <= 255; ++event) {
    const Classes* row = nullptr;
    for (const Classes& classes : table) {
      if (std::ranges::count(classes.events, event)) row = &classes;
    }
    const auto expected = [&](int32_t Classes::*column) {
      return row ? std::optional(row->*column) : std::nullopt;
    };
    const auto code = static_cast<uint8_t>(event);
    EXPECT_EQ(EventClass(code, 4, true), expected(&Classes::code4FromPoll)) << event;
    EXPECT_EQ(EventClass(code, 26, true), expected(&Classes::code26FromPoll)) << event;
    EXPECT_EQ(EventClass(code, 4, false), expected(&Classes::code4Determined)) << event;
    EXPECT_EQ(EventClass(code, 26, false), expected(&Classes::code26Determined)) << event;
  }
}

// Every handler runs in the end-to-end worker tests; these are the messages
// that must reach none.
TEST(MessageHandler, IgnoresWhatIsNotForItAndDropsAHandlersException) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  std::vector<std::string> seen;
  session.OnNewDevice = [&](uint8_t a) { seen.push_back("new " + std::to_string(a)); };
  session.OnNewEvent = [&](Bytes e) { seen.push_back("event " + std::to_string(e.size())); };
  uint8_t addr = 7;
  Bytes shortEvent{7, 4, 4, 3, 1};
  Bytes event{7, 5, 4, 3, 1, 0};
  namespace M = SessionMessage;
  session.SendToOwner(M::Device, 13, &addr);
  session.SendToOwner(M::Device, 17, &addr);
  session.SendToOwner(1036, M::NewDevice, &addr);
  session.SendToOwner(M::Device, M::NewEvent, &shortEvent);
  session.SendToOwner(M::Device, M::LostDevice, &addr);  // no handler assigned
  session.SendToOwner(M::Device, M::NewEvent, &event);
  session.SendToOwner(M::Device, M::NewDevice, &addr);
  EXPECT_EQ(seen, (std::vector<std::string>{"event 6", "new 7"}));

  session.OnNewDevice = [](uint8_t) { throw std::runtime_error("handler failed"); };
  EXPECT_NO_THROW(session.SendToOwner(M::Device, M::NewDevice, &addr));
}

// The worker's switch-off must return only when the worker is off the bus,
// and must never wait for a worker that is itself waiting for a handler.
using namespace std::chrono_literals;

// A cycle that marks the time it spends on the bus.
struct BusUse {
  std::atomic<int> onBus{0};
  std::atomic<int> cycles{0};
  void cycle() {
    onBus.fetch_add(1);
    cycles.fetch_add(1);
    std::this_thread::sleep_for(1ms);
    onBus.fetch_sub(1);
  }
  void expectStill() {
    EXPECT_EQ(onBus.load(), 0);
    const int before = cycles.load();
    std::this_thread::sleep_for(3ms);
    EXPECT_EQ(cycles.load(), before) << "no cycle follows";
  }
};

TEST(SessionThread, SwitchOffAndDestructionReturnOnlyOffTheBus) {
  BusUse bus;
  {
    TRSSessionThread worker([&] { bus.cycle(); });
    for (int round = 0; round < 20; ++round) {
      worker.Resume();
      while (bus.cycles.load() <= round * 3) std::this_thread::yield();
      worker.Suspend();
      bus.expectStill();
    }
    const int running = bus.cycles.load() + 3;
    worker.Resume();
    while (bus.cycles.load() < running) std::this_thread::yield();
  }
  bus.expectStill();
}

// A switch-off while the worker is in a hand-over: by the handler on the
// owner's thread (the worker waits for it), by the handler on the worker's own
// thread, or from elsewhere while the handler still runs. None may wait for
// the worker, and the cycle must then end without touching the bus.
TEST(SessionThread, SwitchOffDuringAHandOverDoesNotWait) {
  enum class From { OwnerHandler, WorkerHandler, Elsewhere };
  for (const From from : {From::OwnerHandler, From::WorkerHandler, From::Elsewhere}) {
    std::mutex gate;
    std::unique_lock ownerBusy(gate);
    std::atomic<bool> inHandOver{false};
    std::atomic<bool> wentOn{false};
    std::unique_ptr<TRSSessionThread> worker;
    // The threads reach the session through its own pointer: the owner's
    // reset below writes only `worker`.
    TRSSessionThread* session = nullptr;
    const auto handler = [&] {
      inHandOver = true;
      if (from == From::Elsewhere) {
        std::lock_guard wait(gate);
      } else {
        session->Suspend();
      }
    };
    worker = std::make_unique<TRSSessionThread>([&] {
      const bool goOn = session->HandOver([&] {
        if (from == From::OwnerHandler) {
          std::thread(handler).join();
        } else {
          handler();
        }
      });
      if (goOn) wentOn = true;
    });
    session = worker.get();
    worker->Resume();
    while (!inHandOver.load()) std::this_thread::yield();
    worker->Suspend();
    ownerBusy.unlock();
    worker->Suspend();
    EXPECT_FALSE(worker->Active());
    EXPECT_FALSE(wentOn.load()) << static_cast<int>(from);
    worker.reset();
  }
}

}  // namespace
}  // namespace loopmon

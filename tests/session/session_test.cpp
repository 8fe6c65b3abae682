// The session against the platform fakes: what construction takes and leaves,
// the property edge cases, the request wrappers' attempts and bookkeeping,
// the device table and the hand-over of messages to the handlers.

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "fake_platform.h"
#include "session/rssess.h"

namespace loopmon {
namespace {

using testing::FakePlatform;

Bytes withChecksum(Bytes frame) {
  frame.push_back(FrameChecksum(frame));
  return frame;
}

// A device answering presence at `address`.
Bytes presenceAnswer(uint8_t address) {
  return withChecksum({address, 5, 2, 0, 0});
}

Bytes presenceRequest(uint8_t address) {
  return {address, 6, 0, 1, 0, 0};
}

// A responder that stays silent `silent` times, then answers presence.
struct Device {
  uint8_t address = 5;
  int silent = 1'000;
  int requests = 0;

  std::optional<Bytes> operator()(const Bytes&) {
    ++requests;
    if (requests <= silent) return std::nullopt;
    return presenceAnswer(address);
  }
};

// Counts the hand-overs and runs them at once.
class CountingDispatcher : public OwnerDispatcher {
 public:
  void invokeSync(const std::function<void()>& call) override {
    ++calls;
    call();
  }
  int calls = 0;
};

const char* const InstanceKey = "Enum\\BIOS\\*PNP0501\\0000";

TEST(SessionConstruction, TakesMarkersDriverAndLineSettingsAndStartsIdle) {
  FakePlatform fake;
  fake.driver->setPresent(true);
  {
    TRSSession session(fake.platform());
    EXPECT_TRUE(fake.markers->exists("MutexVELTA485"));
    EXPECT_TRUE(fake.markers->exists("VELTA_RS485_MUTEX"));
    EXPECT_TRUE(fake.markers->exists("VELTA"));
    EXPECT_FALSE(fake.markers->exists("SIMUL"));
    EXPECT_FALSE(session.Simulator.enabled);

    ASSERT_EQ(fake.driver->opens(), 1);
    const auto calls = fake.driver->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].code, DriverCode::Bind);
    EXPECT_EQ(calls[0].input, (Bytes{1, 0, 0, 0}));

    // The line settings were read: the two values written back when absent.
    EXPECT_EQ(fake.registry->read(LineSettingsKey, "TailInUS"), RegValue::ofDword(400));
    EXPECT_EQ(fake.registry->read(LineSettingsKey, "StartTimeout"), RegValue::ofDword(4));

    EXPECT_EQ(session.ComPort, 1);
    EXPECT_FALSE(session.Work());
    EXPECT_EQ(session.SearchPriority(), 0);
    EXPECT_EQ(session.DeviceTypes[0], 0);
    for (int addr = 1; addr <= 127; ++addr) {
      EXPECT_EQ(session.DeviceTypes[addr], NoDevice);
      EXPECT_EQ(session.DeviceVersions[addr], 0);
      EXPECT_EQ(session.KeyWord[addr], NoKey);
      EXPECT_EQ(session.PollWeight[addr], 128);
    }
    EXPECT_EQ(session.PollDivisor, 15);
    EXPECT_EQ(session.Settings.DeviceTimeout, 10);
    EXPECT_EQ(session.AdcPeriod, 0u);
    EXPECT_EQ(session.CounterFrequency, fake.clock->counterFrequency());
    EXPECT_FALSE(session.DriverReady);
    EXPECT_EQ(fake.clock->timerPeriodDepth(), 1);
    EXPECT_TRUE(fake.line->calls().empty());
  }
  EXPECT_EQ(fake.driver->codes(), (std::vector<uint32_t>{DriverCode::Bind, DriverCode::Release}));
  EXPECT_FALSE(fake.driver->isOpen());
  EXPECT_FALSE(fake.markers->exists("MutexVELTA485"));
  EXPECT_FALSE(fake.markers->exists("VELTA_RS485_MUTEX"));
  EXPECT_FALSE(fake.markers->exists("VELTA"));
  EXPECT_EQ(fake.clock->timerPeriodDepth(), 0);
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
    EXPECT_FALSE(session.HasDriver());
    EXPECT_TRUE(session.Simulator.enabled);
    EXPECT_EQ(session.Settings.DeviceTimeout, 20);
    // Only the presence of the simulator's marker counts; the session does
    // not keep it alive.
    EXPECT_EQ(fake.markers->holders("SIMUL"), 1);
  }
  EXPECT_EQ(fake.markers->holders("MutexVELTA485"), 1);
}

TEST(SessionDestruction, PutsBackPortSettingsOnlyWhenItBoundThePort) {
  const RegValue saved = RegValue::ofBinary({1, 2, 3, 4});
  for (const bool bind : {true, false}) {
    FakePlatform fake;
    fake.driver->setPresent(true);
    fake.registry->set(InstanceKey, "PortName", RegValue::ofString("COM1"));
    fake.registry->set(InstanceKey, "Settings", saved);
    {
      TRSSession session(fake.platform());
      if (bind) {
        ASSERT_TRUE(OpenPort(session));
        EXPECT_EQ(fake.registry->read(InstanceKey, "Settings"), RegValue::ofBinary({0, 0, 0, 0}));
      }
    }
    EXPECT_EQ(fake.registry->read(InstanceKey, "Settings"), saved) << "bind " << bind;
    EXPECT_EQ(fake.driver->codes().back(), DriverCode::Release);
  }
}

TEST(SessionProperties, ComPortChangesOnlyToAnotherPortOneToFour) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  Device device;
  device.silent = 0;
  fake.line->setResponder(std::ref(device));
  ASSERT_TRUE(session.DirectRequest(presenceRequest(5), 1));
  ASSERT_TRUE(fake.line->isOpen());

  for (const int ignored : {0, 5, 1, -1}) {
    session.SetComPort(ignored);
    EXPECT_EQ(session.ComPort, 1);
    EXPECT_TRUE(fake.line->isOpen());
  }

  session.SetWork(true);
  session.SetComPort(3);
  EXPECT_EQ(session.ComPort, 3);
  EXPECT_FALSE(fake.line->isOpen());
  EXPECT_TRUE(session.Work());
  session.SetWork(false);

  fake.line->clearCalls();
  ASSERT_TRUE(session.DirectRequest(presenceRequest(5), 1));
  EXPECT_EQ(fake.line->callTexts().front(), "open COM3");

  session.SetSearchPriority(7);
  EXPECT_EQ(session.SearchPriority(), 7);
}

TEST(SessionProperties, WorkSwitchesAndStopsRepeatedly) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  session.SetWork(false);
  EXPECT_FALSE(session.Work());
  for (int round = 0; round < 5; ++round) {
    session.SetWork(true);
    session.SetWork(true);
    EXPECT_TRUE(session.Work());
    session.SetWork(false);
    EXPECT_FALSE(session.Work());
  }
  session.SetWork(true);
}

TEST(DirectRequest, SixAttemptsThenFailureWithEmptyLastAnswer) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  Device device;
  fake.line->setResponder(std::ref(device));
  session.LastAnswer = {1, 2, 3};

  EXPECT_FALSE(session.DirectRequest(presenceRequest(5), 1));
  EXPECT_EQ(device.requests, 6);
  EXPECT_TRUE(session.LastAnswer.empty());
  EXPECT_EQ(session.RequestCount, 1u);
  EXPECT_EQ(session.AttemptCount, 6u);
  EXPECT_EQ(session.AttemptFailCount, 6u);
  EXPECT_EQ(session.RequestFailCount, 1u);
  EXPECT_EQ(session.MissCount[5], 1);
}

TEST(DirectRequest, SuccessOnTheThirdAttemptKeepsTheAnswer) {
  FakePlatform fake;
  auto dispatcher = std::make_shared<CountingDispatcher>();
  TRSSession session(fake.platform(), dispatcher);
  Device device;
  device.silent = 2;
  fake.line->setResponder(std::ref(device));
  session.MissCount[5] = 9;
  session.LostSet.set(5);
  std::vector<uint8_t> returned;
  session.OnNewDevice = [&](uint8_t addr) { returned.push_back(addr); };

  ASSERT_TRUE(session.DirectRequest(presenceRequest(5), 1));
  EXPECT_EQ(device.requests, 3);
  EXPECT_EQ(session.LastAnswer, presenceAnswer(5));
  EXPECT_EQ(session.AttemptCount, 3u);
  EXPECT_EQ(session.AttemptFailCount, 2u);
  EXPECT_EQ(session.RequestFailCount, 0u);
  EXPECT_EQ(session.MissCount[5], 0);
  EXPECT_GT(session.LastAnswerTime[5], 0.0);
  EXPECT_FALSE(session.LostSet.test(5));
  EXPECT_EQ(returned, (std::vector<uint8_t>{5}));
  EXPECT_EQ(dispatcher->calls, 1);

  ASSERT_TRUE(session.DirectRequest(presenceRequest(5), 1));
  EXPECT_EQ(returned.size(), 1u);
}

TEST(DirectRequest, SwitchesTheWorkerOffMeanwhileAndPutsItBack) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  std::vector<bool> workDuringRequest;
  fake.line->setResponder([&](const Bytes&) -> std::optional<Bytes> {
    workDuringRequest.push_back(session.Work());
    return presenceAnswer(5);
  });
  session.SetWork(true);
  ASSERT_TRUE(session.DirectRequest(presenceRequest(5), 1));
  EXPECT_EQ(workDuringRequest, (std::vector<bool>{false}));
  EXPECT_TRUE(session.Work());
}

// The simulator side answering every request with one fixed text.
class FixedSimulator : public SimulatorLink, public SimulatorObject {
 public:
  explicit FixedSimulator(std::string reply, bool available = true)
      : reply_(std::move(reply)), available_(available) {}
  std::unique_ptr<SimulatorObject> create(SimulatorSide) override {
    if (!available_) throw SimulatorUnavailable("no simulator");
    return std::make_unique<Forward>(*this);
  }
  std::string call(const std::string&) override {
    ++calls;
    return reply_;
  }
  std::atomic<int> calls{0};

 private:
  struct Forward : SimulatorObject {
    explicit Forward(FixedSimulator& to) : target(to) {}
    std::string call(const std::string& text) override { return target.call(text); }
    FixedSimulator& target;
  };
  std::string reply_;
  bool available_;
};

TEST(DirectRequest, AnswerShorterThanSixBytesIsAFailure) {
  FakePlatform fake;
  const Bytes shortAnswer = withChecksum({5, 3, 0});
  auto simulator = std::make_shared<FixedSimulator>(frameToText(shortAnswer));
  fake.simulatorLink = simulator;
  fake.markers->holdElsewhere("SIMUL");
  TRSSession session(fake.platform());
  session.LastAnswer = {1, 2, 3, 4, 5, 6};

  EXPECT_FALSE(session.DirectRequest(presenceRequest(5), 1));
  EXPECT_EQ(session.Answer, shortAnswer);
  EXPECT_TRUE(session.LastAnswer.empty());
  EXPECT_EQ(session.AttemptCount, 1u);
  EXPECT_TRUE(fake.line->calls().empty());
}

TEST(DirectRequest, WorkComesBackWhenTheSimulatorCannotBeReached) {
  FakePlatform fake;
  fake.simulatorLink = std::make_shared<FixedSimulator>("", false);
  fake.markers->holdElsewhere("SIMUL");
  TRSSession session(fake.platform());
  session.SetWork(true);
  EXPECT_THROW(session.DirectRequest(presenceRequest(5), 1), SimulatorUnavailable);
  EXPECT_TRUE(session.Work());
}

TEST(WorkerRequests, AttemptsAndBookkeeping) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  Device device;
  fake.line->setResponder(std::ref(device));
  session.LastAnswer = {9};

  EXPECT_FALSE(session.WorkerRequest(presenceRequest(5), 1));
  EXPECT_EQ(device.requests, 11);
  EXPECT_EQ(session.MissCount[5], 1);

  device.requests = 0;
  EXPECT_FALSE(session.ShortRequest(presenceRequest(5), 1));
  EXPECT_EQ(device.requests, 4);
  EXPECT_EQ(session.MissCount[5], 1);
  EXPECT_EQ(session.RequestFailCount, 1u);
  EXPECT_EQ(session.RequestCount, 2u);
  EXPECT_EQ(session.AttemptFailCount, 15u);
  EXPECT_EQ(session.LastAnswer, (Bytes{9}));
}

TEST(DeviceTable, AddressesOutsideTheBusAreFiltered) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  const auto before = session.DeviceTypes;
  session.SetDeviceType(0, 5);
  session.SetDeviceType(128, 5);
  session.SetDeviceType(255, 5);
  EXPECT_EQ(session.DeviceTypes, before);
  EXPECT_EQ(session.GetDeviceType(0), 0);
  EXPECT_EQ(session.GetDeviceType(200), 0);
  session.SetDeviceType(127, 9);
  EXPECT_EQ(session.GetDeviceType(127), 9);
}

TEST(DeviceTable, TypeNames) {
  EXPECT_EQ(DeviceTypeName(0), "Hovra");
  EXPECT_EQ(DeviceTypeName(2), "Mivra-QX");
  EXPECT_EQ(DeviceTypeName(11), "Mivra-QW");
  EXPECT_EQ(DeviceTypeName(13), "Hovra-Q");
  EXPECT_EQ(DeviceTypeName(16), "Hovra-H");
  EXPECT_EQ(DeviceTypeName(14), "Неизвестный тип (14)");
  EXPECT_EQ(DeviceTypeName(15), "Неизвестный тип (15)");
  EXPECT_EQ(DeviceTypeName(128), "Неизвестный тип (128)");
  EXPECT_EQ(DeviceTypeName(255), "Неизвестный тип (255)");
}

TEST(DeviceTable, DescriptionLines) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  session.SetDeviceType(5, 1);
  session.DeviceVersions[5] = 105;
  session.SetDeviceType(127, 9);
  session.DeviceVersions[127] = 255;

  EXPECT_EQ(session.DescribeDevice(5, '.'), "Адрес:   5  Mivra-Q (версия  1.05)");
  EXPECT_EQ(session.DescribeDevice(5, ','), "Адрес:   5  Mivra-Q (версия  1,05)");
  EXPECT_EQ(session.DescribeDevice(7, '.'), "Адрес:   7  Неизвестный тип (128) (версия  0.00)");
  EXPECT_EQ(session.DescribeDevice(7, ','), "Адрес:   7  Неизвестный тип (128) (версия  0,00)");
  EXPECT_EQ(session.DescribeDevice(127, '.'), "Адрес: 127  Hovra-Y (версия  2.55)");
  EXPECT_EQ(session.DescribeDevice(127, ','), "Адрес: 127  Hovra-Y (версия  2,55)");
}

TEST(MessageHandler, DispatchesByMessageAndCode) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  std::vector<std::string> seen;
  session.OnLostDevice = [&](uint8_t a) { seen.push_back("lost " + std::to_string(a)); };
  session.OnNewDevice = [&](uint8_t a) { seen.push_back("new " + std::to_string(a)); };
  session.OnFalseDevice = [&](uint8_t a) { seen.push_back("false " + std::to_string(a)); };
  session.OnNewEvent = [&](Bytes e) { seen.push_back("event " + std::to_string(e.size())); };
  session.OnNewTypeEventADC = [&](uint8_t d, uint8_t l, int32_t t, int32_t k) {
    seen.push_back("type " + std::to_string(d) + "," + std::to_string(l) + "," + std::to_string(t) +
                   "," + std::to_string(k));
  };
  session.OnNewADC = [&](const Bytes&, uint8_t n, uint8_t l, int32_t t, const void*, int32_t) {
    seen.push_back("adc " + std::to_string(n) + "," + std::to_string(l) + "," + std::to_string(t));
  };
  session.OnAsynchAnswer = [&](uint32_t post, TMessage answer) {
    seen.push_back("async " + std::to_string(post) + "," + std::to_string(answer.Msg));
  };

  uint8_t addr = 7;
  Bytes shortEvent{7, 4, 4, 3, 1};
  Bytes event{7, 5, 4, 3, 1, 0};
  TAdcReport adc{event, 1, 2, -1, nullptr, 0};
  TTypeReport type{7, 2, 9, 1};
  AsyncCommand command{42, {1000, 0, nullptr, 0}};
  session.SendToOwner(SessionMessage::Device, SessionMessage::LostDevice, &addr);
  session.SendToOwner(SessionMessage::Device, SessionMessage::NewDevice, &addr);
  session.SendToOwner(SessionMessage::Device, SessionMessage::FalseDevice, &addr);
  session.SendToOwner(SessionMessage::Device, 13, &addr);
  session.SendToOwner(SessionMessage::Device, 17, &addr);
  session.SendToOwner(SessionMessage::Device, SessionMessage::NewEvent, &shortEvent);
  session.SendToOwner(SessionMessage::Device, SessionMessage::NewEvent, &event);
  session.SendToOwner(SessionMessage::Device, SessionMessage::NewAdc, &adc);
  session.SendToOwner(SessionMessage::Device, SessionMessage::NewTypeEventAdc, &type);
  session.SendToOwner(SessionMessage::AsyncAnswer, 0, &command);
  session.SendToOwner(1036, SessionMessage::NewDevice, &addr);

  EXPECT_EQ(seen, (std::vector<std::string>{"lost 7", "new 7", "false 7", "event 6", "adc 1,2,-1",
                                            "type 7,2,9,1", "async 42,1000"}));
}

TEST(MessageHandler, DropsAHandlersException) {
  FakePlatform fake;
  TRSSession session(fake.platform());
  session.OnNewDevice = [](uint8_t) { throw std::runtime_error("handler failed"); };
  uint8_t addr = 7;
  EXPECT_NO_THROW(session.SendToOwner(SessionMessage::Device, SessionMessage::NewDevice, &addr));
}

}  // namespace
}  // namespace loopmon

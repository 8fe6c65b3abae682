// loopsim from both ends: the simulator exchanges against a real `loopsim
// serve` (and against replies that no good server gives), and `loopsim pty`
// byte by byte and through the transaction engine on the real POSIX serial
// port. The simulator side's sleeps and calls are recorded in order, so the
// pause before a call and the object's lifetime show.

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <future>
#include <thread>

#include "fake_clock.h"
#include "loopsim_process.h"
#include "memory_registry.h"
#include "platform/simulator/simulator_socket_posix.h"
#include "transport/bus_state.h"

using namespace loopmon;
using namespace loopmon::testing;
using Log = std::vector<std::string>;
using Steady = std::chrono::steady_clock;

namespace {

const Bytes Presence5{5, 6, 0, 1, 0, 0};
constexpr auto CharacterTime = std::chrono::microseconds(1041);
constexpr auto LineLatency = std::chrono::microseconds(30000);

// On the line the devices take their time to answer: the engine empties its
// receive buffer right after the send, and a test process held up there by a
// busy machine must not throw away an answer that came too soon.
const char* const Scenario = R"(
[bus]
drift = no
latency-us = 30000
[device 5]
type = 1
version = 105
loop.2 = 0
loop.3 = 160, disarmed
[device 20]
type = 4
event = 4 3 2
[device 24]
type = 24
[device 30]
silent = yes
[device 63]
type = 11
version = 105
[device 127]
type = 9
line.1 = 5
)";

Bytes withChecksum(Bytes frame) {
  frame.push_back(FrameChecksum(frame));
  return frame;
}

// Records sleeps and simulator calls in the order they happened, around the
// objects of a real link, or with scripted replies when there is none.
struct Recorder : FakeClock, SimulatorLink {
  explicit Recorder(std::shared_ptr<SimulatorLink> link) : inner(std::move(link)) {}
  void add(const std::string& event) {
    std::lock_guard guard(lock);
    events.push_back(event);
  }
  Log take() {
    std::lock_guard guard(lock);
    return std::exchange(events, {});
  }
  void sleepMs(uint32_t ms) override {
    add("sleep " + std::to_string(ms));
    if (onSleep) onSleep(ms);
  }
  struct Object : SimulatorObject {
    Object(Recorder& recorder, std::string name, std::unique_ptr<SimulatorObject> object)
        : to(recorder), method(std::move(name)), inner(std::move(object)) {}
    ~Object() override { to.add("release " + method); }
    std::string call(const std::string& text) override {
      to.add(method + " " + text);
      if (inner) return inner->call(text);
      return to.scripted.empty() ? "" : std::exchange(to.scripted.front(), {});
    }
    Recorder& to;
    std::string method;
    std::unique_ptr<SimulatorObject> inner;
  };
  std::unique_ptr<SimulatorObject> create(SimulatorSide side) override {
    const std::string method = simulatorMethodName(side);
    add("create " + method);
    return std::make_unique<Object>(*this, method, inner ? inner->create(side) : nullptr);
  }

  std::mutex lock;
  Log events;
  std::shared_ptr<SimulatorLink> inner;
  std::deque<std::string> scripted;
  std::function<void(uint32_t ms)> onSleep;
};

// A bus in simulator mode whose sleeps and calls are recorded.
struct SimulatorBus {
  explicit SimulatorBus(std::shared_ptr<SimulatorLink> inner)
      : log(std::make_shared<Recorder>(inner)), bus([this] {
          Platform platform;
          platform.clock = log;
          platform.simulatorLink = log;
          return platform;
        }()) {
    bus.Simulator.enabled = true;
  }
  std::shared_ptr<Recorder> log;
  BusState bus;
};

// loopsim on the scenario, in a runtime folder of the test's own.
struct Loopsim {
  explicit Loopsim(const std::string& mode) {
    std::ofstream(runtime.path() + "/bus.ini") << Scenario;
    process = std::make_unique<LoopsimProcess>(
        LOOPSIM_BINARY, std::vector<std::string>{mode, "--scenario", runtime.path() + "/bus.ini"});
    started = process->readLine();
  }
  bool serving() const { return started.starts_with("loopsim: serving on "); }
  // Where `loopsim pty` plays the line; "" when it did not come up.
  std::string device() const {
    return started.starts_with("loopsim: line on ") ? started.substr(17) : "";
  }
  PrivateRuntimeFolder runtime;
  std::unique_ptr<LoopsimProcess> process;
  std::string started;
};

int connectTo(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
  std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  const timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  return fd;
}

}  // namespace

TEST(SimulatorReplies, WhatTheDirectSideAccepts) {
  std::string overlong = "5 5 2 0 0 28";
  for (int i = 0; i < 300; ++i) overlong += " 0";
  const std::pair<std::string, Bytes> cases[] = {
      {"5 5 2 0 0 28", {5, 5, 2, 0, 0, 28}},
      {"133 5 2 0 0 215", {5, 5, 2, 0, 0, 215}},    // bit 7 of the address dropped
      {"5 3 2 220", {5, 3, 2, 220}},                // no 6..31 bound here
      {"5 5 2 0 0 28 1 2 3", {5, 5, 2, 0, 0, 28}},  // numbers past the Length ignored
      {"", {}},
      {"5 5 2 0 0 27", {}},   // wrong checksum
      {"0 5 2 0 0 206", {}},  // address 0
      {"5 6 2 0 0 28", {}},   // fewer numbers than Length + 1
      {"5 5 2 0 0 256", {}},
      {"5 5 2 0 0 x", {}},
      {"5  5 2 0 0 28", {}},
      {"5 5 2 0 0 28 ", {}},
      {overlong, {}},
  };
  for (const auto& [reply, answer] : cases) {
    SimulatorBus sim(nullptr);
    sim.bus.Answer = {9, 9, 9};
    sim.log->scripted = {reply};
    EXPECT_EQ(SimTransactDirect(sim.bus, Presence5, 1), !answer.empty()) << '"' << reply << '"';
    EXPECT_EQ(sim.bus.Answer, answer) << '"' << reply << '"';
    EXPECT_EQ(sim.bus.AnswerFrame.toBytes(), answer) << '"' << reply << '"';
  }
}

TEST(SimulatorExchanges, DirectSideAgainstTheServer) {
  Loopsim server("serve");
  ASSERT_TRUE(server.serving());
  SimulatorBus sim(makeSimulatorLink());

  ASSERT_TRUE(SimTransactDirect(sim.bus, Presence5, 1));
  EXPECT_EQ(sim.bus.Answer, (Bytes{5, 5, 2, 0, 0, 28}));
  EXPECT_EQ(sim.log->take(), (Log{"create Transceiving", "sleep 30", "Transceiving 5 6 0 1 0 0 220",
                                  "release Transceiving"}))
      << "a new object per exchange, the pause before the call";
  ASSERT_TRUE(SimTransactDirect(sim.bus, {63, 6, 0, 13, 0, 0}, 1)) << "through entry 0xF9";
  EXPECT_EQ(sim.bus.Answer[3], 11);
  sim.log->take();

  // An event answer is acknowledged through the same object; the device then
  // has nothing more to report.
  ASSERT_TRUE(SimTransactDirect(sim.bus, {20, 6, 0, 1, 0, 1}, 1));
  EXPECT_EQ(sim.bus.Answer[2], 4);
  EXPECT_EQ(sim.log->take(),
            (Log{"create Transceiving", "sleep 30", "Transceiving 20 6 0 1 0 1 238", "sleep 2",
                 "Transceiving 20 6 0 3 0 1 161", "release Transceiving"}));
  ASSERT_TRUE(SimTransactDirect(sim.bus, {20, 6, 0, 1, 0, 1}, 1));
  EXPECT_EQ(sim.bus.Answer[2], 2);

  // Mode 0: the request still goes out, the answer fields stay as they were.
  sim.log->take();
  EXPECT_TRUE(SimTransactDirect(sim.bus, Presence5, 0));
  EXPECT_EQ(sim.bus.Answer[2], 2);
  EXPECT_EQ(sim.bus.AnswerFrame.count, 0);
  EXPECT_EQ(sim.log->take()[2], "Transceiving 5 6 0 1 0 0 220");

  EXPECT_FALSE(SimTransactDirect(sim.bus, {30, 6, 0, 1, 0, 0}, 1)) << "a silent device";
  EXPECT_TRUE(sim.bus.Answer.empty());
  sim.log->take();
  EXPECT_FALSE(SimTransactDirect(sim.bus, {5, 6, 0, 1}, 1));
  EXPECT_EQ(sim.log->take(), (Log{"create Transceiving", "release Transceiving"}))
      << "a short request makes no call, the object is released all the same";
}

TEST(SimulatorExchanges, WorkerSideAgainstTheServer) {
  Loopsim server("serve");
  ASSERT_TRUE(server.serving());
  SimulatorBus sim(makeSimulatorLink());
  EXPECT_FALSE(SimTransactWorker(sim.bus, {5, 6, 0, 1, 0, 1}, 1)) << "no worker object yet";
  EXPECT_EQ(sim.log->take(), Log{});

  CreateWorkerSimulator(sim.bus);
  ASSERT_TRUE(SimTransactWorker(sim.bus, {5, 6, 0, 1, 0, 1}, 1));
  EXPECT_EQ(sim.bus.Answer, (Bytes{5, 5, 2, 0, 0, 28}));
  EXPECT_EQ(sim.log->take(), (Log{"create Obmen", "Obmen 5 6 0 1 0 1 130", "sleep 20"}));
  ASSERT_TRUE(SimTransactWorker(sim.bus, {20, 6, 0, 1, 0, 1}, 1));
  EXPECT_EQ(sim.log->take(),
            (Log{"Obmen 20 6 0 1 0 1 238", "sleep 20", "sleep 2", "Obmen 20 6 0 3 0 1 161"}));
  ASSERT_TRUE(SimTransactWorker(sim.bus, {24, 6, 0, 13, 0, 0}, 1));
  EXPECT_EQ(sim.log->take().back(), "sleep 1") << "the extra pause after byte 3 = 24";

  DropWorkerSimulator(sim.bus);
  EXPECT_EQ(sim.log->take(), Log{"release Obmen"});
}

TEST(SimulatorExchanges, NoServerRaisesOnTheDirectSide) {
  PrivateRuntimeFolder runtime;
  SimulatorBus sim(makeSimulatorLink());
  EXPECT_THROW(SimTransactDirect(sim.bus, Presence5, 1), SimulatorUnavailable);
  EXPECT_THROW(SimTransactDirect(sim.bus, {5, 6, 0, 1}, 1), SimulatorUnavailable)
      << "the object comes before the request is looked at";
  EXPECT_THROW(CreateWorkerSimulator(sim.bus), SimulatorUnavailable);
  EXPECT_FALSE(SimTransactWorker(sim.bus, Presence5, 1));
}

TEST(SimulatorExchanges, WorkerWaitsWhileTheDirectSideRuns) {
  Loopsim server("serve");
  ASSERT_TRUE(server.serving());
  SimulatorBus sim(makeSimulatorLink());
  CreateWorkerSimulator(sim.bus);

  // The direct side is held inside its pause before the call.
  std::promise<void> directInside;
  std::promise<void> releaseDirect;
  std::shared_future<void> released = releaseDirect.get_future().share();
  std::once_flag once;
  sim.log->onSleep = [&](uint32_t ms) {
    if (ms != 30) return;
    std::call_once(once, [&] {
      directInside.set_value();
      released.wait();
    });
  };
  std::future<bool> direct =
      std::async(std::launch::async, [&] { return SimTransactDirect(sim.bus, Presence5, 1); });
  directInside.get_future().wait();
  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    EXPECT_TRUE(SimTransactWorker(sim.bus, {20, 6, 0, 1, 0, 1}, 1));
    workerDone = true;
  });
  // Not a timing requirement: the worker must not have called however long we wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(workerDone);
  releaseDirect.set_value();
  EXPECT_TRUE(direct.get());
  worker.join();

  const Log log = sim.log->take();
  const auto at = [&](const std::string& event) { return std::ranges::find(log, event); };
  ASSERT_NE(at("Obmen 20 6 0 1 0 1 238"), log.end());
  EXPECT_LT(at("release Transceiving"), at("Obmen 20 6 0 1 0 1 238"));
  EXPECT_EQ(sim.bus.Answer[0], 20) << "the worker's answer is the last one stored";
}

// What no good server sends, and a server that hangs or dies in the middle of
// an exchange: the client fails the exchange (or reports the hang) and goes on.
TEST(SimulatorExchanges, BadServersFailTheExchangeCleanly) {
  const std::pair<std::string, bool> replies[] = {
      {std::string(100'000, '7'), false},       // no end of line
      {"5 5 2 0 0 28\n5 5 2 0 0 28\n", false},  // two lines for one call
      {"", true},                               // closes without a word
      {"5 5 2 0", true},                        // closes in mid-line
      {std::string("5 5 2 0 0 28\0\n", 14), false},
      {"garbage \xff\xfe\n", false},
  };
  for (const auto& [reply, closeAfter] : replies) {
    PrivateRuntimeFolder runtime;
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", simulatorSocketPath().c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    listen(listener, 4);
    std::thread rogue([&] {
      for (int client; (client = accept(listener, nullptr, nullptr)) >= 0; close(client)) {
        char chunk[4096];
        while (recv(client, chunk, sizeof(chunk), 0) > 0) {
          send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
          if (closeAfter) break;
        }
      }
    });
    SimulatorBus sim(makeSimulatorLink());
    EXPECT_FALSE(SimTransactDirect(sim.bus, Presence5, 1)) << reply.substr(0, 20);
    EXPECT_TRUE(sim.bus.Answer.empty());
    shutdown(listener, SHUT_RDWR);
    rogue.join();
    close(listener);
  }

  Loopsim server("serve");
  ASSERT_TRUE(server.serving());
  SimulatorBus sim(makeSimulatorLink());
  CreateWorkerSimulator(sim.bus);
  ASSERT_TRUE(SimTransactWorker(sim.bus, Presence5, 1));
  server.process->pause();
  // A hung server: each side gives up after a second and says so, rather than
  // failing like a silent device at every attempt of every request.
  for (auto side : {&SimTransactWorker, &SimTransactDirect}) {
    try {
      side(sim.bus, Presence5, 1);
      ADD_FAILURE() << "no error";
    } catch (const SimulatorNotResponding& error) {
      EXPECT_STREQ(error.what(), "the simulator server does not respond");
    }
  }
  std::future<bool> exchange = std::async(std::launch::async, [&] {
    return SimTransactWorker(sim.bus, {5, 6, 0, 1, 0, 1}, 1);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.process->kill();
  EXPECT_FALSE(exchange.get()) << "killed during the call";
  EXPECT_TRUE(sim.bus.Answer.empty());
  EXPECT_EQ(sim.bus.AnswerFrame.count, 0);
  EXPECT_THROW(SimTransactDirect(sim.bus, Presence5, 1), SimulatorUnavailable);

  LoopsimProcess again(LOOPSIM_BINARY, {"serve"});
  ASSERT_TRUE(again.readLine().starts_with("loopsim: serving on "));
  EXPECT_TRUE(SimTransactWorker(sim.bus, Presence5, 1)) << "the worker's object finds it";
}

TEST(SimulatorServerProcess, SurvivesGarbageAndStopsCleanly) {
  Loopsim server("serve");
  ASSERT_TRUE(server.serving());
  const std::string path = simulatorSocketPath();
  const auto readLines = [](int fd, long lines) {
    std::string text;
    char chunk[256];
    for (ssize_t n; std::ranges::count(text, '\n') < lines && (n = recv(fd, chunk, 256, 0)) > 0;)
      text.append(chunk, static_cast<size_t>(n));
    return text;
  };

  // Each bad line is answered as "nobody answers"; the connection goes on.
  const int fd = connectTo(path);
  const std::string calls =
      "Transceiving 5 6 0 1\nTransceiving 5 6 0 1 0 0 221\n"
      "Transceiving 5 6 x\nTeleport 5 6 0 1 0 0 220\n\n" +
      std::string("\0\x01\x02\xff\n", 5) + "Transceiving " +
      std::string(3 * MaxSimulatorLineBytes, '9') + "\nObmen 5 6 0 1 0 0 220\n";
  send(fd, calls.data(), calls.size(), MSG_NOSIGNAL);
  EXPECT_EQ(readLines(fd, 8), "\n\n\n\n\n\n\n5 5 2 0 0 28\n");

  // A client that vanishes mid-line harms nobody else.
  const int leaving = connectTo(path);
  send(leaving, "Transceiving 5 6", 16, MSG_NOSIGNAL);
  close(leaving);
  send(fd, "Transceiving 5 6 0 1 0 0 220\n", 29, MSG_NOSIGNAL);
  EXPECT_EQ(readLines(fd, 1), "5 5 2 0 0 28\n");
  close(fd);
}

// The answer line waiting on a connection of its own, or "" when none comes
// within `wait`; with `call`, after sending a presence request.
std::string answerOn(int fd, std::chrono::milliseconds wait, bool call = true) {
  if (call) send(fd, "Transceiving 5 6 0 1 0 0 220\n", 29, MSG_NOSIGNAL);
  pollfd entry{fd, POLLIN, 0};
  char answer[64] = {};
  if (poll(&entry, 1, static_cast<int>(wait.count())) <= 0) return "";
  return recv(fd, answer, sizeof answer - 1, 0) > 0 ? answer : "";
}

// Two servers started together: one serves, the other leaves its socket alone.
TEST(SimulatorServerProcess, OneOfTwoServersStartedTogetherOwnsTheSocket) {
  PrivateRuntimeFolder runtime;
  LoopsimProcess first(LOOPSIM_BINARY, {"serve"});
  LoopsimProcess second(LOOPSIM_BINARY, {"serve"});
  const bool firstServes = first.readLine().starts_with("loopsim: serving on ");
  ASSERT_NE(firstServes, second.readLine().starts_with("loopsim: serving on "));
  EXPECT_EQ((firstServes ? second : first).waitExit(), 1);
  const int fd = connectTo(simulatorSocketPath());
  EXPECT_EQ(answerOn(fd, std::chrono::seconds(5)), "5 5 2 0 0 28\n");
  close(fd);
  EXPECT_EQ((firstServes ? first : second).stop(), 0);
  EXPECT_NE(access(simulatorSocketPath().c_str(), F_OK), 0) << "socket removed on SIGTERM";
}

// Clients beyond 64 wait their turn, and a server out of descriptors does not
// spin on the connections it cannot take.
TEST(SimulatorServerProcess, ClientsAreCappedAndRunningOutOfDescriptorsDoesNotSpin) {
  PrivateRuntimeFolder runtime;
  rlimit normal{};
  getrlimit(RLIMIT_NOFILE, &normal);
  const rlimit scarce{24, normal.rlim_max};
  setrlimit(RLIMIT_NOFILE, &scarce);
  LoopsimProcess scarceServer(LOOPSIM_BINARY, {"serve"});
  setrlimit(RLIMIT_NOFILE, &normal);
  ASSERT_TRUE(scarceServer.readLine().starts_with("loopsim: serving on "));
  std::vector<int> clients;
  for (int i = 0; i < 40; ++i) clients.push_back(connectTo(simulatorSocketPath()));
  const auto cpuTicks = [&] {  // utime and stime, fields 14 and 15
    std::ifstream stat("/proc/" + std::to_string(scarceServer.pid()) + "/stat");
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i) ticks += i >= 14 ? std::stol(field) : 0;
    return ticks;
  };
  const long before = cpuTicks();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LT(cpuTicks() - before, sysconf(_SC_CLK_TCK) / 2) << "busy while it cannot accept";
  for (int fd : clients) close(fd);
  scarceServer.stop();

  Loopsim server("serve");
  ASSERT_TRUE(server.serving());
  clients.clear();
  for (int i = 0; i <= 64; ++i) clients.push_back(connectTo(simulatorSocketPath()));
  for (int i = 0; i < 64; ++i)
    ASSERT_EQ(answerOn(clients[i], std::chrono::seconds(5)), "5 5 2 0 0 28\n");
  EXPECT_EQ(answerOn(clients[64], std::chrono::milliseconds(300)), "") << "the 65th waits";
  close(clients.front());
  EXPECT_EQ(answerOn(clients[64], std::chrono::seconds(5), false), "5 5 2 0 0 28\n")
      << "and is served once a client has left";
  for (size_t i = 1; i < clients.size(); ++i) close(clients[i]);
}

TEST(LoopsimLine, WireTimingPaddingGarbageAndBrokenFrames) {
  Loopsim line("pty");
  const auto port = makeSerialPort();
  ASSERT_TRUE(port->open(line.device()));
  const Bytes request = withChecksum(Presence5);
  const Bytes present = withChecksum({5, 5, 2, 0, 0});
  Bytes padded = request;
  padded.push_back(0xFF);
  Bytes noisy{0x00, 0x13, 0x05, 0x06};
  noisy.insert(noisy.end(), request.begin(), request.end());
  Bytes broken = request;
  broken.back() ^= 0x40;
  // What is written, in pieces, and what comes back.
  const std::pair<std::vector<Bytes>, Bytes> cases[] = {
      {{request}, present},
      {{padded, {0xFF}}, present},  // the padded send: 0xFF after the frame, then one more
      {{noisy}, present},
      {{broken}, {}},
      {{{0x05, 0xC8, 0x00}}, {}},  // a Length that promises more than ever comes
      {{Bytes(request.begin(), request.end() - 1), {request.back()}}, present},
  };
  for (const auto& [pieces, answer] : cases) {
    CommTimeouts timeouts;
    timeouts.readTotalConstantMs = answer.empty() ? 100 : 2000;
    port->setTimeouts(timeouts);
    const auto start = Steady::now();
    for (const Bytes& piece : pieces) port->write(piece.data(), piece.size());
    Bytes received(6);
    received.resize(port->read(received.data(), received.size()));
    EXPECT_EQ(received, answer) << frameToText(pieces[0]);
    // A lower bound only: a slow machine makes the answer later, never earlier.
    if (!answer.empty()) {
      EXPECT_GE(Steady::now() - start, 7 * CharacterTime + LineLatency + 6 * CharacterTime);
    }
  }
}

TEST(SerialRoute, FindsTheDevicesAndReadsTheirLoops) {
  Loopsim line("pty");
  ASSERT_FALSE(line.device().empty());
  // Read time-outs far above the default 30 and 600 ms: loopsim answers at
  // wire speed, but on a busy machine it may not run in time.
  auto registry = std::make_shared<MemoryRegistry>();
  registry->set(LineSettingsKey, "TimeoutConstant", RegValue::ofDword(1000));
  registry->set(LineSettingsKey, "CmdTimeoutConstant", RegValue::ofDword(1000));
  Platform platform;
  platform.clock = systemClock();
  platform.registry = registry;
  platform.makeSerialPort = [] { return makeSerialPort(); };
  BusState bus(platform);
  bus.PortPath = line.device();
  LoadLineSettings(bus);
  ASSERT_GT(bus.CounterFrequency, 0) << "the timed send";

  const std::pair<Bytes, std::optional<Bytes>> exchanges[] = {
      {{5, 6, 0, 1, 0, 0}, Bytes{5, 5, 2, 0, 0}},
      {{20, 6, 0, 1, 0, 0}, Bytes{20, 5, 4, 3, 2}},  // an event, acknowledged on the line
      {{20, 6, 0, 1, 0, 0}, Bytes{20, 5, 2, 0, 0}},
      {{30, 6, 0, 1, 0, 0}, std::nullopt},
      {{63, 6, 0, 1, 0, 0}, Bytes{63, 5, 2, 0, 0}},  // through entry 0xF9
      {{127, 6, 0, 1, 0, 0}, Bytes{127, 5, 2, 0, 0}},
      {{5, 6, 0, 13, 0, 0}, Bytes{5, 5, 0, 1, 105}},
      {{63, 6, 0, 13, 0, 0}, Bytes{63, 5, 0, 11, 105}},
      {{5, 6, 0, 0x1B, 2, 0}, Bytes{5, 5, 0x1C, 2, 0}},
      {{5, 6, 0, 0x1B, 3, 0}, Bytes{5, 5, 0x1C, 3, 160}},
      {{5, 6, 0, 0x19, 3, 0}, Bytes{5, 5, 0x1A, 3, 109}},
      {{127, 6, 0, 0x39, 1, 1}, Bytes{127, 5, 0x3A, 1, 5}},
  };
  for (const auto& [request, answer] : exchanges) {
    const bool answered = Transact(bus, PrepareRequest(bus, request), 1);
    EXPECT_EQ(
        answered ? std::optional(Bytes(bus.Answer.begin(), bus.Answer.end() - 1)) : std::nullopt,
        answer)
        << frameToText(request);
  }
}

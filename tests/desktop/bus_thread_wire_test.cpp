// The windows' exchanges on their bus thread put the same frames on the wire,
// in the same order and with the same attempts, as they did on the window
// thread: a full scan and reading passes against the logs that loopsim traced
// before the bus moved off the window thread (data/*.wire).

#include <gtest/gtest.h>

#include <fstream>
#include <utility>

#include "loopsim_process.h"
#include "scoped_temp_dir.h"
#include "session/bus_runner.h"
#include "session/session.h"
#include "window_fakes.h"
#include "window_queue.h"

namespace loopmon {
namespace {

using testing::Lines;
using testing::WindowQueue;

// Counts the exchanges whose follow-up has not run yet.
class CountingBus : public BusRunner {
 public:
  explicit CountingBus(BusRunner& inner) : inner_(inner) {}
  void run(Exchange exchange, Done done) override {
    ++pending;
    inner_.run(std::move(exchange), [this, done = std::move(done)](std::exception_ptr error) {
      --pending;
      done(error);
    });
  }
  int pending = 0;

 private:
  BusRunner& inner_;
};

Lines fileLines(const std::string& path) {
  std::ifstream in(path);
  Lines lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The program's side of the wire: every request's bytes, and whether an
// answer came. What the answers say is the simulator's; its loops drift with time.
Lines programSide(const Lines& wire) {
  Lines side;
  for (const std::string& line : wire) {
    if (line.find("->") != std::string::npos) {
      side.push_back(line.substr(0, line.find(" |")));
    } else {
      side.push_back(line.find("(no answer)") != std::string::npos ? "<- none" : "<- answer");
    }
  }
  return side;
}

void expectSameWire(const Lines& wire, const std::string& recordedFile) {
  const Lines actual = programSide(wire);
  const Lines recorded = programSide(fileLines(recordedFile));
  size_t same = 0;
  while (same < actual.size() && same < recorded.size() && actual[same] == recorded[same]) ++same;
  EXPECT_TRUE(same == actual.size() && same == recorded.size())
      << "first difference at line " << same + 1 << ": "
      << (same < actual.size() ? actual[same] : "(end)")
      << "; recorded: " << (same < recorded.size() ? recorded[same] : "(end)");
}

class BusThreadWire : public ::testing::Test {
 protected:
  void startLoopsim() {
    loopsim.reset();
    loopsim = std::make_unique<testing::LoopsimProcess>(
        LOOPSIM_PATH, std::vector<std::string>{"serve", "--trace"});
    for (std::string out = loopsim->readLine(); !out.starts_with("loopsim: serving");
         out = loopsim->readLine()) {
      ASSERT_FALSE(out.empty()) << "loopsim did not start";
    }
  }
  // Reads what loopsim has traced so far; kept read so that its pipe never
  // fills and holds the simulator up.
  void drain(std::chrono::milliseconds wait) {
    for (std::string line; !(line = loopsim->readLine(wait)).empty();) {
      const size_t at = line.find("Transceiving");
      if (at != std::string::npos) wire_.push_back(line.substr(at));
    }
  }
  // The frames loopsim has traced since the last call, without their times.
  Lines takeWire() {
    drain(std::chrono::milliseconds(300));
    return std::exchange(wire_, {});
  }
  // Runs follow-ups as they come back and fires `timer` whenever the bus is
  // idle, until it has nothing due.
  void settle(CountingBus& bus, const std::function<bool()>& timer) {
    for (int rounds = 0; rounds < 100000; ++rounds) {
      drain(std::chrono::milliseconds(5));
      if (bus.pending > 0) {
        ASSERT_TRUE(window.runOne()) << "an exchange never came back";
      } else if (!timer()) {
        return;
      }
    }
    FAIL() << "the windows never came to rest";
  }

  testing::ScopedTempDir folder;
  testing::PrivateRuntimeFolder runtime;
  testing::ScopedEnv config{"XDG_CONFIG_HOME", folder.path()};
  std::unique_ptr<testing::LoopsimProcess> loopsim;
  WindowQueue window;
  Lines wire_;
};

TEST_F(BusThreadWire, ScanAndReadingPassesPutTheRecordedFramesOnTheWire) {
  startLoopsim();
  TRSSession session(Platform::system());
  BusThread thread(session, [this](std::function<void()> call) { window.post(std::move(call)); });
  CountingBus bus(thread);

  testing::FakeSearchDialog searchView;
  SearchDialogModel search(searchView, &bus, folder.file("pcom.ini"));
  search.aboutToShow();
  settle(bus, [] { return false; });
  search.searchClicked();
  settle(bus, [&] {
    if (!searchView.timer) return false;
    search.scanTimerFired();
    return true;
  });
  EXPECT_EQ(searchView.lines.size(), 5u);
  expectSameWire(takeWire(), WIRE_LOGS "/scan.wire");

  testing::FakeMainWindow mainView;
  CoefficientsStore store(folder.file("ohmgauge.kft"), ',');
  MainWindowModel mainWindow(mainView, bus, store, ',');
  const auto pass = [&] {
    startLoopsim();
    mainWindow.readClicked();
    settle(bus, [&] {
      if (mainView.timerMs < 0) return false;
      mainWindow.timerFired();
      return true;
    });
    return takeWire();
  };
  const auto choose = [&](uint8_t address) {
    mainView.chosen = address;
    mainWindow.searchClicked();
    settle(bus, [] { return false; });
  };
  choose(5);
  Lines reading = pass();
  mainWindow.stateViewClicked();
  for (const std::string& line : pass()) reading.push_back(line);
  mainWindow.adcViewClicked();
  choose(127);
  for (const std::string& line : pass()) reading.push_back(line);
  expectSameWire(reading, WIRE_LOGS "/reading.wire");
}

}  // namespace
}  // namespace loopmon

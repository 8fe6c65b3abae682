// The search on real ports that cannot be opened: one box per start naming
// the port and why, none when stopping, and the scan goes on all the same.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "fake_platform.h"
#include "platform/port_names.h"
#include "platform/registry.h"
#include "platform/serial_port.h"
#include "pty_peer_posix.h"
#include "scoped_temp_dir.h"
#include "search_view_fake.h"
#include "session/bus_runner.h"
#include "session/session.h"

namespace loopmon {
namespace {

using testing::Lines;
using testing::RecordingSearchView;

// COM names resolve through the registry store under XDG_CONFIG_HOME.
class OwnConfigFolder {
 public:
  explicit OwnConfigFolder(const std::string& path) {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) old_ = old;
    ::setenv("XDG_CONFIG_HOME", path.c_str(), 1);
  }
  ~OwnConfigFolder() {
    if (old_) {
      ::setenv("XDG_CONFIG_HOME", old_->c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
  }

 private:
  std::optional<std::string> old_;
};

TEST(SearchOnARealPort, APortThatCannotBeOpenedIsToldOncePerStart) {
  testing::ScopedTempDir dir;
  const OwnConfigFolder config(dir.path());
  ASSERT_TRUE(mapPort(*openSystemRegistry(), "COM7", dir.file("unplugged")));
  testing::writeFile(dir.file("plain"), "not a terminal");
  const auto silent = [](const Bytes&) -> std::optional<Bytes> { return std::nullopt; };
  testing::PtyPeer held(silent, std::chrono::microseconds(0));
  auto holder = makeSerialPort();
  ASSERT_TRUE(holder->open(held.devicePath()));
  testing::PtyPeer free(silent, std::chrono::microseconds(0));

  testing::FakePlatform fake;
  Platform platform = fake.platform();
  platform.makeSerialPort = [] { return makeSerialPort(); };
  TRSSession session(platform);
  RecordingSearchView view;
  InlineBus bus(session);
  SearchProcedure search(view, &bus);
  const struct {
    std::string selected, error;
  } cases[] = {
      {"COM7 — unplugged", "COM7 (" + dir.file("unplugged") + "): not found: "},
      {dir.file("missing"), dir.file("missing") + ": not found: "},
      {dir.file("plain"), dir.file("plain") + ": cannot be opened as a serial port"},
      {held.devicePath(), held.devicePath() + ": busy: held by another program"},
      {free.devicePath(), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.selected);
    view.port = c.selected;
    for (int start = 1; start <= 2; ++start) {
      view.errors.clear();
      search.StartStopScan();
      EXPECT_TRUE(search.Scanning()) << "the scan runs all the same";
      search.StartStopScan();
      if (c.error.empty()) {
        EXPECT_EQ(view.errors, Lines{});
      } else {
        ASSERT_EQ(view.errors.size(), 1u) << "one box per start, none at the stop";
        EXPECT_TRUE(view.errors.front().starts_with(c.error)) << view.errors.front();
      }
    }
  }
}

}  // namespace
}  // namespace loopmon

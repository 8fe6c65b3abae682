// The search on real ports that cannot be opened: one box per start naming
// the port and why, none when stopping, and the scan goes on all the same.

#include <gtest/gtest.h>

#include <chrono>

#include "fake_platform.h"
#include "platform/serial/serial_port.h"
#include "pty_peer_posix.h"
#include "scoped_temp_dir.h"
#include "search_view_fake.h"
#include "session/bus_runner.h"
#include "session/session.h"

namespace loopmon {
namespace {

using testing::Lines;
using testing::RecordingSearchView;

TEST(SearchOnARealPort, APortThatCannotBeOpenedIsToldOncePerStart) {
  testing::ScopedTempDir dir;
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

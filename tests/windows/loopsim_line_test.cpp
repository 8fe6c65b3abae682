// The Windows build's session and search on a real line: COM3 of the Wine
// prefix is a pseudo-terminal with `loopsim pty --echo` on its Linux side, so
// every frame crosses the Win32 comm API, Wine's serial driver and the
// pseudo-terminal both ways, with loopsim's wire timing and the converter's echo.

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "search_view_fake.h"
#include "session/bus_runner.h"
#include "session/device_names.h"
#include "session/session.h"
#include "transport/bus_state.h"

using namespace loopmon;

namespace {

TEST(LoopsimLine, TheWindowsSessionFindsAndReadsTheDemoBus) {
  TRSSession session(Platform::system());
  ASSERT_FALSE(session.SimulatorMode()) << "no SIMUL marker: the serial route";
  session.SetComPort(3);
  loopmon::testing::RecordingSearchView list;
  list.port = "COM3";
  InlineBus bus(session);
  SearchProcedure search(list, &bus);

  for (uint8_t address : {5, 6, 12, 63, 127}) search.IdentifyAddress(address);
  EXPECT_EQ(session.GetDeviceType(6), NoDevice) << "nobody at 6";
  const std::pair<uint8_t, uint8_t> expected[] = {{5, 1}, {12, 2}, {63, 11}, {127, 9}};
  ASSERT_EQ(list.lines.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const auto [address, type] = expected[i];
    EXPECT_EQ(session.GetDeviceType(address), type) << int{address};
    EXPECT_EQ(list.lines[i], session.DescribeDevice(address));
  }
  EXPECT_EQ(session.DescribeDevice(63, ','),
            "Адрес:  63  " + DeviceTypeName(11) + " (версия  1,05)");

  // Loop 3 of the device at 5 is open: its ADC reads 0.
  ASSERT_TRUE(session.DirectRequest({5, 6, 0, 0x1B, 3, 0}, 1));
  ASSERT_GE(session.LastAnswer().size(), 6u);
  EXPECT_EQ(session.LastAnswer()[0], 5);
  EXPECT_EQ(session.LastAnswer()[4], 0);
  EXPECT_TRUE(list.errors.empty());
}

}  // namespace

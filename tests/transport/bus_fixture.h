#pragma once
// A BusState on fake platform services with the line settings of an empty
// registry (NT family: StartTimeout 4, TailInUS 400).

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

#include "fake_platform.h"
#include "transport/bus_state.h"

namespace loopmon::testing {

// An answer frame with its Length and checksum filled in.
inline Bytes answerFrame(uint8_t address, uint8_t code, std::initializer_list<uint8_t> data,
                         CrcTable table = CrcTable::Carried) {
  Bytes frame{address, static_cast<uint8_t>(3 + data.size()), code};
  frame.insert(frame.end(), data);
  frame.push_back(FrameChecksum(frame, table));
  return frame;
}

inline Bytes withChecksum(Bytes frame, CrcTable table = CrcTable::Carried) {
  frame.push_back(FrameChecksum(frame, table));
  return frame;
}

class BusTest : public ::testing::Test {
 protected:
  void SetUp() override { remake(); }

  // A fresh BusState on the same fakes, after the registry has been prepared.
  void remake() {
    bus = std::make_unique<BusState>(fakes.platform());
    LoadLineSettings(*bus);
  }

  // Switches to the driver route with a present driver device.
  void useDriver() {
    fakes.driver->setPresent(true);
    bus->Driver = fakes.driver->makeDriver();
    ASSERT_TRUE(bus->Driver->open());
  }

  FakePlatform fakes;
  std::unique_ptr<BusState> bus;
};

}  // namespace loopmon::testing

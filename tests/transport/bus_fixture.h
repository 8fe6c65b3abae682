#pragma once
// A BusState on fake platform services with the line settings of an empty
// registry (NT family: StartTimeout 4, TailInUS 400).

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "fake_platform.h"
#include "transport/bus_state.h"

namespace loopmon::testing {

inline Bytes withChecksum(Bytes frame, CrcTable table = CrcTable::Carried) {
  frame.push_back(FrameChecksum(frame, table));
  return frame;
}

// An answer frame with its Length and checksum filled in.
inline Bytes answerFrame(uint8_t address, uint8_t code, std::initializer_list<uint8_t> data) {
  Bytes frame{address, static_cast<uint8_t>(3 + data.size()), code};
  frame.insert(frame.end(), data);
  return withChecksum(frame);
}

const Bytes Presence5{5, 6, 0, 1, 0, 0};  // on the wire: 05 06 00 01 00 00 DC
const Bytes Presence5Answer = answerFrame(5, 0, {0x21, 0x64});

class BusTest : public ::testing::Test {
 protected:
  void SetUp() override { remake(); }

  // A fresh BusState on the same fakes, after the registry has been prepared.
  void remake() {
    bus = std::make_unique<BusState>(fakes.platform());
    LoadLineSettings(*bus);
  }

  // The serial calls since the last clearCalls, joined by "|".
  std::string callLog() const {
    std::string log;
    for (const std::string& text : fakes.line->callTexts()) log += (log.empty() ? "" : "|") + text;
    return log;
  }

  void useDriver() {
    fakes.driver->setPresent(true);
    bus->Driver = fakes.driver->makeDriver();
    ASSERT_TRUE(bus->Driver->open());
  }

  FakePlatform fakes;
  std::unique_ptr<BusState> bus;
};

}  // namespace loopmon::testing

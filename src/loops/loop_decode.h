#pragma once
// The loop requests, and the texts the loop answers decode to.

#include <cstdint>
#include <optional>
#include <string>

#include "transport/frame.h"

namespace loopmon {

// The six request bytes Address, 6, 0, Command, loop number (low byte), `data5`.
Bytes LoopRequest(uint8_t devAddr, uint8_t command, int loop, uint8_t data5 = 0);

// The text of a loop state code ("на охране", "тревога", ...); empty for codes
// without one.
std::string LoopStateText(uint8_t code);

// What a line device kind answer shows: the text for column 2 and, for an
// unexpected answer code or an unknown kind, a message for the user.
struct LineDeviceText {
  std::string text;
  std::optional<std::string> message;
};

// Decodes a line device kind answer (bytes 2 to 4 are used); `adc` is the loop
// ADC reading of the same loop. An answer shorter than 5 bytes shows nothing.
LineDeviceText DecodeLineDevice(const Bytes& answer, uint8_t adc);

}  // namespace loopmon

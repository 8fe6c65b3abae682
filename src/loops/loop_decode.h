#pragma once
// Decoding of the loop answers into the texts of the loop table.

#include <cstdint>
#include <optional>
#include <string>

#include "loops/coeffs.h"
#include "loops/loop_layout.h"
#include "platform/system/locale_info.h"
#include "transport/frame.h"

namespace loopmon {

// The six request bytes Address, 6, 0, Command, loop number (low byte), `data5`.
Bytes LoopRequest(uint8_t devAddr, uint8_t command, int loop, uint8_t data5 = 0);

// The text of a loop state code ("на охране", "тревога", ...); empty for codes
// without one.
std::string LoopStateText(uint8_t code);

// Column 2 of the ADC view for devices other than type 9: "Обрыв" for ADC 0,
// "КЗ" for 255, otherwise a / ADC + b formatted "0.0".
std::string ResistanceText(uint8_t adc, const Coefficients& coefficients,
                           char separator = userDecimalSeparator());

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

#pragma once
// The names a device is shown by: its model and its description line. Apart
// from the session so that records and traces can name devices without it.

#include <cstdint>
#include <string>

namespace loopmon {

// Model name of a device type code.
std::string DeviceTypeName(uint8_t code);

// The device description line "Адрес: %3d  %s (версия  %3.2f)" of an address,
// its model name and version byte.
std::string DeviceDescription(uint8_t addr, const std::string& name, uint8_t version,
                              char separator);

}  // namespace loopmon

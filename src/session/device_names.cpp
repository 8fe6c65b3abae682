#include "session/device_names.h"

#include "common/number_text.h"

namespace loopmon {

std::string DeviceTypeName(uint8_t code) {
  switch (code) {
    case 0:
      return "Hovra";
    case 1:
      return "Mivra-Q";
    case 2:
      return "Mivra-QX";
    case 3:
      return "Hovra-F";
    case 4:
      return "Hovra-J";
    case 5:
      return "Fyzo";
    case 6:
      return "Mivra-Z";
    case 7:
      return "Hovra-M";
    case 8:
      return "Hovra-W";
    case 9:
      return "Hovra-Y";
    case 10:
      return "Hovra-Z";
    case 11:
      return "Mivra-QW";
    case 12:
      return "Hovra-X";
    case 13:
      return "Hovra-Q";
    case 16:
      return "Hovra-H";
    default:
      return "Неизвестный тип (" + std::to_string(code) + ")";
  }
}

std::string DeviceDescription(uint8_t addr, const std::string& name, uint8_t version,
                              char separator) {
  return "Адрес: " + FormatIntWidth(addr, 3) + "  " + name + " (версия  " +
         FormatFloatWidth(version / 100.0, 3, 2, separator) + ")";
}

}  // namespace loopmon

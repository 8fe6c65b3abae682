#include "platform/serial/port_names.h"

#include <algorithm>
#include <cctype>

namespace loopmon {

bool isRemoteLineName(const std::string& name) {
  const auto startsWith = [&name](const std::string& prefix) {
    return name.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), name.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) ==
                    std::tolower(static_cast<unsigned char>(b));
           });
  };
  return startsWith(Rfc2217Prefix) || startsWith(RawTcpPrefix);
}

std::optional<int> comPortNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return std::nullopt;
  for (size_t i = 0; i < 3; ++i) {
    if ((name[i] & ~0x20) != "COM"[i]) return std::nullopt;
  }
  if (name[3] == '0') return std::nullopt;
  int n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return std::nullopt;
    n = n * 10 + (name[i] - '0');
  }
  if (n > MaxComPort) return std::nullopt;
  return n;
}

std::string comPortName(int number) {
  return "COM" + std::to_string(number);
}

std::string describePort(const PortEntry& entry) {
  std::string details;
  for (const std::string* part :
       {&entry.manufacturer, &entry.hardwareId, &entry.driver, &entry.serialNumber}) {
    if (part->empty()) continue;
    if (!details.empty()) details += ", ";
    if (part == &entry.serialNumber) details += "serial ";
    details += *part;
  }
  if (entry.description.empty()) return details;
  return details.empty() ? entry.description : entry.description + " (" + details + ")";
}

}  // namespace loopmon

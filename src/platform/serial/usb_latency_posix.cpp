// Linux exposes the timer of ftdi_sio converters as the sysfs attribute
// latency_timer of the usb-serial port device.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/serial/usb_latency.h"
#include "platform/system/files_posix.h"

namespace loopmon {

namespace {

std::string timerFile(const PortEntry& port) {
  return port.sysfsDevice.empty() ? std::string() : port.sysfsDevice + "/latency_timer";
}

}  // namespace

std::optional<int> readLatencyTimer(const PortEntry& port) {
  const std::string file = timerFile(port);
  if (file.empty()) return std::nullopt;
  std::optional<std::string> text = posix::readFile(file);
  if (!text || text->empty()) return std::nullopt;
  return std::atoi(text->c_str());
}

bool setLatencyTimer(const PortEntry& port, int ms, std::string& why) {
  if (!readLatencyTimer(port)) {
    why = "no latency timer";
    return false;
  }
  // Never created: an attribute that is not there is not ours to make.
  posix::UniqueFd fd(::open(timerFile(port).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  const std::string text = std::to_string(ms) + "\n";
  if (!fd.valid() || ::write(fd.get(), text.data(), text.size()) < 0) {
    why = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace loopmon

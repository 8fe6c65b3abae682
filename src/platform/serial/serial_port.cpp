#include "platform/serial/serial_port.h"

namespace loopmon {

std::string describeOpenError(const OpenError& error) {
  std::string text;
  switch (error.kind) {
    case OpenErrorKind::None:
      return "the port is open";
    case OpenErrorKind::NotFound:
      text = "not found: no such port";
      break;
    case OpenErrorKind::Busy:
      text = "busy: held by another program";
      break;
    case OpenErrorKind::PermissionDenied:
      text = "permission denied";
      break;
    case OpenErrorKind::Other:
      text = "cannot be opened as a serial port";
      break;
  }
  text += openErrorAdvice(error);
  return error.osText.empty() ? text : text + " (" + error.osText + ")";
}

}  // namespace loopmon

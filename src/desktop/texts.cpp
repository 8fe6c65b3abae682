#include "desktop/texts.h"

#include "common/number_text.h"
#include "platform/system/simulator_link.h"
#include "transport/line_settings.h"

namespace loopmon::texts {

std::string Format(const std::string& pattern, const std::string& first,
                   const std::string& second) {
  std::string text;
  for (size_t at = 0; at < pattern.size(); ++at) {
    if (pattern[at] == '%' && at + 1 < pattern.size() &&
        (pattern[at + 1] == '1' || pattern[at + 1] == '2')) {
      text += pattern[++at] == '1' ? first : second;
    } else {
      text += pattern[at];
    }
  }
  return text;
}

std::string OpenFailureText(const OpenFailure& failure) {
  const std::string port =
      failure.device == failure.port ? failure.port : failure.port + " (" + failure.device + ")";
  std::string reason;
  switch (failure.error.kind) {
    case OpenErrorKind::NotFound:
      reason = "порт не найден (подключен ли преобразователь?)";
      break;
    case OpenErrorKind::Busy:
      reason = "порт занят другой программой";
      break;
    case OpenErrorKind::PermissionDenied:
      reason = "нет прав на доступ к порту";
      break;
    case OpenErrorKind::Other:
      reason = "это не последовательный порт";
      break;
    case OpenErrorKind::None:
      break;
  }
  // The system's and a remote line's own words stay as they are.
  const std::string detail =
      !failure.lineFailure.empty() ? failure.lineFailure : failure.error.osText;
  std::string text = "Не удалось открыть порт " + port;
  if (!reason.empty()) text += ": " + reason;
  if (!detail.empty()) text += (reason.empty() ? ": " : " — ") + detail;
  return text;
}

std::string ErrorText(const std::exception& error) {
  const std::string said = error.what();
  // The run-time library's messages are the system's own.
  if (dynamic_cast<const RtlError*>(&error)) return said;
  if (dynamic_cast<const SimulatorUnavailable*>(&error)) return "Симулятор недоступен: " + said;
  if (dynamic_cast<const PortLostError*>(&error)) return "Связь с портом потеряна: " + said;
  if (dynamic_cast<const LineSettingsError*>(&error) ||
      dynamic_cast<const PortSettingsError*>(&error)) {
    return "Неверная настройка линии: " + said;
  }
  return said;
}

}  // namespace loopmon::texts

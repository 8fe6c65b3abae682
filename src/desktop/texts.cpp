#include "desktop/texts.h"

#include "common/number_text.h"
#include "platform/simulator/simulator_link.h"
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

namespace {

// What the user can do, in the window's language; the system's own words follow.
std::string SimulatorText(const SimulatorUnavailable& error) {
  std::string advice;
  switch (error.problem()) {
    case SimulatorProblem::NotRegistered:
      advice =
          "симулятор не зарегистрирован на этом компьютере. Установите loopmon или запустите "
          "«loopsim serve» из папки программы";
      break;
    case SimulatorProblem::NotServing:
      advice = "симулятор не запущен. Запустите «loopsim serve» или демо и повторите";
      break;
    case SimulatorProblem::Starting:
      advice =
          "симулятор ещё запускается. Дождитесь, когда loopsim сообщит, что работает, и "
          "повторите";
      break;
    case SimulatorProblem::Unreachable:
      advice =
          "симулятор запущен, но не отвечает на вызовы. Закройте loopsim (Ctrl-C или окно) и "
          "запустите снова; если не поможет, выйдите из системы и войдите снова";
      break;
    case SimulatorProblem::NotResponding:
      advice = "сервер симулятора не отвечает";
      break;
    case SimulatorProblem::Other:
      return "Симулятор недоступен: " + std::string(error.what());
  }
  std::string text = "Симулятор недоступен: " + advice;
  if (!error.detail().empty()) text += " (" + error.detail() + ")";
  return text;
}

}  // namespace

std::string ErrorText(const std::exception& error) {
  const std::string said = error.what();
  // The run-time library's messages are the system's own.
  if (dynamic_cast<const RtlError*>(&error)) return said;
  if (const auto* simulator = dynamic_cast<const SimulatorUnavailable*>(&error)) {
    return SimulatorText(*simulator);
  }
  if (dynamic_cast<const PortLostError*>(&error)) return "Связь с портом потеряна: " + said;
  if (dynamic_cast<const LineSettingsError*>(&error) ||
      dynamic_cast<const PortSettingsError*>(&error)) {
    return "Неверная настройка линии: " + said;
  }
  return said;
}

}  // namespace loopmon::texts

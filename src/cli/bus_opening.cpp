#include "cli/bus_opening.h"

#include <filesystem>
#include <optional>
#include <utility>

#include "cli/cli_args.h"
#include "cli/trace_output.h"
#include "common/translation.h"
#include "platform/platform.h"
#include "platform/remote/remote_line.h"
#include "platform/serial/port_names.h"

namespace loopmon::cli {
namespace {

void choosePort(TRSSession& session, const PortChoice& port) {
  if (port.path.empty()) {
    session.SetComPort(port.comPort);
  } else {
    session.SetPortPath(port.path);
  }
}

}  // namespace

PortChoice parsePort(const std::string& text) {
  if (isRemoteLineName(text)) {
    std::string problem;
    if (!parseRemoteLine(text, problem)) throw UsageError(problem);
    return {1, text, text};
  }
  if (const std::optional<int> number = comPortNumber(text)) {
    const std::string name = comPortName(*number);
    if (*number <= 4) return {*number, "", name};
    return {1, name, name};
  }
  const bool comName =
      text.size() >= 3 && (text.compare(0, 3, "COM") == 0 || text.compare(0, 3, "com") == 0);
  if (comName || text.empty()) {
    throw UsageError("unknown port " + text + " (COM1..COM" + std::to_string(MaxComPort) +
                     ", a device path, or rfc2217:// or tcp://HOST:PORT)");
  }
  std::error_code error;
  if (!std::filesystem::exists(pathOf(text), error)) {
    throw CliError(trWith("unknown port %s (no such device)", {text}));
  }
  return {1, text, text};
}

std::unique_ptr<TRSSession> openBus(const PortChoice& port, TraceOutput* trace,
                                    std::shared_ptr<OwnerDispatcher> owner) {
  auto session = std::make_unique<TRSSession>(Platform::system(), std::move(owner));
  if (trace) trace->attach(*session);
  choosePort(*session, port);
  if (!session->SimulatorMode() && !session->OpenPort()) {
    throw CliError(session->DescribeOpenFailure());
  }
  return session;
}

std::unique_ptr<TRSSession> watchedBus(const PortChoice& port) {
  auto session = std::make_unique<TRSSession>(Platform::system());
  choosePort(*session, port);
  return session;
}

}  // namespace loopmon::cli

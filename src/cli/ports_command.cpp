#include "cli/ports_command.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/output.h"
#include "common/translation.h"
#include "platform/remote/remote_line.h"
#include "platform/serial/port_names.h"
#include "platform/store/registry.h"

namespace loopmon::cli {
namespace {

void storeMapping(Registry& registry, const std::string& mapping) {
  const size_t equals = mapping.find('=');
  if (equals == std::string::npos) throw UsageError(tr("--map: expected COMn=DEVICE"));
  const std::string comName = mapping.substr(0, equals);
  const std::string device = mapping.substr(equals + 1);
  // Exactly the names --port takes as COM names.
  if (!comPortNumber(comName)) {
    throw UsageError("--map: '" + comName + "' is not a COM name (COM1..COM" +
                     std::to_string(MaxComPort) + ")");
  }
  std::string problem;
  std::error_code error;
  if (isRemoteLineName(device)) {
    if (!parseRemoteLine(device, problem)) throw UsageError("--map: " + problem);
  } else if (device.empty() || !std::filesystem::exists(pathOf(device), error)) {
    throw CliError(trWith("--map: no device %s", {device}));
  }
  if (!mapPort(registry, comName, device))
    throw CliError(tr("--map: the mapping cannot be stored"));
}

}  // namespace

int ports(const Arguments& args) {
  if (!args.plain().empty())
    throw UsageError(trWith("%s takes no words: %s", {"ports", args.plain().front()}));
  auto registry = openSystemRegistry();
  if (args.has("--map")) storeMapping(*registry, args.required("--map"));
  for (const PortEntry& entry : listPorts(*registry)) {
    std::string line = (entry.comName.empty() ? "-" : entry.comName) + "\t" + entry.devicePath;
    const std::string what = describePort(entry);
    if (!what.empty()) line += "\t" + what;
    if (!entry.stableName.empty()) line += "\t" + entry.stableName;
    printLine(stdout, line);
  }
  return 0;
}

}  // namespace loopmon::cli

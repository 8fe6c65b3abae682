#include "cli/scan_command.h"

#include <chrono>
#include <cstdio>
#include <set>
#include <utility>

#include "cli/cli_args.h"
#include "cli/console_views.h"
#include "cli/help.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "cli/records.h"
#include "common/number_text.h"
#include "common/translation.h"
#include "platform/system/locale_info.h"
#include "search/quick_search.h"
#include "search/search_procedure.h"
#include "session/bus_runner.h"
#include "session/device_names.h"

namespace loopmon::cli {
namespace {

using SteadyClock = std::chrono::steady_clock;

std::string versionText(uint8_t versionByte, char separator) {
  return FormatFixed(versionByte / 100.0, 2, separator);
}

// A version as scan shows it: 1.60, not 1.6.
JsonStyle versionStyle() {
  JsonStyle style;
  style.fixed = {{"version", 2}};
  return style;
}

}  // namespace

void checkLine(const TRSSession& session) {
  if (const std::string failure = session.PortFailure(); !failure.empty()) throw CliError(failure);
}

int scan(const Arguments& args, const BusOpener& open) {
  if (!args.plain().empty())
    throw UsageError(trWith("%s takes no words: %s", {"scan", args.plain().front()}));
  if (args.has("--json") && args.has("--csv"))
    throw UsageError(trWith("%s and %s exclude each other", {"--json", "--csv"}));
  const std::string addressText = args.value("--addr", "1-127");
  const std::vector<uint8_t> order = ScanOrder(parseNumberList(addressText, 1, 127, "--addr"));
  const RecordFormat format = args.has("--json")  ? RecordFormat::Json
                              : args.has("--csv") ? RecordFormat::Csv
                                                  : RecordFormat::Text;
  const std::string port = args.required("--port");
  auto session = open(port);

  const char separator = userDecimalSeparator();
  RecordWriter writer(stdout, format, {"addr", "type", "name", "version"}, separator,
                      versionStyle());
  if (format == RecordFormat::Csv) writer.heading();
  ConsoleSearchView view;
  InlineBus bus(*session);
  SearchProcedure search(view, &bus);
  ProgressLine progress(stderr);
  const InterruptGuard interrupt;
  const auto started = SteadyClock::now();
  size_t probed = 0;
  int found = 0;
  const auto list = [&](uint8_t address) {
    ++found;
    progress.end();
    if (format == RecordFormat::Text) {
      printLine(stdout, session->DescribeDevice(address));
      return;
    }
    const auto type = static_cast<uint8_t>(session->GetDeviceType(address));
    const uint8_t version = session->DeviceVersion(address);
    writer.record({Field::number(address), Field::number(type), Field::textOf(DeviceTypeName(type)),
                   Field::number(versionText(version, separator), version / 100.0)});
  };
  if (args.has("--quick")) {
    QuickScan quick(order);
    std::set<uint8_t> reached;
    while (!quick.Done() && InterruptGuard::requested() == 0) {
      const uint8_t address = quick.NextAddress();
      progress.show(ScanTitle + std::to_string(address) + " (" + std::to_string(quick.NextIndex()) +
                    "/" + std::to_string(order.size()) + ", pass " + std::to_string(quick.Pass()) +
                    ")");
      const bool listed = !quick.Step(*session).empty();
      checkLine(*session);
      reached.insert(address);
      probed = reached.size();
      if (listed) list(address);
    }
  }
  for (const uint8_t address : args.has("--quick") ? std::vector<uint8_t>{} : order) {
    if (InterruptGuard::requested() != 0) break;
    progress.show(ScanTitle + std::to_string(address) + " (" + std::to_string(probed + 1) + "/" +
                  std::to_string(order.size()) + ")");
    search.IdentifyAddress(address);
    checkLine(*session);
    ++probed;
    if (session->GetDeviceType(address) != NoDevice) list(address);
  }
  progress.end();

  // The seconds with the locale's separator, as every number the user reads.
  const std::string seconds =
      FormatFixed(std::chrono::duration<double>(SteadyClock::now() - started).count(), 1);
  if (InterruptGuard::requested() != 0) {
    printText(stderr, tr("scan interrupted: %d found, %zu of %zu addresses probed\n"), found,
              probed, order.size());
    return InterruptGuard::exitStatus();
  }
  if (found == 0) {
    printText(stderr, tr("loopctl: no device answers at %s (%zu addresses probed in %s s)\n"),
              addressText.c_str(), probed, seconds.c_str());
    return ExitNothingFound;
  }
  printText(stderr, tr("%d found, %zu addresses probed in %s s\n"), found, probed, seconds.c_str());
  return ExitSuccess;
}

}  // namespace loopmon::cli

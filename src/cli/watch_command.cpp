#include "cli/watch_command.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "cli/cli_args.h"
#include "cli/help.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "cli/service.h"
#include "record/json.h"
#include "search/search_procedure.h"
#include "session/session.h"
#include "watch/metrics_server.h"

namespace loopmon::cli {

int watch(const Arguments& args, const SessionMaker& makeSession) {
  if (!args.plain().empty()) throw UsageError("watch takes no words: " + args.plain().front());
  WatchSettings settings;
  settings.ports = args.all("--port");
  if (settings.ports.empty()) throw UsageError("--port is missing");
  if (std::set<std::string>(settings.ports.begin(), settings.ports.end()).size() !=
      settings.ports.size()) {
    throw UsageError("--port: a line is named twice");
  }
  settings.addresses = ScanOrder(parseNumberList(args.value("--addr", "1-127"), 1, 127, "--addr"));
  settings.period =
      std::chrono::seconds(parseNumber(args.value("--period", "0"), 0, 86400, "--period"));
  settings.passes =
      args.has("--passes") ? parseNumber(args.required("--passes"), 1, 1'000'000, "--passes") : 0;
  settings.site = args.value("--site", "");
  if (!IsJsonText(settings.site)) {
    throw UsageError("--site: the name is not UTF-8 text (set the terminal's encoding to UTF-8)");
  }
  settings.logFolder = args.value("--log", "");
  LogBound bound;
  if (args.has("--log-size")) {
    bound.totalBytes = static_cast<uint64_t>(
                           parseNumber(args.required("--log-size"), 1, 1'000'000, "--log-size")) *
                       1024 * 1024;
  }
  std::optional<MetricsAddress> metricsAddress;
  if (args.has("--metrics")) {
    settings.metrics = args.required("--metrics");
    try {
      metricsAddress = ParseMetricsAddress(settings.metrics);
    } catch (const std::invalid_argument& error) {
      throw UsageError(std::string("--metrics: ") + error.what());
    }
  }
  // Each port is taken before the watch begins: a name that is no port is
  // told at once, while a device that cannot be opened yet is waited for.
  std::vector<std::unique_ptr<TRSSession>> sessions;
  for (const std::string& port : settings.ports) sessions.push_back(makeSession(port));

  EventLog log(settings.logFolder, bound);
  WatchState state(settings.site);
  std::optional<MetricsServer> server;
  if (metricsAddress) {
    try {
      server.emplace(*metricsAddress, state);
    } catch (const std::runtime_error& error) {
      throw CliError(error.what());
    }
  }
  auto run = [&](const std::function<void()>& running) {
    size_t next = 0;
    Watch watcher(
        settings, [&sessions, &next](const std::string&) { return std::move(sessions[next++]); },
        log, state);
    const InterruptGuard interrupt;
    running();
    watcher.start();
    while (InterruptGuard::requested() == 0 && !watcher.finished()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const int signal = InterruptGuard::requested();
    watcher.stop(signal == SIGTERM ? "terminated" : signal != 0 ? "interrupted" : "passes done");
    // A service manager's stop is the watch's normal end; Ctrl-C is reported
    // as every command reports it.
    return signal == SIGINT ? InterruptGuard::exitStatus() : ExitSuccess;
  };
  return args.has("--service") ? RunAsService(run) : run([] {});
}

}  // namespace loopmon::cli

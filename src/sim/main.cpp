// loopsim: plays the devices of an RS-485 bus, as the simulator server or on a
// pseudo-terminal.

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "sim/front_ends.h"
#include "sim/replay.h"
#include "sim/scenario.h"

using namespace loopmon;
using namespace loopmon::sim;

namespace {

const char* const Usage = R"(usage:
  loopsim serve [--scenario FILE | --replay FILE.pcapng] [--crc carried|published] [--trace]
      the simulator server: holds the marker "SIMUL" and answers the
      programs' simulator exchanges until Ctrl-C (or SIGTERM, or on Windows
      the console window closed)
  loopsim demo [--scenario FILE] [--crc carried|published]
      serves the bus and opens loopmon beside loopsim on it; closing the
      window ends the demo
  loopsim pty [--scenario FILE | --replay FILE.pcapng] [--crc carried|published]
      [--link PATH] [--echo] [--trace]
      the devices on a pseudo-terminal as a 9600-baud RS-485 line; prints
      the device to open (--link also makes a symbolic link to it); Linux only
  loopsim scenario
      prints the built-in demo scenario (a starting point for your own)

  --replay  answers as the bus in the capture answered (loopctl --trace-format
            pcapng, or the traffic window's save for Wireshark): each request
            with the latest answer the capture holds for it, silence where it
            holds none
  --trace   prints every frame with a timestamp, in hex and decoded
  --echo    echoes the bytes received, like a converter whose receiver stays on
)";

int usageError(const std::string& message) {
  std::fprintf(stderr, "loopsim: %s\n%s", message.c_str(), Usage);
  return 2;
}

struct Arguments {
  std::string command;
  std::string scenarioFile;
  std::optional<CrcTable> crcTable;
  std::string linkPath;
  std::string replayFile;
  bool trace = false;
  bool echo = false;
};

// Returns an error message, or "" when the arguments are fine.
std::string parse(const std::vector<std::string>& args, Arguments& out) {
  if (args.empty()) return "no command given";
  out.command = args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (option == "--trace") {
      out.trace = true;
    } else if (option == "--echo" && out.command == "pty") {
      out.echo = true;
    } else if (option == "--scenario") {
      const auto file = value();
      if (!file) return "--scenario needs a file";
      out.scenarioFile = *file;
    } else if (option == "--replay" && out.command != "demo") {
      const auto file = value();
      if (!file) return "--replay needs a capture file";
      out.replayFile = *file;
    } else if (option == "--link" && out.command == "pty") {
      const auto path = value();
      if (!path) return "--link needs a path";
      out.linkPath = *path;
    } else if (option == "--crc") {
      const auto table = value();
      if (table == "carried") {
        out.crcTable = CrcTable::Carried;
      } else if (table == "published") {
        out.crcTable = CrcTable::Published;
      } else {
        return "--crc is carried or published";
      }
    } else {
      return "unknown option " + option;
    }
  }
  if (!out.replayFile.empty() && !out.scenarioFile.empty()) {
    return "--replay and --scenario exclude each other";
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    std::fputs(Usage, stdout);
    return 0;
  }
  // COM starts the server of a registration with -Embedding when a program
  // asks for an object and no loopsim serves (one was killed, or has just
  // stopped). Serving then would make a second bus that no one sees or stops.
  if (!args.empty() && (args[0] == "-Embedding" || args[0] == "/Embedding")) {
    std::fputs(
        "loopsim: started by COM for a simulator object, but no loopsim serves; loopsim serves "
        "only as \"loopsim serve\" or \"loopsim demo\", and the programs started after it use "
        "its bus\n",
        stderr);
    return 1;
  }
  Arguments arguments;
  if (const std::string error = parse(args, arguments); !error.empty()) return usageError(error);
  if (arguments.command == "scenario") {
    std::fputs(demoScenarioText().c_str(), stdout);
    return 0;
  }
  if (arguments.command != "serve" && arguments.command != "demo" && arguments.command != "pty") {
    return usageError("unknown command " + arguments.command);
  }

  Scenario scenario;
  try {
    scenario =
        arguments.scenarioFile.empty() ? demoScenario() : loadScenarioFile(arguments.scenarioFile);
  } catch (const ScenarioError& error) {
    std::fprintf(stderr, "loopsim: %s\n", error.what());
    return 1;
  }
  if (arguments.crcTable) scenario.crcTable = *arguments.crcTable;
  std::shared_ptr<const ReplayTable> replay;
  if (!arguments.replayFile.empty()) {
    try {
      replay = ReplayTable::load(arguments.replayFile);
    } catch (const ReplayError& error) {
      std::fprintf(stderr, "loopsim: cannot replay %s\n", error.what());
      return 1;
    }
  }

  if (arguments.command == "serve") return serveSimulator({scenario, arguments.trace, replay});
  if (arguments.command == "demo") return playDemo({scenario, arguments.trace, nullptr});
  return playLine({scenario, arguments.trace, arguments.echo, arguments.linkPath, replay});
}

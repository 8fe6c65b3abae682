#include "cli/help.h"

#include "cli/commands.h"
#include "common/translation.h"

namespace loopmon::cli {
std::string programUsage() {
  std::string text = tr("usage: loopctl COMMAND [OPTIONS]\n       loopctl help COMMAND\n\n");
  // Every command's usage lines, its options included: the lines up to the
  // first that does not continue the usage.
  constexpr size_t Prefix = sizeof("usage: ") - 1;
  for (const Command& command : commands()) {
    const std::string usage = command.help;
    size_t end = usage.find('\n');
    while (usage.compare(end + 1, Prefix, std::string(Prefix, ' ')) == 0) {
      end = usage.find('\n', end + 1);
    }
    const std::string lines = usage.substr(Prefix, end + 1 - Prefix);
    for (size_t start = 0; start < lines.size();) {
      const size_t next = lines.find('\n', start) + 1;
      const std::string line = lines.substr(start, next - start);
      text += "  " + (start == 0 ? line : line.substr(Prefix));
      start = next;
    }
  }
  text += trWith(
      "\nPORT is COM1..COM256, a device path, or a line behind a network server\n"
      "(rfc2217://HOST:PORT, tcp://HOST:PORT).\n"
      "While %s serve runs, every request goes to its simulated bus, whatever\n"
      "the port. Options take their value as --opt VALUE or --opt=VALUE.\n"
      "Exit status: 0 done, 1 failed, 2 bad command line, 3 scan or survey found\n"
      "nothing, 4 compare found changes, 130 interrupted.\n"
      "\nWith scan, read, send, check, survey and monitor:\n"
      "  --trace[=FILE]       every attempt on the bus, one line each (time, address,\n"
      "                       request, outcome, answer times, meaning), to standard\n"
      "                       error or FILE\n"
      "  --trace-format json  one JSON object per attempt instead\n"
      "  --trace-format pcapng  with --trace=FILE: a capture for Wireshark, written\n"
      "                       whole at the end (dissector: loopmon.lua, see README)\n"
      "  --stats              at the end, per device on standard error: requests,\n"
      "                       answers, silences, damaged answers, retries, answer time\n",
      {LOOPMON_SIMULATOR_PROGRAM});
  return text;
}

std::string commandUsage(const std::string& command) {
  const Command* found = findCommand(command);
  return found ? tr(found->help) : std::string();
}

std::string versionText() {
  return std::string("loopctl ") + LOOPMON_VERSION;
}

}  // namespace loopmon::cli

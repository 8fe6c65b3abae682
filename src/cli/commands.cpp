#include "cli/commands.h"

#include <memory>
#include <utility>

#include "cli/bus_opening.h"
#include "cli/calibrate_command.h"
#include "cli/check_command.h"
#include "cli/coeffs_command.h"
#include "cli/monitor_command.h"
#include "cli/ports_command.h"
#include "cli/read_command.h"
#include "cli/record_commands.h"
#include "cli/scan_command.h"
#include "cli/send_command.h"
#include "cli/watch_command.h"

namespace loopmon::cli {
namespace {

BusOpener busOpener(TraceOutput* trace) {
  return [trace](const std::string& port) { return openBus(parsePort(port), trace); };
}

SessionOpener sessionOpener(TraceOutput* trace) {
  return [trace](const std::string& port, std::shared_ptr<OwnerDispatcher> owner) {
    return openBus(parsePort(port), trace, std::move(owner));
  };
}

std::unique_ptr<TRSSession> watchedSessions(const std::string& port) {
  try {
    return watchedBus(parsePort(port));
  } catch (const UsageError&) {
    throw;
  } catch (const CliError&) {
    // A device that is not there yet (a converter unplugged when the service
    // starts) is waited for like one unplugged later.
    return watchedBus({1, port, port});
  }
}

}  // namespace

const std::vector<Command>& commands() {
  static const std::vector<Command> table{
      {"ports",
       "usage: loopctl ports [--map COMn=DEVICE|URL]\n"
       "Lists the serial ports and the COM names they answer to.\n"
       "  --map COMn=DEVICE|URL  lets COMn name DEVICE (or a network line) from now on\n",
       {"--map"},
       {},
       BusUse::None,
       [](const CommandCall& call) { return ports(call.args); }},
      {"scan",
       "usage: loopctl scan --port PORT [--addr LIST] [--quick] [--json | --csv]\n"
       "Searches the bus and prints one line per device that answers: address 127\n"
       "first, then the others in rising order. Progress (N/127) goes to standard\n"
       "error, and a summary line at the end.\n"
       "  --addr LIST   addresses to probe, e.g. 1-20,127 (default 1-127)\n"
       "  --quick       one short try per address, then two passes over the silent\n"
       "                ones; whatever answers gets every attempt of the full search\n"
       "  --json        one JSON object per device: addr, type, name, version\n"
       "  --csv         CSV: addr, type, name, version\n"
       "Exit status 3 when no device answers.\n",
       {"--port", "--addr"},
       {"--json", "--csv", "--quick"},
       BusUse::Traced,
       [](const CommandCall& call) { return scan(call.args, busOpener(call.trace)); }},
      {"read",
       "usage: loopctl read --port PORT --addr N [--state] [--skip LIST] [--all-rows]\n"
       "                    [--period S [--passes K]] [--csv | --json] [--summary]\n"
       "Reads the device's loops once: the ADC reading and kilo-ohms, or the states.\n"
       "  --state       the loop states instead of the ADC view\n"
       "  --skip LIST   loops to leave out, e.g. 3,5-8\n"
       "  --all-rows    every loop of a line controller, not only the first\n"
       "  --period S    repeats every S seconds (1..30), until Ctrl-C without --passes\n"
       "  --passes K    ends after K passes\n"
       "  --csv, --json timestamped rows: time, addr, loop, adc, kohm, text; texts\n"
       "                such as \"Обрыв\" or \"КЗ\" only in the text column\n"
       "  --summary     at the end (also after Ctrl-C) one line per loop: readings,\n"
       "                lowest and highest kilo-ohms, moves into and out of alarm,\n"
       "                open and short (JSON objects with --json)\n",
       {"--port", "--addr", "--skip", "--period", "--passes"},
       {"--state", "--all-rows", "--csv", "--summary", "--json"},
       BusUse::Traced,
       [](const CommandCall& call) { return read(call.args, call.trace); }},
      {"send",
       "usage: loopctl send --port PORT BYTE...\n"
       "Sends one raw request (address, length, modifier, command, data; the\n"
       "checksum is added) and prints the answer in hex and decoded.\n",
       {"--port"},
       {},
       BusUse::Traced,
       [](const CommandCall& call) { return send(call.args, call.trace); }},
      {"check",
       "usage: loopctl check --port PORT [--addr N] [--fix]\n"
       "Checks the converter behind PORT, one line each with a verdict: open time,\n"
       "echo of our own bytes, the USB latency timer (Linux, FTDI), how late this\n"
       "machine wakes from the timed send's sleeps and the spin margin that follows,\n"
       "and with --addr the round trip and turnaround margin to device N; then the\n"
       "SmartPI/USARTMode the measurements suggest and whether the port takes\n"
       "kernel RS-485 mode.\n"
       "  --fix         sets an FTDI latency timer to 1 ms where permitted\n"
       "Exit status 1 when a check failed.\n",
       {"--port", "--addr"},
       {"--fix"},
       BusUse::Traced,
       [](const CommandCall& call) { return check(call.args, busOpener(call.trace)); }},
      {"coeffs",
       "usage: loopctl coeffs --type CODE --version VERSION\n"
       "Prints the coefficients a reading of that device uses: its section of\n"
       "ohmgauge.kft, or the built-in pair. VERSION as scan prints it (1.05) or as\n"
       "the device reports it (105).\n",
       {"--type", "--version"},
       {},
       BusUse::None,
       [](const CommandCall& call) { return coeffs(call.args); }},
      {"calibrate",
       "usage: loopctl calibrate [--type CODE --version VERSION] --r1 KOHM --acp1 ADC\n"
       "                         --r2 KOHM --acp2 ADC\n"
       "Works out the coefficients from two reference points; with --type and\n"
       "--version stores them in ohmgauge.kft. KOHM takes \".\" or \",\".\n",
       {"--type", "--version", "--r1", "--acp1", "--r2", "--acp2"},
       {},
       BusUse::None,
       [](const CommandCall& call) { return calibrate(call.args); }},
      {"survey",
       "usage: loopctl survey --port PORT [--addr LIST] [--quick] [--site TEXT]\n"
       "                      [--out FILE.json]\n"
       "Searches the bus and reads every loop of every device found in both views\n"
       "(a line controller's 127 numbers included), as read does; writes the site\n"
       "record as one JSON document. Progress (N/127, then device K of M) goes to\n"
       "standard error.\n"
       "  --addr LIST   addresses to search, e.g. 1-20,127 (default 1-127)\n"
       "  --quick       the quick search, as scan --quick makes it\n"
       "  --site TEXT   the site's name, kept in the record\n"
       "  --out FILE    the record's file, written whole or not at all (default:\n"
       "                standard output)\n"
       "Exit status 3 when no device answers; nothing is written then.\n",
       {"--port", "--addr", "--site", "--out"},
       {"--quick"},
       BusUse::Traced,
       [](const CommandCall& call) { return survey(call.args, busOpener(call.trace)); }},
      {"compare",
       "usage: loopctl compare OLD.json NEW.json [--tolerance PCT] [--json]\n"
       "Names what changed between two site records, one line each: a device gone,\n"
       "new, or of another type or version; a resistance that moved by more than\n"
       "the tolerance; a loop that became or stopped being open (\"Обрыв\"), short\n"
       "(\"КЗ\") or unanswered; another text or state. Nothing for an unchanged site.\n"
       "  --tolerance PCT  how far a resistance may move, in percent (default 10)\n"
       "  --json        one JSON object per change: addr, loop, what, old, new\n"
       "Exit status 0 when nothing changed, 4 when something did, 1 for a file\n"
       "that is not a record.\n",
       {"--tolerance"},
       {"--json"},
       BusUse::None,
       [](const CommandCall& call) { return compare(call.args); }},
      {"report",
       "usage: loopctl report FILE.json [--compare OLD.json] --html OUT.html\n"
       "                      [--tolerance PCT] [--history DIR]\n"
       "Writes the record as a self-contained HTML page that prints on A4: each\n"
       "device's loops, the resistances as bars against their normal band, open,\n"
       "short and alarm marked; with --compare the changes first, marked in the\n"
       "tables. The last page is a certificate to sign with the record's SHA-256.\n"
       "  --tolerance PCT  the width of the normal band and of what counts as a\n"
       "                change, in percent (default 10)\n"
       "  --history DIR the site's records in DIR up to this one: each loop's\n"
       "                series drawn with its band and forecast, and the loops\n"
       "                due to leave their band before the next visit first\n",
       {"--compare", "--html", "--tolerance", "--history"},
       {},
       BusUse::None,
       [](const CommandCall& call) { return report(call.args); }},
      {"monitor",
       "usage: loopctl monitor --port PORT --poll LIST [--subscribe ADDR:LOOP,...]\n"
       "                       [--adc-period MS] [--duration S] [--json] [--summary]\n"
       "Watches the bus with the background worker and prints one line per event,\n"
       "until --duration has passed or Ctrl-C; --summary ends with one line per\n"
       "subscribed loop, as read --summary does.\n",
       {"--port", "--poll", "--subscribe", "--adc-period", "--duration"},
       {"--json", "--summary"},
       BusUse::Traced,
       [](const CommandCall& call) { return monitor(call.args, sessionOpener(call.trace)); }},
      {"watch",
       "usage: loopctl watch --port PORT [--port PORT ...] [--addr LIST] [--period S]\n"
       "                     [--log DIR] [--log-size MB] [--metrics HOST:PORT]\n"
       "                     [--site TEXT] [--passes K] [--service]\n"
       "Watches whole buses unattended: each line on its own, its devices found by a\n"
       "search of --addr (default 1-127) and one further address a pass for\n"
       "newcomers, every loop read in both views every pass. Writes one JSON line\n"
       "per event: started, device found, condition (from, to, kohm, adc), flapping\n"
       "started and stopped, device gone and back, line lost and back (with the\n"
       "gap), stopped. A lost line is opened again every second.\n"
       "  --period S      at least S seconds from a pass's start to the next\n"
       "                  (default 0: as fast as the bus allows)\n"
       "  --log DIR       the events to DIR/watch.jsonl, rotated by size, all files\n"
       "                  together within --log-size MB (default 100); without it,\n"
       "                  to standard output\n"
       "  --metrics HOST:PORT  serves /metrics (OpenMetrics) for Prometheus; HOST\n"
       "                  127.0.0.1 unless given\n"
       "  --site TEXT     the site's name in the events and the metrics\n"
       "  --passes K      ends after K passes of each line\n"
       "  --service       run by the service manager (Windows: registered with sc\n"
       "                  create, see the README; systemd needs no option)\n"
       "Ends with a stopped event on Ctrl-C or SIGTERM (exit status 0 for SIGTERM).\n",
       {"--port", "--addr", "--period", "--log", "--log-size", "--metrics", "--site", "--passes"},
       {"--service"},
       BusUse::OwnSessions,
       [](const CommandCall& call) { return watch(call.args, watchedSessions); }},
      {"history",
       "usage: loopctl history DIR|FILE... [--band TYPE:LOW..HIGH] [--next TIME]\n"
       "                       [--tolerance PCT] [--json]\n"
       "Follows each loop of a site across its visits, from the site records in the\n"
       "folders given (with their subfolders, every *.json) and the files given: its\n"
       "kilo-ohms visit by visit, its drift in kOhm per month with the standard\n"
       "error, and where the drift is more than twice its error the date its line\n"
       "leaves the loop's band. Loops that leave it before the next visit come first,\n"
       "their date marked \"!\". Records are matched by site, devices by address and\n"
       "type; a file that is not a record is named on standard error and left out.\n"
       "  --band TYPE:LOW..HIGH  the band of the loops of device type TYPE in\n"
       "                kilo-ohms, once per type (default: the loop's first\n"
       "                resistance give or take the tolerance)\n"
       "  --next TIME   when the next visit is due after the last: 180d, 26w, 6m or\n"
       "                1y (default 6m)\n"
       "  --tolerance PCT  the band's width, in percent (default 10)\n"
       "  --json        one JSON object per loop: site, addr, type, loop, visits, kohm,\n"
       "                band, slope, slope_error, leaves_band, before_next_visit\n",
       {"--band", "--next", "--tolerance"},
       {"--json"},
       BusUse::None,
       [](const CommandCall& call) { return history(call.args); }},
      {"verify",
       "usage: loopctl verify FILE.json [--html FILE.html]\n"
       "Says whether a record's page (report's, or the one the desktop program saves\n"
       "beside the record) and the record still belong together: the page carries\n"
       "the SHA-256 of the record's file on its last page, the certificate to sign,\n"
       "and the digest of its own bytes. Prints the record's SHA-256, then whether\n"
       "the page was changed since it was written, and whether the record is the\n"
       "one the page was written for, changed since, or another record.\n"
       "  --html FILE   the page (default: the record's name with .html)\n"
       "Exit status 0 when they belong together and neither changed, 4 otherwise.\n",
       {"--html"},
       {},
       BusUse::None,
       [](const CommandCall& call) { return verify(call.args); }},
      {"sites",
       "usage: loopctl sites DIR... [--every TIME] [--html OUT.html]\n"
       "                     [--band TYPE:LOW..HIGH] [--tolerance PCT]\n"
       "Lists every site of the records in the folders given (with their\n"
       "subfolders, every *.json), one line each: its last visit (marked overdue\n"
       "when more than --every ago), visits, devices and loops of the latest record,\n"
       "the loops worst off in it (open, short, unanswered, alarm, then the\n"
       "resistances furthest outside their band) and the loops forecast to leave\n"
       "their band before the next visit, as history forecasts them.\n"
       "  --every TIME  how often a site is visited: 180d, 26w, 6m or 1y (default 6m)\n"
       "  --html OUT    also an index page, each site linking the report of its\n"
       "                latest record: the page beside the record, or one written\n"
       "                beside the index with the site's history\n"
       "  --band TYPE:LOW..HIGH  the band of the loops of device type TYPE in\n"
       "                kilo-ohms, once per type (default: the loop's first\n"
       "                resistance give or take the tolerance)\n"
       "  --tolerance PCT  the band's width, in percent (default 10)\n",
       {"--every", "--html", "--band", "--tolerance"},
       {},
       BusUse::None,
       [](const CommandCall& call) { return sites(call.args); }},
  };
  return table;
}

const Command* findCommand(const std::string& name) {
  for (const Command& command : commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

}  // namespace loopmon::cli

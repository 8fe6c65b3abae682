// What a server that never stops sending costs a client: the time until a raw
// request (`loopctl send`'s way: open, then the direct request) gives up, and
// the peak memory of the process above its idle size. Three servers on the
// loopback address: a raw line streaming zeros, a telnet server streaming
// zeros instead of negotiating, and one that negotiates and then opens a
// subnegotiation that never ends. Each request runs in a child process of its
// own, stopped after 10 s if it has not given up by then.
//
//   flood_bench

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/remote/telnet_codec.h"
#include "scoped_temp_dir.h"
#include "scripted_server.h"
#include "session/session.h"
#include "transport/bus_state.h"

using namespace loopmon;
using namespace loopmon::telnet;
using Steady = std::chrono::steady_clock;

namespace {

constexpr auto GiveUpLimit = std::chrono::seconds(10);

enum class Flood { RawZeros, TelnetZeros, EndlessSubnegotiation };

// Accepts connections one after another and floods each until the client leaves.
class FloodingServer {
 public:
  explicit FloodingServer(Flood flood) : flood_(flood) {
    thread_ = std::thread([this] {
      const TelnetBytes agreeThenOpen{Iac, Do, BinaryOption,  Iac, Will, BinaryOption,
                                      Iac, Do, ComPortOption, Iac, Sb,   ComPortOption,
                                      101};
      while (!stop_) {
        if (server_.accept())
          server_.flood(flood_ == Flood::EndlessSubnegotiation ? agreeThenOpen : TelnetBytes{});
      }
    });
  }
  ~FloodingServer() {
    stop_ = true;
    thread_.join();
  }

  std::string url() const { return server_.url(flood_ == Flood::RawZeros ? "tcp" : "rfc2217"); }

 private:
  Flood flood_;
  testing::ScriptedServer server_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

long maxRssKb() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void report(int out, const std::string& text) {
  [[maybe_unused]] const ssize_t written = ::write(out, text.data(), text.size());
}

// In the child: the idle size (at once, so a child stopped later has told it),
// then the request and its outcome, on `out`.
[[noreturn]] void requestAndReport(const std::string& url, int out) {
  std::string message;
  try {
    TRSSession session(Platform::system());
    session.SetPortPath(url);
    report(out, std::to_string(maxRssKb()) + "\n");
    if (!session.OpenPort()) {
      message = session.DescribeOpenFailure();
    } else if (session.DirectRequest({9, 6, 0, 1, 0, 0}, 1)) {
      message = "answered";
    } else {
      message = session.PortFailure().empty() ? "no answer" : session.PortFailure();
    }
  } catch (const std::exception& error) {
    message = error.what();
  }
  report(out, message);
  ::_exit(0);
}

struct Outcome {
  double seconds = 0;
  bool gaveUp = false;
  long idleKb = 0;
  long peakKb = 0;
  std::string message;
};

Outcome measure(const std::string& url) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
  const auto started = Steady::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    requestAndReport(url, pipeFds[1]);
  }
  ::close(pipeFds[1]);
  Outcome outcome;
  int status = 0;
  rusage usage{};
  while (::wait4(child, &status, WNOHANG, &usage) == 0) {
    if (Steady::now() - started > GiveUpLimit) {
      ::kill(child, SIGKILL);
      ::wait4(child, &status, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  outcome.seconds = std::chrono::duration<double>(Steady::now() - started).count();
  outcome.gaveUp = WIFEXITED(status);
  outcome.peakKb = usage.ru_maxrss;
  std::string told;
  char chunk[512];
  for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) told.append(chunk, n);
  ::close(pipeFds[0]);
  const size_t newline = told.find('\n');
  if (newline != std::string::npos) {
    outcome.idleKb = std::stol(told.substr(0, newline));
    outcome.message = told.substr(newline + 1);
  }
  return outcome;
}

}  // namespace

int main() {
  testing::ScopedTempDir folder;
  testing::ScopedEnv runtime("XDG_RUNTIME_DIR", folder.file("run"));
  testing::ScopedEnv config("XDG_CONFIG_HOME", folder.file("config"));
  struct Case {
    const char* what;
    Flood flood;
  };
  const Case cases[] = {{"raw line streaming zeros", Flood::RawZeros},
                        {"telnet server streaming zeros", Flood::TelnetZeros},
                        {"endless telnet subnegotiation", Flood::EndlessSubnegotiation}};
  std::printf("a raw request to a server that never stops sending (goal: under 3 s and 20 MB)\n");
  std::printf("%-32s %10s %12s %s\n", "server", "given up", "peak - idle", "message");
  for (const Case& c : cases) {
    FloodingServer server(c.flood);
    const Outcome outcome = measure(server.url());
    char when[32];
    std::snprintf(when, sizeof when, outcome.gaveUp ? "%.2f s" : "> %.0f s", outcome.seconds);
    std::printf("%-32s %10s %9.1f MB %s\n", c.what, when,
                static_cast<double>(outcome.peakKb - outcome.idleKb) / 1024.0,
                outcome.gaveUp ? outcome.message.c_str() : "(stopped: it never gave up)");
  }
  return 0;
}

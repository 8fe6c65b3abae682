#pragma once
// A real loopsim process for tests: started with arguments, its first output
// line (where it serves or which device it plays on) read back, and stopped
// with SIGTERM (or killed) at the end. It inherits XDG_RUNTIME_DIR, so a test
// that points that at a folder of its own gets a server of its own.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "scoped_temp_dir.h"

extern char** environ;

namespace loopmon::testing {

class LoopsimProcess {
 public:
  // `binary` is the loopsim executable; `args` follow it.
  LoopsimProcess(const std::string& binary, const std::vector<std::string>& args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> all{binary};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    output_ = out[0];
  }

  ~LoopsimProcess() {
    stop();
    if (output_ >= 0) close(output_);
  }

  LoopsimProcess(const LoopsimProcess&) = delete;
  LoopsimProcess& operator=(const LoopsimProcess&) = delete;

  // The next line of its standard output without the newline; "" when none
  // comes within the time-out.
  std::string readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      const auto end = pending_.find('\n');
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd entry{output_, POLLIN, 0};
      if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) return {};
      char chunk[256];
      const ssize_t n = read(output_, chunk, sizeof(chunk));
      if (n <= 0) return {};
      pending_.append(chunk, static_cast<size_t>(n));
    }
  }

  pid_t pid() const { return pid_; }
  // Sends SIGTERM and returns the exit status (-1 when it did not exit normally).
  int stop() { return finish(SIGTERM); }
  // Waits for it to end by itself and returns the exit status.
  int waitExit() { return finish(0); }
  void kill() { finish(SIGKILL); }
  void pause() {
    ::kill(pid_, SIGSTOP);
    paused_ = true;
  }

 private:
  int finish(int signal) {
    if (pid_ <= 0) return exitStatus_;
    if (signal) ::kill(pid_, signal);
    // A paused process takes its signal only once it runs again.
    if (paused_) ::kill(pid_, SIGCONT);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exitStatus_;
  }

  pid_t pid_ = -1;
  int output_ = -1;
  int exitStatus_ = -1;
  bool paused_ = false;
  std::string pending_;
};

// A private XDG_RUNTIME_DIR for this test process and the loopsim processes
// it starts; removed again at the end.
class PrivateRuntimeFolder {
 public:
  const std::string& path() const { return folder_.path(); }

 private:
  ScopedTempDir folder_;
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", folder_.path()};
};

}  // namespace loopmon::testing

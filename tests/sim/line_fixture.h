#pragma once
// `loopsim pty` for tests: started on a scenario of the test's own, with the
// device it plays on read from its first line.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "loopsim_process.h"

namespace loopmon::testing {

class SimulatedLine {
 public:
  explicit SimulatedLine(const std::string& scenario, std::vector<std::string> extraArgs = {}) {
    std::ofstream(scenarioFile_) << scenario;
    std::vector<std::string> args{"pty", "--scenario", scenarioFile_};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    process_ = std::make_unique<LoopsimProcess>(LOOPSIM_BINARY, args);
    const std::string first = process_->readLine();
    const std::string prefix = "loopsim: line on ";
    if (first.starts_with(prefix)) device_ = first.substr(prefix.size());
  }
  // Where to open the line; "" when loopsim did not come up.
  const std::string& device() const { return device_; }
  LoopsimProcess& process() { return *process_; }

 private:
  PrivateRuntimeFolder runtime_;
  std::string scenarioFile_ = runtime_.path() + "/scenario.ini";
  std::unique_ptr<LoopsimProcess> process_;
  std::string device_;
};

}  // namespace loopmon::testing

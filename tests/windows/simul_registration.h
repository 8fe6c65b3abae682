#pragma once
// The simulator server of the tests (simul_test_server.dll beside the test
// programs), registered on the machine for "Simul.Simulator" and
// "Simul.Simul2" the way an installer registers an in-process server.

#include <string>

namespace loopmon::test {

// Registers both ProgIDs; `dllPath` defaults to the test server.
void registerSimulatorServer(const std::string& dllPath = "");
void forgetSimulatorServer();

// Keeps the server loaded while it lives, so its counts outlast the release
// of the component library after every direct-side exchange.
class LoadedServer {
 public:
  LoadedServer();
  ~LoadedServer();
  LoadedServer(const LoadedServer&) = delete;
  LoadedServer& operator=(const LoadedServer&) = delete;

 private:
  void* module_;
};

// The server's own counts, read from the loaded server; -1 when it is not loaded.
long simulatorLiveObjects();
long simulatorTransceivingCalls();
long simulatorObmenCalls();

}  // namespace loopmon::test

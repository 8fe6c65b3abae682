#include "simul_registration.h"

#include "platform/program_folder.h"
#include "platform/registry.h"
#include "platform/text_win32.h"

namespace loopmon::test {
namespace {

struct ServerClass {
  const char* progId;
  const char* classId;
};

constexpr ServerClass Classes[] = {
    {"Simul.Simulator", "{6E1B0D2A-4C41-4B7E-9A51-3C0D1E7A0001}"},
    {"Simul.Simul2", "{6E1B0D2A-4C41-4B7E-9A51-3C0D1E7A0002}"},
};

long serverCount(const char* exportName) {
  using Count = long(STDAPICALLTYPE*)();
  auto count = win32::procAddress<Count>(L"simul_test_server.dll", exportName);
  return count ? count() : -1;
}

}  // namespace

void registerSimulatorServer(const std::string& dllPath) {
  const std::string server = dllPath.empty() ? programFolder() + "simul_test_server.dll" : dllPath;
  auto registry = openSystemRegistry();
  for (const ServerClass& c : Classes) {
    const std::string progKey = std::string("Software\\Classes\\") + c.progId + "\\CLSID";
    const std::string serverKey =
        std::string("Software\\Classes\\CLSID\\") + c.classId + "\\InprocServer32";
    registry->createKey(progKey);
    registry->write(progKey, "", RegValue::ofString(c.classId));
    registry->createKey(serverKey);
    registry->write(serverKey, "", RegValue::ofString(server));
    registry->write(serverKey, "ThreadingModel", RegValue::ofString("Apartment"));
  }
}

void forgetSimulatorServer() {
  for (const ServerClass& c : Classes) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                   win32::widen(std::string("Software\\Classes\\") + c.progId).c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                   win32::widen(std::string("Software\\Classes\\CLSID\\") + c.classId).c_str());
  }
}

LoadedServer::LoadedServer()
    : module_(LoadLibraryW(win32::widen(programFolder() + "simul_test_server.dll").c_str())) {}

LoadedServer::~LoadedServer() {
  if (module_) FreeLibrary(static_cast<HMODULE>(module_));
}

long simulatorLiveObjects() {
  return serverCount("SimulLiveObjects");
}
long simulatorTransceivingCalls() {
  return serverCount("SimulTransceivingCalls");
}
long simulatorObmenCalls() {
  return serverCount("SimulObmenCalls");
}

}  // namespace loopmon::test

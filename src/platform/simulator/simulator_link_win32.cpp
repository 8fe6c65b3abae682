// The simulator server as a late-bound automation object: created from its
// ProgID, its one method found by name and called with one string argument.
// Every object initialises the component library on the thread that creates
// it and releases it again with the object, so a direct-side exchange leaves
// the thread as it found it. A failure says what the user can do about it.

#include <ole2.h>

#include <string>
#include <thread>

#include "platform/simulator/simulator_link.h"
#include "platform/store/program_folder.h"
#include "platform/system/named_marker.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {
namespace {

const wchar_t* progIdOf(SimulatorSide side) {
  return side == SimulatorSide::Direct ? L"Simul.Simulator" : L"Simul.Simul2";
}

// The component library on one thread, from CoInitialize to CoUninitialize.
class ComApartment {
 public:
  ComApartment() : owner_(std::this_thread::get_id()) {
    // S_FALSE (already initialised here) is counted and must be balanced too;
    // a thread already in the multithreaded model keeps it.
    joined_ = SUCCEEDED(CoInitialize(nullptr));
  }
  ~ComApartment() {
    if (joined_ && std::this_thread::get_id() == owner_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  std::thread::id owner_;
  bool joined_ = false;
};

std::string failure(const wchar_t* progId, const char* step, const std::string& cause) {
  return std::string(step) + " " + win32::narrow(progId) + ": " + cause;
}

std::string failure(const wchar_t* progId, const char* step, HRESULT hr) {
  return failure(progId, step, win32::systemMessage(static_cast<DWORD>(hr)));
}

// Held by a loopsim.exe that is starting. It takes "SIMUL" before the slow
// part of its start (the component library's first start in a new profile or
// Wine prefix has taken over 8 s), so that no program started meanwhile goes
// to the port, and lets this go once its objects can be created.
constexpr const char* StartingMarker = "loopsim-starting";
constexpr DWORD StartingWaitMs = 30000;
constexpr DWORD StartingPollMs = 100;

// What the user can do when the object cannot be had.
std::string advice(SimulatorProblem problem, const wchar_t* progId) {
  const std::string name = win32::narrow(progId);
  switch (problem) {
    case SimulatorProblem::NotRegistered:
      return name +
             " is not registered on this computer: install loopmon, or start \"loopsim serve\" "
             "from the programs' folder (it registers the simulator while it serves)";
    case SimulatorProblem::NotServing:
      return "no simulator runs: start \"loopsim serve\" (or the demo) and try again";
    case SimulatorProblem::Starting:
      return "the simulator is starting and has not served within " +
             std::to_string(StartingWaitMs / 1000) +
             " s: wait until loopsim says that it serves, then try again";
    case SimulatorProblem::Unreachable:
      return "the simulator runs but " + name +
             " cannot be reached: end loopsim (Ctrl-C, or close its window) and start it again; "
             "if that does not help, log off and on again (under Wine: wineserver -k)";
    case SimulatorProblem::Other:
    case SimulatorProblem::NotResponding:
      break;
  }
  return {};
}

[[noreturn]] void fail(SimulatorProblem problem, const wchar_t* progId, const std::string& detail) {
  throw SimulatorUnavailable(advice(problem, progId) + " (" + detail + ")", problem, detail);
}

// A starting loopsim is waited for, so that a program started together with
// it (the demo's window, a script) does not fail.
void waitWhileStarting(const wchar_t* progId) {
  const auto markers = makeMarkerService(runtimeFolder);
  for (DWORD waited = 0; markers->openExisting(StartingMarker); waited += StartingPollMs) {
    if (waited >= StartingWaitMs) {
      fail(SimulatorProblem::Starting, progId, win32::narrow(progId) + " is not served yet");
    }
    Sleep(StartingPollMs);
  }
}

// Found but not created: with the marker "SIMUL" still held a server runs
// whose objects cannot be reached (Wine answers E_NOINTERFACE when it cannot
// pass the object's IDispatch to this process, or when the loopsim it starts
// for a class no server offers ends at once); without it, none runs.
SimulatorProblem creationProblem(HRESULT hr) {
  if (hr == REGDB_E_CLASSNOTREG) return SimulatorProblem::NotRegistered;
  return makeMarkerService(runtimeFolder)->openExisting("SIMUL") ? SimulatorProblem::Unreachable
                                                                 : SimulatorProblem::NotServing;
}

// A key of HKEY_CLASSES_ROOT as 32-bit programs see it.
bool classKeyIn32BitView(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

// The servers of the old installations are 32-bit DLLs. A 64-bit process can
// neither load one nor see its registration, which lives in the 32-bit view,
// so COM reports the class as not registered at all; the 32-bit view tells
// whether that is the reason.
bool only32BitInprocServer(const wchar_t* progId, HRESULT hr) {
  if (hr != REGDB_E_CLASSNOTREG && hr != CO_E_CLASSSTRING) return false;
  wchar_t classId[64] = {};
  DWORD size = sizeof classId;
  if (RegGetValueW(HKEY_CLASSES_ROOT, (std::wstring(progId) + L"\\CLSID").c_str(), nullptr,
                   RRF_RT_REG_SZ | RRF_SUBKEY_WOW6432KEY, nullptr, classId,
                   &size) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring classKey = std::wstring(L"CLSID\\") + classId + L"\\";
  return classKeyIn32BitView(classKey + L"InprocServer32") &&
         !classKeyIn32BitView(classKey + L"LocalServer32");
}

constexpr const char* Only32BitInprocServer =
    "the simulator server is a 32-bit in-process server; register it as a local server or use a "
    "surrogate";

class ComSimulatorObject final : public SimulatorObject {
 public:
  ComSimulatorObject(std::unique_ptr<ComApartment> apartment, IDispatch* dispatch, DISPID method)
      : apartment_(std::move(apartment)), dispatch_(dispatch), method_(method) {}
  // The object goes before the library it lives in.
  ~ComSimulatorObject() override { dispatch_->Release(); }
  ComSimulatorObject(const ComSimulatorObject&) = delete;
  ComSimulatorObject& operator=(const ComSimulatorObject&) = delete;

  std::string call(const std::string& requestText) override {
    const std::wstring wide = win32::widen(requestText);
    VARIANTARG argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    DISPPARAMS parameters{&argument, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = dispatch_->Invoke(method_, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                         &parameters, &result, nullptr, nullptr);
    VariantClear(&argument);
    std::string answer;
    if (SUCCEEDED(hr) && SUCCEEDED(VariantChangeType(&result, &result, 0, VT_BSTR)) &&
        result.bstrVal) {
      answer = win32::narrow(result.bstrVal, SysStringLen(result.bstrVal));
    }
    VariantClear(&result);
    return answer;
  }

 private:
  std::unique_ptr<ComApartment> apartment_;
  IDispatch* dispatch_;
  DISPID method_;
};

class ComSimulatorLink final : public SimulatorLink {
 public:
  std::unique_ptr<SimulatorObject> create(SimulatorSide side) override {
    const wchar_t* progId = progIdOf(side);
    waitWhileStarting(progId);
    auto apartment = std::make_unique<ComApartment>();
    CLSID classId{};
    HRESULT hr = CLSIDFromProgID(progId, &classId);
    const bool found = SUCCEEDED(hr);
    IDispatch* dispatch = nullptr;
    if (found) {
      hr = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                            IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    }
    if (only32BitInprocServer(progId, hr)) {
      throw SimulatorUnavailable(failure(progId, "Cannot create", Only32BitInprocServer));
    }
    if (FAILED(hr)) {
      fail(found ? creationProblem(hr) : SimulatorProblem::NotRegistered, progId,
           failure(progId, found ? "Cannot create" : "Cannot find", hr));
    }
    DISPID method = DISPID_UNKNOWN;
    std::wstring methodName = win32::widen(simulatorMethodName(side));
    LPOLESTR names = methodName.data();
    hr = dispatch->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &method);
    if (FAILED(hr)) {
      dispatch->Release();
      throw SimulatorUnavailable(failure(progId, "No method in", hr));
    }
    return std::make_unique<ComSimulatorObject>(std::move(apartment), dispatch, method);
  }
};

}  // namespace

std::shared_ptr<SimulatorLink> makeSimulatorLink() {
  return std::make_shared<ComSimulatorLink>();
}

}  // namespace loopmon

// `loopsim serve` on Windows: a local automation server. For as long as it
// serves, this process registers the classes of "Simul.Simulator" and
// "Simul.Simul2" with COM, so every object a program creates (loopmon.exe and
// loopctl.exe make one per direct exchange and one for their worker) reaches
// this one bus and its state. The installer registers the classes for the
// machine, and an installed loopsim writes nothing; one run from a build
// folder writes them for the current user (HKCU\Software\Classes, no
// administrator rights) while it serves. loopsim removes only what it wrote,
// and never takes over another installation's registration. It holds the
// marker "SIMUL" from the start, before the slow part (the component
// library's first start in a new profile or Wine prefix has taken over 8 s),
// with "loopsim-starting" beside it until its objects can be created: a
// program started meanwhile waits for them instead of going to the port.

#include <ole2.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/simulator/simulator_link.h"
#include "platform/store/program_folder.h"
#include "platform/system/named_marker.h"
#include "platform/system/windows_api_win32.h"
#include "sim/device_model.h"
#include "sim/front_ends.h"
#include "sim/socket_calls.h"

namespace loopmon::sim {
namespace {

struct ServerClass {
  const wchar_t* progId;
  const wchar_t* classId;
  SimulatorSide side;
};

constexpr ServerClass Classes[] = {
    {L"Simul.Simulator", L"{1C9E6E63-7226-4772-9AC9-C55F2CB8C05C}", SimulatorSide::Direct},
    {L"Simul.Simul2", L"{EA60188A-A67E-4C9C-BE36-BFBBC6520BF1}", SimulatorSide::Worker},
};

// Calls come in on the RPC threads of the multithreaded apartment; the bus
// answers them one at a time.
class Bus {
 public:
  explicit Bus(const ServeOptions& options)
      : bus_(makeResponder(options.scenario, options.replay)), calls_(*bus_, options.trace) {}

  std::string answer(SimulatorSide side, const std::string& requestText) {
    const std::lock_guard<std::mutex> hold(lock_);
    return calls_.answer(std::string(simulatorMethodName(side)) + " " + requestText);
  }

 private:
  std::mutex lock_;
  std::unique_ptr<BusResponder> bus_;
  SocketCalls calls_;
};

// One automation object: late-bound only (IDispatch, no type library), with
// the one method of its side.
class DeviceSimulator final : public IDispatch {
 public:
  static constexpr DISPID MethodId = 1;

  DeviceSimulator(Bus& bus, SimulatorSide side)
      : bus_(bus), side_(side), method_(win32::widen(simulatorMethodName(side))) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = iid == IID_IUnknown || iid == IID_IDispatch ? static_cast<IDispatch*>(this) : nullptr;
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (count != 1 || _wcsicmp(names[0], method_.c_str()) != 0) return DISP_E_UNKNOWNNAME;
    ids[0] = MethodId;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO*, UINT* argumentError) override {
    if (id != MethodId || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (parameters->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (parameters->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    VARIANT text;
    VariantInit(&text);
    if (FAILED(VariantChangeType(&text, &parameters->rgvarg[0], 0, VT_BSTR))) {
      if (argumentError) *argumentError = 0;
      return DISP_E_TYPEMISMATCH;
    }
    const std::string request = win32::narrow(text.bstrVal, SysStringLen(text.bstrVal));
    VariantClear(&text);
    const std::wstring answer = win32::widen(bus_.answer(side_, request));
    if (result) {
      VariantInit(result);
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocStringLen(answer.data(), static_cast<UINT>(answer.size()));
    }
    return S_OK;
  }

 private:
  Bus& bus_;
  SimulatorSide side_;
  std::wstring method_;
  std::atomic<ULONG> references_{1};
};

// The class object COM hands to a program that creates one of our objects.
// The server lives until it is stopped, not until its last object goes, so
// locks are not counted.
class Factory final : public IClassFactory {
 public:
  Factory(Bus& bus, SimulatorSide side) : bus_(bus), side_(side) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = iid == IID_IUnknown || iid == IID_IClassFactory ? static_cast<IClassFactory*>(this)
                                                              : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* simulator = new DeviceSimulator(bus_, side_);
    const HRESULT hr = simulator->QueryInterface(iid, object);
    simulator->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  Bus& bus_;
  SimulatorSide side_;
};

std::wstring classesKey(const std::wstring& path) {
  return L"Software\\Classes\\" + path;
}

// A text value of a key in one view of the registry, "" when absent.
std::wstring registryValue(HKEY root, const std::wstring& path, const wchar_t* name,
                           REGSAM view = KEY_WOW64_64KEY) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
    return {};
  }
  wchar_t text[1024] = {};
  DWORD type = 0;
  DWORD size = sizeof text - sizeof(wchar_t);
  const LONG status =
      RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) ? text : L"";
}

// The default value of a key.
std::wstring registryText(HKEY root, const std::wstring& path, REGSAM view) {
  return registryValue(root, path, nullptr, view);
}

bool sameClass(const std::wstring& a, const wchar_t* b) {
  return _wcsicmp(a.c_str(), b) == 0;
}

// Marks a registration that loopsim wrote itself, so that one left behind by
// a loopsim that was killed is not taken for the installation's.
constexpr const wchar_t* ServingMark = L"RegisteredBy";
constexpr const wchar_t* ServingMarkText = L"loopsim serve";

// Which registrations loopsim found, and what it wrote and takes away again
// when it stops. It writes for the user, whose classes Windows merges into the
// class root. Where the class root does not show them (Wine), it writes for
// the machine instead, where this user may.
class ClassRegistration {
 public:
  ClassRegistration() = default;
  ClassRegistration(const ClassRegistration&) = delete;
  ClassRegistration& operator=(const ClassRegistration&) = delete;
  ~ClassRegistration() {
    for (const ServerClass& entry : Classes) {
      if (HKEY root = written_[&entry - Classes]) remove(root, entry);
    }
  }

  // False, with the reason on standard error, when a ProgID belongs to
  // another server or cannot be registered.
  bool claim() {
    for (const ServerClass& entry : Classes) {
      if (const std::string other = otherServer(entry); !other.empty()) {
        std::fprintf(stderr,
                     "loopsim: %s is registered by another installation (%s); loopsim leaves "
                     "that registration as it is and does not serve. Remove it, or use that "
                     "simulator\n",
                     win32::narrow(entry.progId).c_str(), other.c_str());
        return false;
      }
      // What a loopsim ended without its clean-up left behind: no other
      // server runs, so it is nobody's.
      for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        if (!registryValue(root, classesKey(entry.progId), ServingMark).empty()) {
          remove(root, entry);
        }
      }
      const std::wstring machineClass =
          registryText(HKEY_LOCAL_MACHINE, classesKey(entry.progId) + L"\\CLSID", KEY_WOW64_64KEY);
      if (sameClass(machineClass, entry.classId) &&
          registryValue(HKEY_LOCAL_MACHINE, classesKey(entry.progId), ServingMark).empty()) {
        continue;  // the installation's, kept as it is
      }
      HKEY& written = written_[&entry - Classes];
      written = HKEY_CURRENT_USER;
      bool done = write(HKEY_CURRENT_USER, entry);
      if (done && !sameClass(registryText(HKEY_CLASSES_ROOT,
                                          std::wstring(entry.progId) + L"\\CLSID", KEY_WOW64_64KEY),
                             entry.classId)) {
        remove(HKEY_CURRENT_USER, entry);
        written = HKEY_LOCAL_MACHINE;
        done = write(HKEY_LOCAL_MACHINE, entry);
      }
      if (!done) {
        std::fprintf(stderr, "loopsim: cannot register %s: %s\n",
                     win32::narrow(entry.progId).c_str(),
                     win32::systemMessage(GetLastError()).c_str());
        return false;
      }
    }
    return true;
  }

  // How the classes came to be registered, for the line that says loopsim serves.
  const char* origin() const {
    for (HKEY root : written_) {
      if (root == HKEY_LOCAL_MACHINE) return "registered for the machine while it serves";
      if (root == HKEY_CURRENT_USER) return "registered for this user while it serves";
    }
    return "registered by the installation";
  }

 private:
  // "class {...}, server PATH" of a registration of the ProgID that is not
  // ours, for either user or machine and either view of the registry; "".
  static std::string otherServer(const ServerClass& entry) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        const std::wstring classId =
            registryText(root, classesKey(entry.progId) + L"\\CLSID", view);
        if (classId.empty() || sameClass(classId, entry.classId)) continue;
        std::wstring server;
        for (const wchar_t* kind : {L"\\LocalServer32", L"\\InprocServer32"}) {
          if (server.empty()) {
            server = registryText(root, classesKey(L"CLSID\\" + classId + kind), view);
          }
        }
        return "class " + win32::narrow(classId) + ", server " +
               (server.empty() ? std::string("unknown") : win32::narrow(server));
      }
    }
    return {};
  }

  static bool write(HKEY root, const ServerClass& entry) {
    const std::wstring server = L"\"" + win32::widen(programFolder()) + L"loopsim.exe\"";
    const std::wstring progIdKey = classesKey(entry.progId);
    const std::wstring classKey = classesKey(std::wstring(L"CLSID\\") + entry.classId);
    return setText(root, progIdKey, nullptr, L"loopsim device simulator") &&
           setText(root, progIdKey, ServingMark, ServingMarkText) &&
           setText(root, progIdKey + L"\\CLSID", nullptr, entry.classId) &&
           setText(root, classKey, nullptr, entry.progId) &&
           setText(root, classKey + L"\\ProgID", nullptr, entry.progId) &&
           setText(root, classKey + L"\\LocalServer32", nullptr, server);
  }

  static void remove(HKEY root, const ServerClass& entry) {
    RegDeleteTreeW(root, classesKey(entry.progId).c_str());
    RegDeleteTreeW(root, classesKey(std::wstring(L"CLSID\\") + entry.classId).c_str());
  }

  static bool setText(HKEY root, const std::wstring& path, const wchar_t* name,
                      const std::wstring& text) {
    const LONG status = RegSetKeyValueW(root, path.c_str(), name, REG_SZ, text.c_str(),
                                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
  }

  HKEY written_[std::size(Classes)] = {};
};

// Set by Ctrl-C, Ctrl-Break, a closed console window, logoff or shutdown, by
// the end of the demo's window, or by another program through its name
// "loopsim-stop-PID", which stops the server as cleanly as Ctrl-C. A server
// ended any other way leaves its classes behind in Wine's RPC service, and no
// later server can be reached until Wine restarts.
const HANDLE stopRequested = CreateEventW(
    nullptr, TRUE, FALSE, (L"loopsim-stop-" + std::to_wstring(GetCurrentProcessId())).c_str());
const HANDLE stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);

BOOL WINAPI onConsoleControl(DWORD) {
  SetEvent(stopRequested);
  // When the console window closes, the system ends the process as soon as
  // this returns: the registry is put right first.
  WaitForSingleObject(stopped, 4000);
  return TRUE;
}

// A reference to one of our interfaces held for the server's life. Wine takes
// an interface off its RPC runtime when the last object serving it goes, and
// waits there for the calls on it while holding the lock that every other
// call needs to hand out an object: with one object made and dropped per
// exchange, the server hung sooner or later (after tens to thousands of
// exchanges). Held, the class factory's and the objects' interfaces stay
// registered while loopsim serves.
class InterfaceHold {
 public:
  InterfaceHold(IUnknown* object, REFIID iid) {
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream_))) return;
    if (FAILED(CoMarshalInterface(stream_, iid, object, MSHCTX_LOCAL, nullptr,
                                  MSHLFLAGS_TABLESTRONG))) {
      stream_->Release();
      stream_ = nullptr;
    }
  }
  ~InterfaceHold() {
    if (!stream_) return;
    stream_->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    CoReleaseMarshalData(stream_);
    stream_->Release();
  }
  InterfaceHold(const InterfaceHold&) = delete;
  InterfaceHold& operator=(const InterfaceHold&) = delete;

 private:
  IStream* stream_ = nullptr;
};

// The component library in the multithreaded apartment for the server's life.
class ComLibrary {
 public:
  ComLibrary() : joined_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~ComLibrary() {
    if (joined_) CoUninitialize();
  }
  ComLibrary(const ComLibrary&) = delete;
  ComLibrary& operator=(const ComLibrary&) = delete;
  bool joined() const { return joined_; }

 private:
  bool joined_;
};

// Serves until a stop is requested; `serving` runs once the marker is up.
int serve(const ServeOptions& options, const std::function<void()>& serving) {
  const auto markers = makeMarkerService(runtimeFolder);
  bool existed = false;
  auto starting = markers->create("loopsim-starting", existed);
  auto marker = markers->create("SIMUL", existed);
  if (!starting || !marker || existed) {
    std::fprintf(stderr, existed ? "loopsim: a simulator server already runs (the marker "
                                   "\"SIMUL\" exists)\n"
                                 : "loopsim: cannot create the marker \"SIMUL\"\n");
    return 1;
  }
  int status = 1;
  {
    ClassRegistration registration;
    if (!registration.claim()) return 1;
    ComLibrary library;
    if (!library.joined()) {
      std::fprintf(stderr, "loopsim: cannot initialise COM\n");
      return 1;
    }
    Bus bus(options);
    Factory factories[] = {{bus, Classes[0].side}, {bus, Classes[1].side}};
    auto* heldObject = new DeviceSimulator(bus, SimulatorSide::Direct);
    const InterfaceHold holds[] = {{&factories[0], IID_IClassFactory}, {heldObject, IID_IDispatch}};
    heldObject->Release();
    DWORD cookies[std::size(Classes)] = {};
    bool registered = true;
    for (size_t i = 0; i < std::size(Classes) && registered; ++i) {
      CLSID classId{};
      HRESULT hr = CLSIDFromString(Classes[i].classId, &classId);
      if (SUCCEEDED(hr)) {
        hr = CoRegisterClassObject(classId, &factories[i], CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                   &cookies[i]);
      }
      if (FAILED(hr)) {
        std::fprintf(stderr, "loopsim: cannot serve %s: %s\n",
                     win32::narrow(Classes[i].progId).c_str(),
                     win32::systemMessage(static_cast<DWORD>(hr)).c_str());
        registered = false;
      }
    }
    // The classes answer now: a program waiting for them goes on. At the
    // end the marker goes first, before the classes.
    starting.reset();
    if (registered) {
      SetConsoleCtrlHandler(onConsoleControl, TRUE);
      std::printf(
          "loopsim: serving Simul.Simulator and Simul.Simul2 (%s); Ctrl-C or closing "
          "this window ends it\n",
          registration.origin());
      std::fflush(stdout);
      serving();
      WaitForSingleObject(stopRequested, INFINITE);
      marker.reset();
      status = 0;
    }
    for (DWORD cookie : cookies) {
      if (cookie) CoRevokeClassObject(cookie);
    }
  }
  if (status == 0) std::printf("loopsim: stopped\n");
  std::fflush(stdout);
  SetEvent(stopped);
  return status;
}

}  // namespace

int serveSimulator(const ServeOptions& options) {
  return serve(options, [] {});
}

int playDemo(const ServeOptions& options) {
  std::atomic<int> status{0};
  const int served = serve(options, [&status] {
    std::wstring command = L"\"" + win32::widen(programFolder()) + L"loopmon.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION program{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &program)) {
      std::fprintf(stderr, "loopsim: cannot start %s: %s\n", win32::narrow(command).c_str(),
                   win32::systemMessage(GetLastError()).c_str());
      status = 1;
      SetEvent(stopRequested);
      return;
    }
    CloseHandle(program.hThread);
    // Started from the Start menu the console is loopsim's own: the window is
    // the demo, the console only shows how it ends.
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) == 1) ShowWindow(GetConsoleWindow(), SW_HIDE);
    std::thread([process = program.hProcess] {
      WaitForSingleObject(process, INFINITE);
      CloseHandle(process);
      SetEvent(stopRequested);
    }).detach();
  });
  return served != 0 ? served : status.load();
}

}  // namespace loopmon::sim

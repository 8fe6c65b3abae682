// The simulator server as a late-bound automation object: created from its
// ProgID, its one method found by name and called with one string argument.
// Every object initialises the component library on the thread that creates
// it and releases it again with the object, so a direct-side exchange leaves
// the thread as it found it.

#include <ole2.h>

#include <thread>

#include "platform/simulator_link.h"
#include "platform/text_win32.h"

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

std::string failure(const wchar_t* progId, const char* step, HRESULT hr) {
  return std::string(step) + " " + win32::narrow(progId) + ": " +
         win32::systemMessage(static_cast<DWORD>(hr));
}

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
    auto apartment = std::make_unique<ComApartment>();
    CLSID classId{};
    HRESULT hr = CLSIDFromProgID(progId, &classId);
    if (FAILED(hr)) throw SimulatorUnavailable(failure(progId, "Cannot find", hr));
    IDispatch* dispatch = nullptr;
    hr = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                          IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr)) throw SimulatorUnavailable(failure(progId, "Cannot create", hr));
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

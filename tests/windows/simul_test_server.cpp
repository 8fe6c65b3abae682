// An in-process automation server for "Simul.Simulator" and "Simul.Simul2":
// late-bound only (IDispatch, no type library), playing loopsim's demo bus.
// Both methods take a request frame in text form and return the answer's
// text, or "" when no device answers. SimulCount tells the tests its live
// objects (0) and the calls of each method (by its DISPID).

#include <ole2.h>

#include <atomic>
#include <mutex>
#include <string>

#include "platform/text_win32.h"
#include "sim/device_model.h"
#include "transport/frame.h"

namespace {

constexpr DISPID TransceivingId = 1;
constexpr DISPID ObmenId = 2;
std::atomic<long> counts[3];
std::atomic<long>& liveObjects = counts[0];
std::atomic<long> serverLocks{0};

// One bus for every object: the session's direct side and its worker talk to
// the same devices, each from its own thread.
std::string exchange(const std::string& requestText) {
  static std::mutex busLock;
  static loopmon::sim::SimulatedBus bus(loopmon::sim::demoScenario());
  const std::optional<loopmon::Bytes> request = loopmon::frameFromText(requestText);
  if (!request) return {};
  const std::lock_guard<std::mutex> hold(busLock);
  const std::optional<loopmon::Bytes> answer = bus.respond(*request);
  return answer ? loopmon::frameToText(*answer) : std::string();
}

class Simulator final : public IDispatch {
 public:
  Simulator() { ++liveObjects; }
  ~Simulator() { --liveObjects; }

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
    ids[0] = DISPID_UNKNOWN;
    if (count == 1 && _wcsicmp(names[0], L"Transceiving") == 0) ids[0] = TransceivingId;
    if (count == 1 && _wcsicmp(names[0], L"Obmen") == 0) ids[0] = ObmenId;
    return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    if ((id != TransceivingId && id != ObmenId) || !(flags & DISPATCH_METHOD)) {
      return DISP_E_MEMBERNOTFOUND;
    }
    if (parameters->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (parameters->rgvarg[0].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    ++counts[id];
    const BSTR request = parameters->rgvarg[0].bstrVal;
    const std::wstring answer =
        loopmon::win32::widen(exchange(loopmon::win32::narrow(request, SysStringLen(request))));
    if (result) {
      VariantInit(result);
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocStringLen(answer.data(), static_cast<UINT>(answer.size()));
    }
    return S_OK;
  }

 private:
  std::atomic<ULONG> references_{1};
};

// One static factory for the life of the module.
class Factory final : public IClassFactory {
 public:
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
    auto* simulator = new Simulator;
    const HRESULT hr = simulator->QueryInterface(iid, object);
    simulator->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++serverLocks : --serverLocks;
    return S_OK;
  }
};

Factory factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** object) {
  return factory.QueryInterface(iid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" long STDAPICALLTYPE SimulCount(int which) {
  return which >= 0 && which < 3 ? counts[which].load() : -1;
}

// A small in-process automation server standing in for the simulator servers
// "Simul.Simulator" and "Simul.Simul2": late-bound only (IDispatch, no type
// library). It answers a request text with the method's initial and the text
// itself, so a test sees which method got which argument, and answers a
// request to address 0 with nothing, as when no device answers.

#include <ole2.h>

#include <atomic>
#include <string>

namespace {

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

constexpr DISPID TransceivingId = 1;
constexpr DISPID ObmenId = 2;

class Simulator final : public IDispatch {
 public:
  Simulator() { ++liveObjects; }
  ~Simulator() { --liveObjects; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
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
    if (count != 1) return DISP_E_UNKNOWNNAME;
    if (_wcsicmp(names[0], L"Transceiving") == 0) {
      ids[0] = TransceivingId;
    } else if (_wcsicmp(names[0], L"Obmen") == 0) {
      ids[0] = ObmenId;
    } else {
      ids[0] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    if (id != TransceivingId && id != ObmenId) return DISP_E_MEMBERNOTFOUND;
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (parameters->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (parameters->rgvarg[0].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    const BSTR request = parameters->rgvarg[0].bstrVal;
    const std::wstring text(request, SysStringLen(request));
    std::wstring answer;
    if (text.rfind(L"0 ", 0) != 0) answer = (id == TransceivingId ? L"T " : L"O ") + text;
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

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // One static factory for the life of the module.
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

// For the test: how many simulator objects are alive in this module.
extern "C" long STDAPICALLTYPE SimulLiveObjects() {
  return liveObjects;
}

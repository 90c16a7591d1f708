// The component's class factory and its objects: the dual interface
// _clsQuorvelUnit (vtable and IDispatch alike going through the member
// table), ISupportErrorInfo, and the entry points a COM runtime calls.
#include <initguid.h>  // the ids widl's header declares are defined here

#include "Tavlor_QuorvelUnit_h.h"

#include <atomic>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <type_traits>
#include <vector>

#include "com/win32/Bridge.h"

namespace com::win32 {

namespace {

class UnitObject final : public _clsQuorvelUnit, public ISupportErrorInfo {
 public:
  explicit UnitObject(UnitPtr unit) : unit_(std::move(unit)) { ObjectCreated(); }
  ~UnitObject() { ObjectDestroyed(); }
  UnitObject(const UnitObject&) = delete;
  UnitObject& operator=(const UnitObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID__clsQuorvelUnit))
      *ppv = static_cast<_clsQuorvelUnit*>(this);
    else if (IsEqualIID(riid, IID_ISupportErrorInfo))
      *ppv = static_cast<ISupportErrorInfo*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) std::unique_ptr<UnitObject> gone(this);  // the last reference owned it
    return left;
  }

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeLib* lib = TypeLibrary();
    return lib ? lib->GetTypeInfoOfGuid(IID__clsQuorvelUnit, info) : TYPE_E_CANTLOADLIBRARY;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return IdsOfNames(names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                      UINT* argErr) override {
    return com::win32::Invoke(*unit_, this, id, flags, params, result, excep, argErr);
  }

  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualIID(riid, IID__clsQuorvelUnit) ? S_OK : S_FALSE;
  }

#include "com/win32/DualMethods.inc"

 private:
  // --- the vtable's arguments as a call by name passes them -----------------
  static VARIANT Make(VARTYPE vt) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = vt;
    return v;
  }
  static VARIANT In(LONG x) {
    VARIANT v = Make(VT_I4);
    v.lVal = x;
    return v;
  }
  template <class E>
    requires std::is_enum_v<E>
  static VARIANT In(E x) {
    return In(static_cast<LONG>(x));
  }
  static VARIANT In(double x) {
    VARIANT v = Make(VT_R8);
    v.dblVal = x;
    return v;
  }
  static VARIANT In(VARIANT_BOOL x) {
    VARIANT v = Make(VT_BOOL);
    v.boolVal = x;
    return v;
  }
  static VARIANT In(BSTR x) {
    VARIANT v = Make(VT_BSTR);
    v.bstrVal = x;
    return v;
  }
  static VARIANT In(IDispatch* x) {
    VARIANT v = Make(VT_DISPATCH);
    v.pdispVal = x;
    return v;
  }
  static VARIANT Ref(BSTR* x) {
    VARIANT v = Make(VT_BYREF | VT_BSTR);
    v.pbstrVal = x;
    return v;
  }
  static VARIANT Ref(SAFEARRAY** x, VARTYPE element) {
    VARIANT v = Make(VT_BYREF | VT_ARRAY | element);
    v.pparray = x;
    return v;
  }
  static VARIANT Rec(void* x, const wchar_t* record) {
    VARIANT v = Make(VT_BYREF | VT_RECORD);
    v.pvRecord = x;
    v.pRecInfo = RecordInfo(record);
    return v;
  }

  // --- where the result goes ------------------------------------------------
  struct Sink {
    VARTYPE vt;
    void* p;
  };
  static Sink NoResult() { return {VT_EMPTY, nullptr}; }
  static Sink Out(LONG* p) { return {VT_I4, p}; }
  static Sink Out(double* p) { return {VT_R8, p}; }
  static Sink Out(VARIANT_BOOL* p) { return {VT_BOOL, p}; }
  static Sink Out(BSTR* p) { return {VT_BSTR, p}; }
  static Sink Out(IDispatch** p) { return {VT_DISPATCH, p}; }
  static Sink Out(SAFEARRAY** p) { return {VT_ARRAY, p}; }
  static Sink OutRec(void* p) { return {VT_RECORD, p}; }

  // Moves a call's result into the vtable's [out, retval] place.
  static HRESULT Take(VARIANT& r, const Sink& s) {
    HRESULT hr = E_UNEXPECTED;
    switch (s.vt) {
      case VT_EMPTY: hr = S_OK; break;
      case VT_I4: if (r.vt == VT_I4) *static_cast<LONG*>(s.p) = r.lVal, hr = S_OK; break;
      case VT_R8: if (r.vt == VT_R8) *static_cast<double*>(s.p) = r.dblVal, hr = S_OK; break;
      case VT_BOOL: if (r.vt == VT_BOOL) *static_cast<VARIANT_BOOL*>(s.p) = r.boolVal, hr = S_OK; break;
      case VT_BSTR:
        if (r.vt != VT_BSTR) break;
        *static_cast<BSTR*>(s.p) = r.bstrVal;
        return S_OK;
      case VT_DISPATCH:
        if (r.vt != VT_DISPATCH) break;
        *static_cast<IDispatch**>(s.p) = r.pdispVal;
        return S_OK;
      case VT_ARRAY:
        if (!(r.vt & VT_ARRAY)) break;
        *static_cast<SAFEARRAY**>(s.p) = r.parray;
        return S_OK;
      case VT_RECORD: {
        ULONG size = 0;
        if (r.vt != VT_RECORD || !r.pRecInfo || !r.pvRecord || FAILED(r.pRecInfo->GetSize(&size))) break;
        // The fields move to the caller's record; the emptied one is freed.
        std::memcpy(s.p, r.pvRecord, size);
        std::memset(r.pvRecord, 0, size);
        hr = S_OK;
        break;
      }
    }
    ::VariantClear(&r);
    return hr;
  }

  HRESULT Early(DISPID id, WORD flags, std::initializer_list<VARIANT> args, Sink sink) {
    if (sink.vt != VT_EMPTY && !sink.p) return E_POINTER;
    std::vector<VARIANT> list(std::rbegin(args), std::rend(args));  // the last argument first
    DISPID put = DISPID_PROPERTYPUT;
    const bool isPut = flags == DISPATCH_PROPERTYPUT;
    DISPPARAMS params{list.data(), isPut ? &put : nullptr, static_cast<UINT>(list.size()), isPut ? 1u : 0u};
    VARIANT result;
    ::VariantInit(&result);
    EXCEPINFO e{};
    const HRESULT hr = com::win32::Invoke(*unit_, this, id, flags, &params, sink.vt == VT_EMPTY ? nullptr : &result, &e,
                                          nullptr);
    if (hr == DISP_E_EXCEPTION) {
      // The error information is set for the thread already.
      ::SysFreeString(e.bstrSource);
      ::SysFreeString(e.bstrDescription);
      ::SysFreeString(e.bstrHelpFile);
      return e.scode;
    }
    if (FAILED(hr)) return hr;
    return Take(result, sink);
  }

  std::atomic<ULONG> refs_{1};
  UnitPtr unit_;
};

class Factory final : public IClassFactory {
 public:
  Factory() { ObjectCreated(); }
  ~Factory() { ObjectDestroyed(); }
  Factory(const Factory&) = delete;
  Factory& operator=(const Factory&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) std::unique_ptr<Factory> gone(this);
    return left;
  }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    UnitPtr unit;
    if (const HRESULT hr = NewUnit(unit); FAILED(hr)) return hr;
    std::unique_ptr<UnitObject> made;
    try {
      made = std::make_unique<UnitObject>(std::move(unit));
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    UnitObject* object = made.release();  // from here its references own it
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    Lock(lock != FALSE);
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace

}  // namespace com::win32

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  using namespace com::win32;
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, CLSID_clsQuorvelUnit)) return CLASS_E_CLASSNOTAVAILABLE;
  std::unique_ptr<Factory> made;
  try {
    made = std::make_unique<Factory>();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  Factory* factory = made.release();
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() { return com::InUse() ? S_FALSE : S_OK; }

// The component's entry points, its class factory and the dispatch object
// that wraps one clsQuorvelUnit.

#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>

#include "com/Convert.h"
#include "com/Identity.h"
#include "com/Members.h"
#include "com/Registry.h"
#include "com/TypeLib.h"
#include "core/Export.h"
#include "dialog/frmQuorvelUnitTest.h"
#include "driver/clsQuorvelUnit.h"
#include "platform/System.h"

namespace com {

namespace {

// --- the object ---------------------------------------------------------------

struct UnitObject {
  IDispatch iface;  // first: the interface pointer is the object's address
  std::atomic<uint32_t> refs{1};
  std::unique_ptr<clsQuorvelUnit> unit;
  // One call at a time from different threads, so that no call gets
  // another's answer; the same thread may call again from inside a call
  // (a Stop button's MeasurementAbort while a measurement pumps events).
  std::recursive_mutex calls;
};

UnitObject* Self(IDispatch* d) { return reinterpret_cast<UnitObject*>(d); }

uint32_t UnitAddRef(IDispatch* d) { return ++Self(d)->refs; }

uint32_t UnitRelease(IDispatch* d) {
  const uint32_t left = --Self(d)->refs;
  if (left == 0) {
    std::unique_ptr<UnitObject> gone(Self(d));  // takes back what creation let go
    gone.reset();
    ObjectDestroyed();
  }
  return left;
}

HRESULT UnitQuery(IDispatch* d, const GUID* riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!riid) return E_INVALIDARG;
  if (*riid == kIid_IUnknown || *riid == kIid_IDispatch || *riid == kIid_clsQuorvelUnit) {
    UnitAddRef(d);
    *ppv = d;
    return S_OK;
  }
  return E_NOINTERFACE;
}

HRESULT UnitTypeInfoCount(IDispatch*, uint32_t* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT UnitTypeInfo(IDispatch*, uint32_t index, uint32_t, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  *info = InterfaceTypeInfo();
  return S_OK;
}

HRESULT UnitIdsOfNames(IDispatch*, const GUID*, const char** names, uint32_t count, uint32_t, int32_t* ids) {
  if (!names || !ids) return E_POINTER;
  if (count == 0) return E_INVALIDARG;
  for (uint32_t i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (!names[0]) return E_POINTER;
  const auto id = FindDispid(names[0]);
  if (!id) return DISP_E_UNKNOWNNAME;
  ids[0] = *id;
  // named arguments are not taken: their names stay unknown
  return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT UnitInvoke(IDispatch* d, int32_t dispid, const GUID*, uint32_t, uint16_t flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excep, uint32_t* argErr) {
  if (!params) return E_POINTER;
  const Member* m = FindMember(dispid, flags);
  if (!m) return DISP_E_MEMBERNOTFOUND;
  if (m->kind == DISPATCH_PROPERTYPUT) {
    if (params->cNamedArgs != 1 || !params->rgdispidNamedArgs || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
      return DISP_E_PARAMNOTFOUND;
  } else if (params->cNamedArgs != 0) {
    return DISP_E_NONAMEDARGS;
  }
  if (params->cArgs && !params->rgvarg) return E_POINTER;
  try {
    VariantFrame frame(*params, result, d);
    const std::lock_guard lock(Self(d)->calls);
    m->call(*Self(d)->unit, frame);
    return S_OK;
  } catch (const DispatchFault& f) {
    // Only an argument the caller gave has a place in its list to point at.
    if (f.argument >= 0 && static_cast<uint32_t>(f.argument) < params->cArgs && argErr)
      *argErr = params->cArgs - 1 - static_cast<uint32_t>(f.argument);
    return f.hr;
  } catch (const vb::Error& e) {
    FillException(excep, e.Number(), e.Source(), e.Description());
  } catch (const std::bad_alloc&) {
    FillException(excep, vb::err::OutOfMemory, kLibName, vb::StandardText(vb::err::OutOfMemory));
  } catch (const std::exception& e) {
    FillException(excep, 440, kLibName, std::string("Automation error: ") + e.what());
  } catch (...) {
    FillException(excep, 440, kLibName, "Automation error");
  }
  return DISP_E_EXCEPTION;
}

const IDispatchVtbl kUnitVtbl{UnitQuery,      UnitAddRef,     UnitRelease, UnitTypeInfoCount,
                              UnitTypeInfo,   UnitIdsOfNames, UnitInvoke};

HRESULT CreateUnit(const GUID* riid, void** ppv) {
  // Service dialogs of these objects show the driver's own form.
  static dialog::ServiceFormRegistration serviceForm;
  auto object = std::make_unique<UnitObject>();
  object->iface.lpVtbl = &kUnitVtbl;
  object->unit = std::make_unique<clsQuorvelUnit>();
  ObjectCreated();
  IDispatch* d = &object.release()->iface;  // from here its references own it
  const HRESULT hr = UnitQuery(d, riid, ppv);
  UnitRelease(d);
  return hr;
}

// --- the class factory -------------------------------------------------------------

struct Factory {
  IClassFactory iface;
  std::atomic<uint32_t> refs{1};
};

Factory* Self(IClassFactory* f) { return reinterpret_cast<Factory*>(f); }

uint32_t FactoryAddRef(IClassFactory* f) { return ++Self(f)->refs; }

uint32_t FactoryRelease(IClassFactory* f) {
  const uint32_t left = --Self(f)->refs;
  if (left == 0) {
    std::unique_ptr<Factory> gone(Self(f));
    gone.reset();
    ObjectDestroyed();
  }
  return left;
}

HRESULT FactoryQuery(IClassFactory* f, const GUID* riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!riid) return E_INVALIDARG;
  if (*riid == kIid_IUnknown || *riid == kIid_IClassFactory) {
    FactoryAddRef(f);
    *ppv = f;
    return S_OK;
  }
  return E_NOINTERFACE;
}

HRESULT FactoryCreate(IClassFactory*, IUnknown* outer, const GUID* riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  try {
    return CreateUnit(riid, ppv);
  } catch (const vb::Error& e) {
    return ErrorScode(e.Number());  // no host installed gives 91
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT FactoryLock(IClassFactory*, int32_t lock) {
  Lock(lock != 0);
  return S_OK;
}

const IClassFactoryVtbl kFactoryVtbl{FactoryQuery, FactoryAddRef, FactoryRelease, FactoryCreate, FactoryLock};

// --- registration --------------------------------------------------------------------

// The library's own file, as it was loaded, made absolute.
std::string OwnPath() {
  return platform::ModulePath(reinterpret_cast<const void*>(&DllGetClassObject));
}

std::string ClassKey() { return "CLSID\\" + ToString(kClsid); }
std::string InterfaceKey() { return "Interface\\" + ToString(kIid_clsQuorvelUnit); }
std::string TypeLibKey() {
  return "TypeLib\\" + ToString(kLibid) + "\\" + std::to_string(kLibMajor) + "." + std::to_string(kLibMinor);
}

}  // namespace

}  // namespace com

extern "C" {

QUORVEL_API HRESULT DllGetClassObject(const GUID* rclsid, const GUID* riid, void** ppv) {
  using namespace com;
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!rclsid || !riid) return E_INVALIDARG;
  if (!(*rclsid == kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    auto factory = std::make_unique<Factory>();
    factory->iface.lpVtbl = &kFactoryVtbl;
    ObjectCreated();
    IClassFactory* f = &factory.release()->iface;
    const HRESULT hr = FactoryQuery(f, riid, ppv);
    FactoryRelease(f);
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

QUORVEL_API HRESULT DllCanUnloadNow(void) { return com::InUse() ? S_FALSE : S_OK; }

QUORVEL_API HRESULT DllRegisterServer(void) {
  using namespace com;
  try {
    const std::string library = OwnPath();
    if (library.empty()) return SELFREG_E_CLASS;
    RegistryFile r = RegistryFile::Load(RegistryFile::DefaultPath());
    const std::string clsid = ToString(kClsid);
    const std::string libid = ToString(kLibid);
    const std::string version = std::to_string(kLibMajor) + "." + std::to_string(kLibMinor);
    r.Set(kProgId, "@", kClassName);
    r.Set(kProgId, "CLSID", clsid);
    r.Set(ClassKey(), "@", kClassName);
    r.Set(ClassKey(), "ProgID", kProgId);
    r.Set(ClassKey(), "InprocServer32", library);
    r.Set(ClassKey(), "ThreadingModel", "Apartment");
    r.Set(ClassKey(), "TypeLib", libid);
    r.Set(ClassKey(), "Version", version);
    r.Set(InterfaceKey(), "@", kInterfaceName);
    r.Set(InterfaceKey(), "TypeLib", libid);
    r.Set(TypeLibKey(), "@", kLibName);
    r.Set(TypeLibKey(), "Path", library);
    r.Save();
    return S_OK;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

QUORVEL_API HRESULT DllUnregisterServer(void) {
  using namespace com;
  try {
    RegistryFile r = RegistryFile::Load(RegistryFile::DefaultPath());
    // The programmatic id goes only while it still names this class.
    const auto named = r.Get(kProgId, "CLSID");
    bool changed = false;
    if (named && ParseGuid(*named) && *ParseGuid(*named) == kClsid) changed |= r.RemoveSection(kProgId);
    changed |= r.RemoveSection(ClassKey());
    changed |= r.RemoveSection(InterfaceKey());
    changed |= r.RemoveSection(TypeLibKey());
    if (changed) r.Save();
    return S_OK;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

}  // extern "C"

#include "comhost/CreateObject.h"

#include "com/Identity.h"
#include "com/Registry.h"

namespace comhost {

Library::Library(const std::string& path) : path_(path) {
  std::string why;
  library_ = platform::SharedLibrary(path, why);
  if (!library_) throw ComError(REGDB_E_CLASSNOTREG, "cannot load " + path + ": " + why);
}

Library::~Library() {
  // A library with live objects stays: unloading it would pull the code
  // from under them.
  if (!CanUnloadNow()) library_.Keep();
}

template <class F>
F Library::Symbol(const char* name) const {
  void* p = library_.Symbol(name);
  if (!p) throw ComError(E_NOTIMPL, path_ + " does not export " + name);
  return reinterpret_cast<F>(p);
}

HRESULT Library::GetClassObject(const GUID& clsid, const GUID& iid, void** out) const {
  return Symbol<PFN_DllGetClassObject>("DllGetClassObject")(&clsid, &iid, out);
}
bool Library::CanUnloadNow() const { return Symbol<PFN_DllCanUnloadNow>("DllCanUnloadNow")() == S_OK; }
HRESULT Library::Register() const { return Symbol<PFN_DllRegisterServer>("DllRegisterServer")(); }
HRESULT Library::Unregister() const { return Symbol<PFN_DllRegisterServer>("DllUnregisterServer")(); }

BSTR Library::AllocString(std::string_view text) const {
  return Symbol<BSTR (*)(const char*, uint32_t)>("SysAllocStringLen")(text.data(),
                                                                      static_cast<uint32_t>(text.size()));
}
SAFEARRAY* Library::CreateVector(uint16_t vt, uint32_t count) const {
  return Symbol<SAFEARRAY* (*)(uint16_t, int32_t, uint32_t)>("SafeArrayCreateVector")(vt, 0, count);
}
void Library::Clear(VARIANT& v) const { Symbol<HRESULT (*)(VARIANT*)>("VariantClear")(&v); }

Object CreateObject(const std::shared_ptr<Library>& library, const GUID& clsid) {
  IClassFactory* raw = nullptr;
  HRESULT hr = library->GetClassObject(clsid, com::kIid_IClassFactory, reinterpret_cast<void**>(&raw));
  if (hr != S_OK) throw ComError(hr, library->Path() + " has no class " + com::ToString(clsid));
  const Ptr<IClassFactory> factory(raw);
  IDispatch* object = nullptr;
  hr = factory->lpVtbl->CreateInstance(factory.get(), nullptr, &com::kIid_IDispatch,
                                       reinterpret_cast<void**>(&object));
  if (hr != S_OK) throw ComError(hr, "the class factory of " + com::ToString(clsid) + " failed");
  return Object{library, Ptr<IDispatch>(object)};
}

Object CreateObject(std::string_view progid, const std::string& registryPath) {
  const auto entry = com::Lookup(com::RegistryFile::Load(registryPath), progid);
  if (!entry) throw ComError(REGDB_E_CLASSNOTREG, std::string(progid) + " is not registered in " + registryPath);
  return CreateObject(std::make_shared<Library>(entry->library), entry->clsid);
}

}  // namespace comhost

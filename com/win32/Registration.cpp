// regsvr32's entry points: the class, its programmatic ids and the type
// library in the registry, and exactly these taken out again.
#include "Tavlor_QuorvelUnit_h.h"

#include <olectl.h>

#include <string>

#include "com/win32/Bridge.h"

namespace com::win32 {

namespace {

constexpr const wchar_t* kProgId = L"Tavlor_QuorvelUnit.clsQuorvelUnit";
constexpr const wchar_t* kClassName = L"clsQuorvelUnit";

std::wstring Text(const GUID& g) {
  wchar_t buf[40] = {};
  ::StringFromGUID2(g, buf, 40);
  return buf;
}

class Key {
 public:
  Key(HKEY parent, const std::wstring& path, REGSAM access, bool create) {
    if (create)
      ok_ = ::RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, access, nullptr, &key_, nullptr) == ERROR_SUCCESS;
    else
      ok_ = ::RegOpenKeyExW(parent, path.c_str(), 0, access, &key_) == ERROR_SUCCESS;
  }
  ~Key() {
    if (ok_) ::RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  bool Ok() const { return ok_; }
  HKEY Handle() const { return key_; }

 private:
  HKEY key_ = nullptr;
  bool ok_ = false;
};

// Writes HKEY_CLASSES_ROOT\path's value (the default value for an empty name).
bool Set(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  const Key key(HKEY_CLASSES_ROOT, path, KEY_SET_VALUE, true);
  return key.Ok() && ::RegSetValueExW(key.Handle(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::wstring Get(const std::wstring& path, const wchar_t* name) {
  const Key key(HKEY_CLASSES_ROOT, path, KEY_QUERY_VALUE, false);
  if (!key.Ok()) return {};
  wchar_t buf[256] = {};
  DWORD size = sizeof buf - sizeof(wchar_t), type = 0;
  if (::RegQueryValueExW(key.Handle(), name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  return buf;
}

void Remove(const std::wstring& path) { ::RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str()); }

std::wstring ClassKey() { return L"CLSID\\" + Text(CLSID_clsQuorvelUnit); }

}  // namespace

}  // namespace com::win32

STDAPI DllUnregisterServer();

STDAPI DllRegisterServer() {
  using namespace com::win32;
  ITypeLib* lib = TypeLibrary();
  std::wstring file = ModuleFile();
  if (!lib || file.empty()) return SELFREG_E_TYPELIB;
  TLIBATTR* attr = nullptr;
  if (FAILED(lib->GetLibAttr(&attr))) return SELFREG_E_TYPELIB;
  const std::wstring version = std::to_wstring(attr->wMajorVerNum) + L"." + std::to_wstring(attr->wMinorVerNum);
  lib->ReleaseTLibAttr(attr);
  const std::wstring clsid = Text(CLSID_clsQuorvelUnit);
  const bool written = Set(ClassKey(), nullptr, kClassName) && Set(ClassKey() + L"\\InprocServer32", nullptr, file) &&
                       Set(ClassKey() + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
                       Set(ClassKey() + L"\\ProgID", nullptr, kProgId) &&
                       Set(ClassKey() + L"\\VersionIndependentProgID", nullptr, kProgId) &&
                       Set(ClassKey() + L"\\TypeLib", nullptr, Text(LIBID_Tavlor_QuorvelUnit)) &&
                       Set(ClassKey() + L"\\Version", nullptr, version) && Set(kProgId, nullptr, kClassName) &&
                       Set(std::wstring(kProgId) + L"\\CLSID", nullptr, clsid);
  if (!written) {
    DllUnregisterServer();
    return SELFREG_E_CLASS;
  }
  // The type library's keys, and the interface's with the standard marshaller.
  if (FAILED(::RegisterTypeLib(lib, file.data(), nullptr))) {
    DllUnregisterServer();
    return SELFREG_E_TYPELIB;
  }
  return S_OK;
}

STDAPI DllUnregisterServer() {
  using namespace com::win32;
  if (ITypeLib* lib = TypeLibrary()) {
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED(lib->GetLibAttr(&attr))) {
      ::UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
      lib->ReleaseTLibAttr(attr);
    }
  }
  Remove(L"Interface\\" + Text(IID__clsQuorvelUnit));
  Remove(ClassKey());
  // The programmatic id goes only while it still names this class.
  if (Get(std::wstring(kProgId) + L"\\CLSID", nullptr) == Text(CLSID_clsQuorvelUnit)) Remove(kProgId);
  return S_OK;
}

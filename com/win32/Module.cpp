#include <map>
#include <mutex>
#include <string>

#include "com/win32/Bridge.h"

namespace com::win32 {

namespace {

// Releases a COM interface it holds.
template <class T>
struct Held {
  T* p = nullptr;
  ~Held() {
    if (p) p->Release();
  }
};

}  // namespace

HMODULE Module() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Module), &module);
  return module;
}

std::wstring ModuleFile() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(Module(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

ITypeLib* TypeLibrary() {
  // Loaded once and kept for the life of the process: a host may hold its
  // type information after the last object is gone.
  static Held<ITypeLib> lib;
  static std::once_flag once;
  std::call_once(once, [] {
    if (FAILED(::LoadTypeLibEx(ModuleFile().c_str(), REGKIND_NONE, &lib.p))) lib.p = nullptr;
  });
  return lib.p;
}

IRecordInfo* RecordInfo(const wchar_t* name) {
  static std::mutex mutex;
  static std::map<std::wstring, Held<IRecordInfo>> infos;
  std::lock_guard lock(mutex);
  auto& held = infos[name];
  if (held.p) return held.p;
  ITypeLib* lib = TypeLibrary();
  if (!lib) return nullptr;
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    BSTR typeName = nullptr;
    if (FAILED(lib->GetDocumentation(static_cast<INT>(i), &typeName, nullptr, nullptr, nullptr))) continue;
    const bool match = typeName && std::wstring(typeName) == name;
    ::SysFreeString(typeName);
    if (!match) continue;
    Held<ITypeInfo> info;
    if (SUCCEEDED(lib->GetTypeInfo(i, &info.p))) ::GetRecordInfoFromTypeInfo(info.p, &held.p);
    break;
  }
  return held.p;
}


HRESULT RaiseError(long number, const std::wstring& source, const std::wstring& description) {
  const HRESULT hr = number > 0 && number <= 0xFFFF ? static_cast<HRESULT>(0x800A0000u | static_cast<ULONG>(number))
                                                    : static_cast<HRESULT>(number);
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(::CreateErrorInfo(&create))) {
    create->SetSource(const_cast<LPOLESTR>(source.c_str()));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      ::SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return hr;
}

void SetErrorInfoFrom(const EXCEPINFO& e) {
  RaiseError(0, e.bstrSource ? e.bstrSource : L"", e.bstrDescription ? e.bstrDescription : L"");
}

}  // namespace com::win32

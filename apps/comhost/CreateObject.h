// A host's side of the component boundary: load a component library (by
// path, or by programmatic id through the registry file) and create its
// objects through the class factory, as CreateObject does.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "com/ComTypes.h"
#include "platform/System.h"

namespace comhost {

// A COM failure with its result code.
class ComError : public std::runtime_error {
 public:
  ComError(HRESULT hr, const std::string& what) : std::runtime_error(what), hr_(hr) {}
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

// A loaded component library and the functions every component exports.
class Library {
 public:
  // Loads the file; ComError (REGDB_E_CLASSNOTREG) with the loader's message when it cannot.
  explicit Library(const std::string& path);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  const std::string& Path() const { return path_; }
  HRESULT GetClassObject(const GUID& clsid, const GUID& iid, void** out) const;
  bool CanUnloadNow() const;
  HRESULT Register() const;
  HRESULT Unregister() const;
  // The component's allocator, for strings and arrays handed to it.
  BSTR AllocString(std::string_view text) const;
  SAFEARRAY* CreateVector(uint16_t vt, uint32_t count) const;
  void Clear(VARIANT& v) const;

 private:
  template <class F>
  F Symbol(const char* name) const;
  std::string path_;
  platform::SharedLibrary library_;
};

// An interface pointer that holds one reference.
template <class I>
class Ptr {
 public:
  Ptr() = default;
  explicit Ptr(I* p) : p_(p) {}  // takes over the caller's reference
  Ptr(const Ptr& o) : p_(o.p_) {
    if (p_) p_->lpVtbl->AddRef(p_);
  }
  Ptr(Ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ptr& operator=(Ptr o) {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ptr() {
    if (p_) p_->lpVtbl->Release(p_);
  }
  I* get() const { return p_; }
  I* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  I* p_ = nullptr;
};

// An object and the library that serves it (kept loaded while it lives).
struct Object {
  std::shared_ptr<Library> library;
  Ptr<IDispatch> dispatch;
};

// Creates the class the registry names for `progid`: REGDB_E_CLASSNOTREG
// when it is not registered, else the factory's own result.
Object CreateObject(std::string_view progid, const std::string& registryPath);
// The same from a library the caller already holds.
Object CreateObject(const std::shared_ptr<Library>& library, const GUID& clsid);

}  // namespace comhost

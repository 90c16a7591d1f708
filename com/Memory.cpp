// Strings, arrays and variants as the component hands them out and takes
// them back.  Hosts free what the component gave them with these, never
// with their own allocator.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "com/ComTypes.h"
#include "core/Export.h"

namespace {

// Arrays above this many bytes are refused rather than attempted.
constexpr std::size_t kMaxArrayBytes = std::size_t{1} << 31;

uint32_t ElementSize(std::uint16_t vt) {
  switch (vt) {
    case VT_I4: return 4;
    case VT_R8: return 8;
    case VT_BSTR: return sizeof(BSTR);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

}  // namespace

extern "C" {

QUORVEL_API BSTR SysAllocStringLen(const char* text, uint32_t len) {
  auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + std::size_t{len} + 1));
  if (!block) return nullptr;
  std::memcpy(block, &len, sizeof len);
  char* s = block + sizeof(uint32_t);
  if (text && len) std::memcpy(s, text, len);
  s[len] = '\0';
  return s;
}

QUORVEL_API BSTR SysAllocString(const char* text) {
  return SysAllocStringLen(text, text ? static_cast<uint32_t>(std::strlen(text)) : 0);
}

QUORVEL_API uint32_t SysStringLen(BSTR text) {
  if (!text) return 0;
  uint32_t len;
  std::memcpy(&len, text - sizeof(uint32_t), sizeof len);
  return len;
}

QUORVEL_API void SysFreeString(BSTR text) {
  if (text) std::free(text - sizeof(uint32_t));
}

QUORVEL_API SAFEARRAY* SafeArrayCreateVector(uint16_t vt, int32_t lbound, uint32_t count) {
  const uint32_t size = ElementSize(vt);
  if (size == 0 || std::size_t{count} * size > kMaxArrayBytes) return nullptr;
  auto* a = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
  if (!a) return nullptr;
  a->cDims = 1;
  a->cbElements = size;
  a->cElements = count;
  a->lLbound = lbound;
  a->vt = vt;
  if (count) {
    a->pvData = std::calloc(count, size);
    if (!a->pvData) {
      std::free(a);
      return nullptr;
    }
  }
  return a;
}

QUORVEL_API HRESULT SafeArrayDestroy(SAFEARRAY* a) {
  if (!a) return S_OK;
  if (a->vt == VT_BSTR)
    for (uint32_t i = 0; i < a->cElements; ++i) SysFreeString(static_cast<BSTR*>(a->pvData)[i]);
  if (a->vt == VT_VARIANT)
    for (uint32_t i = 0; i < a->cElements; ++i) VariantClear(static_cast<VARIANT*>(a->pvData) + i);
  std::free(a->pvData);
  std::free(a);
  return S_OK;
}

QUORVEL_API void VariantInit(VARIANT* v) {
  if (v) std::memset(v, 0, sizeof *v);
}

QUORVEL_API HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_POINTER;
  if (v->vt & VT_BYREF) {
    // the caller's variant stays the caller's
  } else if (v->vt & VT_ARRAY) {
    SafeArrayDestroy(v->u.parray);
  } else if (v->vt == VT_BSTR) {
    SysFreeString(v->u.bstrVal);
  } else if (v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN) {
    if (v->u.pdispVal) v->u.pdispVal->lpVtbl->Release(v->u.pdispVal);
  } else if (v->vt == VT_RECORD) {
    SafeArrayDestroy(v->u.rec.pFields);
  }
  VariantInit(v);
  return S_OK;
}

}  // extern "C"

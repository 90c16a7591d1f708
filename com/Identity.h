// Who the component is: class, interface and type library ids, the
// programmatic id, and GUID text in registry form.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "com/ComTypes.h"

namespace com {

inline constexpr GUID kClsid{0x3190CF2A, 0xF6FC, 0x4BC1, {0xAE, 0x67, 0x7D, 0xD1, 0x77, 0x69, 0xAE, 0xB8}};
inline constexpr GUID kIid_clsQuorvelUnit{0xEEDCA6E7, 0x75F3, 0x4E65, {0x9B, 0x9C, 0xEC, 0x69, 0x5F, 0x7F, 0x29, 0x47}};
inline constexpr GUID kLibid{0x4AFC2A3C, 0x21BE, 0x470F, {0x8B, 0xE8, 0x1B, 0x7F, 0xB1, 0xAF, 0x67, 0x59}};
inline constexpr unsigned kLibMajor = 24;
inline constexpr unsigned kLibMinor = 0;
inline constexpr const char* kLibName = "Tavlor_QuorvelUnit";
inline constexpr const char* kClassName = "clsQuorvelUnit";
inline constexpr const char* kInterfaceName = "_clsQuorvelUnit";
inline constexpr const char* kProgId = "Tavlor_QuorvelUnit.clsQuorvelUnit";

// The standard interfaces.
inline constexpr GUID kIid_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID kIid_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID kIid_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID kIid_ITypeInfo{0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID kIid_ITypeLib{0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// "{3190CF2A-F6FC-4BC1-AE67-7DD17769AEB8}"
std::string ToString(const GUID& g);
// Braces optional, any case; nothing for a malformed text.
std::optional<GUID> ParseGuid(std::string_view text);

}  // namespace com

inline bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::equal(a.Data4, a.Data4 + 8, b.Data4);
}

#include "com/TypeLib.h"

#include <string>
#include <vector>

#include "com/Identity.h"
#include "com/Members.h"
#include "driver/modMain.h"

namespace com {

namespace {

ELEMDESC Value(const char* name, int32_t value) { return {name, VT_I4, 0, value, nullptr, nullptr}; }
ELEMDESC Field(const char* name, uint16_t vt, const char* type = nullptr) { return {name, vt, 0, 0, type, nullptr}; }

struct Descriptions {
  std::vector<std::string> pathNames;
  std::vector<std::vector<ELEMDESC>> vars;           // per type
  std::vector<std::vector<ELEMDESC>> memberParams;   // per interface member
  std::vector<FUNCDESC> funcs;
  std::vector<TYPEDESC> types;
  TLIBATTR lib{};

  Descriptions() {
    lib = {kLibid, static_cast<uint16_t>(kLibMajor), static_cast<uint16_t>(kLibMinor), kLibName};
    for (const Member& m : Members()) {
      auto& params = memberParams.emplace_back();
      for (const Param& p : m.params)
        params.push_back({p.name.c_str(), p.vt, p.flags, 0, p.typeName.empty() ? nullptr : p.typeName.c_str(),
                          p.optional ? p.defaultValue.c_str() : nullptr});
    }
    for (std::size_t i = 0; i < Members().size(); ++i) {
      const Member& m = Members()[i];
      funcs.push_back({m.name.c_str(), m.dispid, m.kind, m.vtResult, m.resultType.empty() ? nullptr : m.resultType.c_str(),
                       static_cast<uint32_t>(memberParams[i].size()), memberParams[i].data()});
    }
    types.push_back({kClassName, kClsid, TKIND_COCLASS, 0, nullptr, 0, nullptr});
    types.push_back({kInterfaceName, kIid_clsQuorvelUnit, TKIND_DISPATCH, static_cast<uint32_t>(funcs.size()),
                     funcs.data(), 0, nullptr});

    Enum("QuorvelPowerPort", GUID{0x30A425DA, 0xC20E, 0x472D, {0xBA, 0xFC, 0xD4, 0x7D, 0x2C, 0x07, 0x24, 0x70}}, {Value("ppSum", -1), Value("ppDUTAll", 0), Value("ppDUT1", 1), Value("ppDUT2", 2),
                              Value("ppDUT3", 3), Value("ppDUT4", 4), Value("ppDUT5", 5), Value("ppDUT6", 6),
                              Value("ppDUT7", 7), Value("ppDUT8", 8), Value("ppGenerator", 9),
                              Value("ppCompanion", 10), Value("ppVideo", 11), Value("ppEnd", 12)});
    Enum("QuorvelPort", GUID{0x600DFD56, 0xEEA8, 0x4739, {0x94, 0x89, 0x42, 0xC5, 0x63, 0x63, 0xE2, 0xEA}}, {Value("pDUT1", 1), Value("pDUT2", 2), Value("pDUT3", 3), Value("pDUT4", 4), Value("pDUT5", 5),
                         Value("pDUT6", 6), Value("pDUT7", 7), Value("pDUT8", 8), Value("pGenerator", 9),
                         Value("pCompanion", 10), Value("pVectorGenerator", 11), Value("pReceiver", 12),
                         Value("pAntenna", 13), Value("pEnd", 14)});
    for (vb::Long p = 0; p <= modMain::kPathCount; ++p) pathNames.push_back(modMain::PathName(p));
    std::vector<ELEMDESC> paths;
    for (vb::Long p = 0; p <= modMain::kPathCount; ++p) paths.push_back(Value(pathNames[p].c_str(), p));
    Enum("QuorvelPath", GUID{0x000767A3, 0x0DF0, 0x4C44, {0xAD, 0x7C, 0x83, 0x16, 0x41, 0x52, 0xE3, 0x54}}, paths);
    Enum("QuorvelAttenuator", GUID{0xE6CD940E, 0xB64D, 0x46A3, {0x84, 0x14, 0x43, 0x0D, 0xF8, 0x4F, 0xAB, 0xEF}}, {Value("attDUTAll", 0), Value("attDut1", 1), Value("attDUT2", 2), Value("attDUT3", 3),
                               Value("attDUT4", 4), Value("attDUT5", 5), Value("attDUT6", 6), Value("attDUT7", 7),
                               Value("attDUT8", 8), Value("attCompanion", 9), Value("attBypass", 10),
                               Value("attEnd", 11)});
    Enum("QuorvelErrorStatus", GUID{0xE41DAC78, 0xD9EC, 0x4FA1, {0xB2, 0xF9, 0x4E, 0xB6, 0xDD, 0x32, 0x11, 0x6A}}, {Value("esNONE", 0), Value("esOVERFLOW", 1), Value("esTIMEOUT", 2), Value("esABORT", 4)});

    Record("AttTableProp", GUID{0xE6BD534A, 0x456E, 0x41F5, {0x97, 0x93, 0x87, 0xF2, 0x42, 0xF5, 0x1E, 0x0D}}, {Field("FromPort", VT_I4, "QuorvelPort"), Field("ToPort", VT_I4, "QuorvelPort"),
                            Field("Sum", VT_BOOL), Field("Rx18", VT_BOOL), Field("ByPass", VT_BOOL),
                            Field("Attenuator", VT_I4)});
    Record("AttTable", GUID{0xAA4447CA, 0x1F10, 0x46FC, {0xB8, 0xE2, 0x27, 0x3A, 0xC8, 0xE4, 0x15, 0x2C}}, {Field("TableProp", VT_RECORD, "AttTableProp"), Field("StartFrq", VT_R8), Field("step", VT_R8),
                        Field("count", VT_I4), Field("AttValues", VT_ARRAY | VT_R8), Field("key", VT_I4)});
    Record("DeviceInfo", GUID{0x585647A6, 0x38B4, 0x4AD1, {0x99, 0x62, 0xBD, 0xB4, 0xBE, 0xED, 0x78, 0xA3}}, {Field("InfoText", VT_BSTR), Field("FirmwareVersion", VT_BSTR),
                          Field("SerialNumber", VT_BSTR), Field("Address", VT_BSTR)});
    Record("MeasuredValue", GUID{0x24674BAA, 0xE879, 0x4D66, {0x8F, 0xF8, 0x1F, 0xD1, 0xD6, 0x40, 0x0C, 0xEF}}, {Field("Value", VT_R8), Field("Unit", VT_RECORD, "UnitRecord")});
    Record("UnitRecord", GUID{0xF62781EC, 0x68F4, 0x455E, {0x89, 0x73, 0xC8, 0x23, 0x6D, 0x18, 0x80, 0x4A}}, {Field("Text", VT_BSTR), Field("Kind", VT_I4)});
    // vars grew while types were added: point every type at its final storage.
    std::size_t v = 0;
    for (auto& t : types)
      if (t.typekind == TKIND_ENUM || t.typekind == TKIND_RECORD) t.vars = vars[v++].data();
  }

  // Each enumeration and record has an id of its own, as a record passed
  // in a variant is known by it.
  void Enum(const char* name, GUID id, std::vector<ELEMDESC> values) { Add(name, id, TKIND_ENUM, std::move(values)); }
  void Record(const char* name, GUID id, std::vector<ELEMDESC> fields) {
    Add(name, id, TKIND_RECORD, std::move(fields));
  }
  void Add(const char* name, GUID id, int32_t kind, std::vector<ELEMDESC> elements) {
    types.push_back({name, id, kind, 0, nullptr, static_cast<uint32_t>(elements.size()), nullptr});
    vars.push_back(std::move(elements));
  }
};

const Descriptions& Desc() {
  static const Descriptions d;
  return d;
}

// The library and its type infos are static; their references count in
// the module's use so that a host holding one keeps the library loaded.
uint32_t StaticAddRef() {
  ObjectCreated();
  return 2;
}
uint32_t StaticRelease() {
  ObjectDestroyed();
  return 1;
}

struct TypeInfoObject {
  ITypeInfo iface;
  uint32_t index;
};
std::vector<TypeInfoObject>& TypeInfos();

HRESULT InfoQuery(ITypeInfo* self, const GUID* riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!riid || !(*riid == kIid_IUnknown || *riid == kIid_ITypeInfo)) return E_NOINTERFACE;
  *ppv = self;
  StaticAddRef();
  return S_OK;
}
uint32_t InfoAddRef(ITypeInfo*) { return StaticAddRef(); }
uint32_t InfoRelease(ITypeInfo*) { return StaticRelease(); }
HRESULT InfoDesc(ITypeInfo* self, const TYPEDESC** desc) {
  if (!desc) return E_POINTER;
  *desc = &Desc().types[reinterpret_cast<TypeInfoObject*>(self)->index];
  return S_OK;
}
HRESULT InfoLib(ITypeInfo* self, ITypeLib** lib, uint32_t* index) {
  if (!lib) return E_POINTER;
  *lib = TypeLibrary();
  if (index) *index = reinterpret_cast<TypeInfoObject*>(self)->index;
  return S_OK;
}
const ITypeInfoVtbl kInfoVtbl{InfoQuery, InfoAddRef, InfoRelease, InfoDesc, InfoLib};

std::vector<TypeInfoObject>& TypeInfos() {
  static std::vector<TypeInfoObject> infos = [] {
    std::vector<TypeInfoObject> v;
    for (uint32_t i = 0; i < Desc().types.size(); ++i) v.push_back({{&kInfoVtbl}, i});
    return v;
  }();
  return infos;
}

ITypeLib g_lib{nullptr};
HRESULT LibQuery(ITypeLib* self, const GUID* riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!riid || !(*riid == kIid_IUnknown || *riid == kIid_ITypeLib)) return E_NOINTERFACE;
  *ppv = self;
  StaticAddRef();
  return S_OK;
}
uint32_t LibAddRef(ITypeLib*) { return StaticAddRef(); }
uint32_t LibRelease(ITypeLib*) { return StaticRelease(); }
uint32_t LibCount(ITypeLib*) { return static_cast<uint32_t>(Desc().types.size()); }
HRESULT LibInfo(ITypeLib*, uint32_t index, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index >= TypeInfos().size()) return TYPE_E_ELEMENTNOTFOUND;
  *info = &TypeInfos()[index].iface;
  StaticAddRef();
  return S_OK;
}
HRESULT LibAttr(ITypeLib*, const TLIBATTR** attr) {
  if (!attr) return E_POINTER;
  *attr = &Desc().lib;
  return S_OK;
}
HRESULT LibOfGuid(ITypeLib* self, const GUID* guid, ITypeInfo** info) {
  if (!guid || !info) return E_POINTER;
  for (uint32_t i = 0; i < Desc().types.size(); ++i)
    if (Desc().types[i].typekind >= TKIND_DISPATCH && Desc().types[i].guid == *guid) return LibInfo(self, i, info);
  *info = nullptr;
  return TYPE_E_ELEMENTNOTFOUND;
}
const ITypeLibVtbl kLibVtbl{LibQuery, LibAddRef, LibRelease, LibCount, LibInfo, LibAttr, LibOfGuid};

}  // namespace

ITypeLib* TypeLibrary() {
  g_lib.lpVtbl = &kLibVtbl;
  StaticAddRef();
  return &g_lib;
}

ITypeInfo* InterfaceTypeInfo() {
  ITypeInfo* info = nullptr;
  LibInfo(nullptr, 1, &info);
  return info;
}


}  // namespace com

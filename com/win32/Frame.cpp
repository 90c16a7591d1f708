#include "com/win32/Frame.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

#include "com/win32/Bridge.h"
#include "platform/Text_win32.h"

namespace com::win32 {

namespace {

using platform::win32::Utf8;
using platform::win32::Wide;

[[noreturn]] void Mismatch() { throw DispatchFault{hr::TypeMismatch}; }
[[noreturn]] void NoPointer() { throw DispatchFault{hr::Pointer}; }
[[noreturn]] void NoMemory() { throw DispatchFault{hr::OutOfMemory}; }

// The records as the type library lays them out; each use checks the
// record information's size against these.
struct AttTablePropRecord {
  LONG FromPort;
  LONG ToPort;
  VARIANT_BOOL Sum;
  VARIANT_BOOL Rx18;
  VARIANT_BOOL ByPass;
  LONG Attenuator;
};
struct DeviceInfoRecord {
  BSTR InfoText;
  BSTR FirmwareVersion;
  BSTR SerialNumber;
  BSTR Address;
};
struct UnitRecordRecord {
  BSTR Text;
  LONG Kind;
};
struct MeasuredValueRecord {
  double Value;
  UnitRecordRecord Unit;
};

BSTR MakeString(const std::string& text) {
  const std::wstring wide = Wide(text);
  BSTR s = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (!s) NoMemory();
  return s;
}

std::string TextOf(BSTR s) { return s ? Utf8(std::wstring(s, ::SysStringLen(s))) : std::string(); }

// The byte size of an array element of a scalar type, 0 for any other.
ULONG ScalarSize(VARTYPE t) {
  switch (t) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: return 8;
    default: return 0;
  }
}

// The number a scalar variant holds, by value or by reference; Empty is 0,
// a text or an object is never a number.
double Number(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: return 0;
    case VT_I4: return v.lVal;
    case VT_R8: return v.dblVal;
    case VT_I2: return v.iVal;
    case VT_BOOL: return v.boolVal ? -1 : 0;
  }
  const VARTYPE base = v.vt & ~VT_BYREF;
  if ((v.vt & VT_ARRAY) || (ScalarSize(base) == 0 && base != VT_DECIMAL)) Mismatch();
  if ((v.vt & VT_BYREF) && !v.byref) NoPointer();
  VARIANT r;
  ::VariantInit(&r);
  if (FAILED(::VariantChangeType(&r, const_cast<VARIANT*>(&v), 0, VT_R8))) Mismatch();  // reads it only
  return r.dblVal;
}

vb::Long ToLong(double x) {
  const double r = std::nearbyint(x);  // the default rounding mode: half to even
  if (!(r >= std::numeric_limits<vb::Long>::min() && r <= std::numeric_limits<vb::Long>::max()))
    throw DispatchFault{hr::Overflow};
  return static_cast<vb::Long>(r);
}

vb::Long LongOf(const VARIANT& v) {
  if (v.vt == VT_I4) return v.lVal;
  if (v.vt == (VT_BYREF | VT_I4)) return v.plVal ? *v.plVal : (NoPointer(), 0);
  return ToLong(Number(v));
}

// Keeps an array's data reachable while it is read or written.
class Access {
 public:
  explicit Access(SAFEARRAY* a) : a_(a) {
    if (FAILED(::SafeArrayAccessData(a_, &data_))) Mismatch();
  }
  ~Access() { ::SafeArrayUnaccessData(a_); }
  Access(const Access&) = delete;
  Access& operator=(const Access&) = delete;
  void* Data() const { return data_; }

 private:
  SAFEARRAY* a_;
  void* data_ = nullptr;
};

// One dimension's element count of an array whose elements are `vt` of the
// size that type has; anything else is a mismatch.
ULONG CheckedCount(SAFEARRAY* a, VARTYPE vt) {
  VARTYPE actual = VT_EMPTY;
  if (SUCCEEDED(::SafeArrayGetVartype(a, &actual)) && actual != vt) Mismatch();
  const ULONG size = vt == VT_VARIANT ? sizeof(VARIANT) : ScalarSize(vt);
  if (size == 0 || ::SafeArrayGetDim(a) != 1 || ::SafeArrayGetElemsize(a) != size) Mismatch();
  return a->rgsabound[0].cElements;
}

// The elements of an array variant as numbers.  An array the caller passes
// by reference in a typed variable (Double() for a Double() parameter) must
// be of the parameter's very type: the member may give it back.
template <class T, class Convert>
std::vector<T> Elements(const VARIANT& v, VARTYPE want, Convert convert) {
  if (v.vt == VT_EMPTY) return {};
  if (!(v.vt & VT_ARRAY)) Mismatch();
  const VARTYPE vt = v.vt & VT_TYPEMASK;
  if ((v.vt & VT_BYREF) && vt != want) Mismatch();
  if ((v.vt & VT_BYREF) && !v.pparray) NoPointer();
  SAFEARRAY* a = (v.vt & VT_BYREF) ? *v.pparray : v.parray;
  if (!a) return {};  // a dynamic array not yet dimensioned
  const ULONG count = CheckedCount(a, vt);
  std::vector<T> out;
  out.reserve(count);
  const Access access(a);
  const auto* bytes = static_cast<const unsigned char*>(access.Data());
  if (vt == want && sizeof(T) == ScalarSize(vt)) {
    out.resize(count);
    if (count) std::memcpy(out.data(), bytes, count * sizeof(T));
    return out;
  }
  for (ULONG i = 0; i < count; ++i) {
    if (vt == VT_VARIANT) {
      out.push_back(convert(Number(reinterpret_cast<const VARIANT*>(bytes)[i])));
      continue;
    }
    VARIANT e;
    ::VariantInit(&e);
    e.vt = vt;
    std::memcpy(&e.llVal, bytes + std::size_t{i} * ScalarSize(vt), ScalarSize(vt));
    out.push_back(convert(Number(e)));
  }
  return out;
}

template <class T>
SAFEARRAY* NewVector(VARTYPE vt, const std::vector<T>& x) {
  SAFEARRAY* a = ::SafeArrayCreateVector(vt, 0, static_cast<ULONG>(x.size()));
  if (!a) NoMemory();
  if (!x.empty()) {
    const Access access(a);
    std::memcpy(access.Data(), x.data(), x.size() * sizeof(T));
  }
  return a;
}

// The caller's variant a by-reference argument lets the member change:
// a Variant passed by reference, or a typed slot (VT_BYREF|type, a record
// by reference); nullptr for an argument passed by value.
VARIANT* Target(VARIANT* raw) {
  if (raw->vt == (VT_BYREF | VT_VARIANT)) {
    if (!raw->pvarVal) NoPointer();
    return raw->pvarVal;
  }
  return (raw->vt & VT_BYREF) ? raw : nullptr;
}

// The caller's record of the named type behind a record variant.
void* RecordData(const VARIANT& v, const wchar_t* name, ULONG size) {
  if ((v.vt & ~VT_BYREF) != VT_RECORD || !v.pRecInfo || !v.pvRecord) Mismatch();
  IRecordInfo* ours = RecordInfo(name);
  GUID theirs{}, mine{};
  ULONG n = 0;
  if (!ours || FAILED(v.pRecInfo->GetGuid(&theirs)) || FAILED(ours->GetGuid(&mine)) || !IsEqualGUID(theirs, mine) ||
      FAILED(v.pRecInfo->GetSize(&n)) || n != size)
    Mismatch();
  return v.pvRecord;
}

// A new record variant of the named type; `fill` sets its fields.
template <class R, class Fill>
void MakeRecord(VARIANT& out, const wchar_t* name, Fill fill) {
  IRecordInfo* info = RecordInfo(name);
  ULONG size = 0;
  if (!info || FAILED(info->GetSize(&size)) || size != sizeof(R)) throw DispatchFault{hr::Code(0x8000FFFFu)};
  void* data = info->RecordCreate();
  if (!data) NoMemory();
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_RECORD;
  v.pvRecord = data;
  v.pRecInfo = info;
  info->AddRef();
  try {
    fill(*static_cast<R*>(data));
  } catch (...) {
    ::VariantClear(&v);
    throw;
  }
  out = v;
}

void FillProp(AttTablePropRecord& r, const AttTableProp& x) {
  r.FromPort = x.FromPort;
  r.ToPort = x.ToPort;
  r.Sum = x.Sum ? VARIANT_TRUE : VARIANT_FALSE;
  r.Rx18 = x.Rx18 ? VARIANT_TRUE : VARIANT_FALSE;
  r.ByPass = x.ByPass ? VARIANT_TRUE : VARIANT_FALSE;
  r.Attenuator = x.Attenuator;
}

// A by-reference array given back: a Variant gets a new array; a typed
// array variable is re-dimensioned, or, when it is of fixed size, filled
// from its start if it is large enough.
template <class T>
void StoreArray(VARIANT* raw, VARTYPE vt, const std::vector<T>& x) {
  VARIANT* target = Target(raw);
  if (!target) return;
  if (!(target->vt & VT_BYREF)) {
    // A Variant (a script's variable) gets an array of Variants, the one
    // kind of array every scripting engine can index.
    SAFEARRAY* made = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(x.size()));
    if (!made) NoMemory();
    {
      const Access access(made);
      auto* elements = static_cast<VARIANT*>(access.Data());
      for (std::size_t i = 0; i < x.size(); ++i) {
        elements[i].vt = vt;
        if constexpr (std::is_same_v<T, double>) elements[i].dblVal = x[i];
        else elements[i].lVal = x[i];
      }
    }
    ::VariantClear(target);
    target->vt = VT_ARRAY | VT_VARIANT;
    target->parray = made;
    return;
  }
  if (target->vt != (VT_BYREF | VT_ARRAY | vt)) Mismatch();
  if (!target->pparray) NoPointer();
  SAFEARRAY*& a = *target->pparray;
  if (a && ((a->fFeatures & (FADF_FIXEDSIZE | FADF_STATIC | FADF_EMBEDDED | FADF_AUTO)) || a->cLocks > 0)) {
    if (CheckedCount(a, vt) < x.size()) vb::Raise(vb::err::ArrayFixedOrLocked, "Tavlor_QuorvelUnit");
    const Access access(a);
    if (!x.empty()) std::memcpy(access.Data(), x.data(), x.size() * sizeof(T));
    return;
  }
  SAFEARRAY* made = NewVector(vt, x);
  if (a) ::SafeArrayDestroy(a);
  a = made;
}

}  // namespace

VariantFrame::VariantFrame(std::vector<VARIANT*> args, VARIANT* result, IDispatch* self)
    : args_(std::move(args)), result_(result), self_(self) {}

VARIANT& VariantFrame::At(std::size_t i) const {
  VARIANT* v = args_[i];
  if (v->vt == (VT_BYREF | VT_VARIANT)) {
    if (!v->pvarVal) NoPointer();
    v = v->pvarVal;
  }
  return *v;
}

// An argument left out comes as the error "parameter not found".
bool VariantFrame::Given(std::size_t i) const {
  const VARIANT& v = At(i);
  return !(v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND);
}

void VariantFrame::Read(std::size_t i, vb::Long& out) const { out = LongOf(At(i)); }
void VariantFrame::Read(std::size_t i, double& out) const { out = Number(At(i)); }
void VariantFrame::Read(std::size_t i, bool& out) const { out = Number(At(i)) != 0; }

void VariantFrame::Read(std::size_t i, std::string& out) const {
  const VARIANT& v = At(i);
  if (v.vt == VT_EMPTY) return out.clear();
  if (v.vt == VT_BSTR) return void(out = TextOf(v.bstrVal));
  if (v.vt != (VT_BYREF | VT_BSTR)) Mismatch();
  if (!v.pbstrVal) NoPointer();
  out = TextOf(*v.pbstrVal);
}

void VariantFrame::Read(std::size_t i, std::vector<double>& out) const {
  out = Elements<double>(At(i), VT_R8, [](double x) { return x; });
}
void VariantFrame::Read(std::size_t i, std::vector<vb::Long>& out) const {
  static_assert(sizeof(vb::Long) == 4);
  out = Elements<vb::Long>(At(i), VT_I4, [](double x) { return ToLong(x); });
}

void VariantFrame::Read(std::size_t i, AttTableProp& out) const {
  const auto& r = *static_cast<const AttTablePropRecord*>(RecordData(At(i), L"AttTableProp", sizeof(AttTablePropRecord)));
  out.FromPort = static_cast<QuorvelPort>(r.FromPort);
  out.ToPort = static_cast<QuorvelPort>(r.ToPort);
  out.Sum = r.Sum != 0;
  out.Rx18 = r.Rx18 != 0;
  out.ByPass = r.ByPass != 0;
  out.Attenuator = r.Attenuator;
}

void VariantFrame::Read(std::size_t i, std::shared_ptr<host::ISettings>& out) const {
  const VARIANT& v = At(i);
  const VARTYPE t = v.vt;
  const bool nothing = t == VT_EMPTY || t == VT_NULL || ((t == VT_DISPATCH || t == VT_UNKNOWN) && !v.pdispVal) ||
                       ((t == (VT_BYREF | VT_DISPATCH) || t == (VT_BYREF | VT_UNKNOWN)) && (!v.ppdispVal || !*v.ppdispVal));
  if (!nothing) Mismatch();
  out.reset();
}

void VariantFrame::WriteBack(std::size_t i, const std::string& value) {
  VARIANT* target = Target(args_[i]);
  if (!target) return;
  BSTR made = MakeString(value);
  if (target->vt == (VT_BYREF | VT_BSTR) && target->pbstrVal) {
    ::SysFreeString(*target->pbstrVal);
    *target->pbstrVal = made;
  } else if (!(target->vt & VT_BYREF)) {
    ::VariantClear(target);
    target->vt = VT_BSTR;
    target->bstrVal = made;
  } else {
    ::SysFreeString(made);
    Mismatch();
  }
}

void VariantFrame::WriteBack(std::size_t i, const std::vector<double>& value) { StoreArray(args_[i], VT_R8, value); }
void VariantFrame::WriteBack(std::size_t i, const std::vector<vb::Long>& value) { StoreArray(args_[i], VT_I4, value); }

void VariantFrame::WriteBack(std::size_t i, const AttTableProp& value) {
  VARIANT* target = Target(args_[i]);
  if (!target) return;
  FillProp(*static_cast<AttTablePropRecord*>(RecordData(*target, L"AttTableProp", sizeof(AttTablePropRecord))), value);
}

void VariantFrame::Out(VARIANT& made) {
  if (result_) {
    ::VariantClear(result_);
    *result_ = made;
  } else {
    ::VariantClear(&made);
  }
}

void VariantFrame::Return(vb::Long value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  Out(v);
}
void VariantFrame::Return(double value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = value;
  Out(v);
}
void VariantFrame::Return(bool value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  Out(v);
}
void VariantFrame::Return(const std::string& value) {
  VARIANT v;
  ::VariantInit(&v);
  v.bstrVal = MakeString(value);
  v.vt = VT_BSTR;
  Out(v);
}
void VariantFrame::Return(const std::vector<double>& value) {
  VARIANT v;
  ::VariantInit(&v);
  v.parray = NewVector(VT_R8, value);
  v.vt = VT_ARRAY | VT_R8;
  Out(v);
}
void VariantFrame::Return(const std::vector<vb::Long>& value) {
  VARIANT v;
  ::VariantInit(&v);
  v.parray = NewVector(VT_I4, value);
  v.vt = VT_ARRAY | VT_I4;
  Out(v);
}
void VariantFrame::Return(const AttTableProp& value) {
  VARIANT v;
  ::VariantInit(&v);
  MakeRecord<AttTablePropRecord>(v, L"AttTableProp", [&](AttTablePropRecord& r) { FillProp(r, value); });
  Out(v);
}
void VariantFrame::Return(const DeviceInfo& value) {
  VARIANT v;
  ::VariantInit(&v);
  MakeRecord<DeviceInfoRecord>(v, L"DeviceInfo", [&](DeviceInfoRecord& r) {
    r.InfoText = MakeString(value.InfoText);
    r.FirmwareVersion = MakeString(value.FirmwareVersion);
    r.SerialNumber = MakeString(value.SerialNumber);
    r.Address = MakeString(value.Address);
  });
  Out(v);
}
void VariantFrame::Return(const MeasuredValue& value) {
  VARIANT v;
  ::VariantInit(&v);
  MakeRecord<MeasuredValueRecord>(v, L"MeasuredValue", [&](MeasuredValueRecord& r) {
    r.Value = value.Value;
    r.Unit.Text = MakeString(value.Unit.Text);
    r.Unit.Kind = static_cast<LONG>(value.Unit.Kind);
  });
  Out(v);
}

void VariantFrame::ReturnSelf() {
  if (!result_) return;
  ::VariantClear(result_);
  self_->AddRef();
  result_->vt = VT_DISPATCH;
  result_->pdispVal = self_;
}

}  // namespace com::win32

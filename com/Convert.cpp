#include "com/Convert.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace com {

namespace {

[[noreturn]] void Mismatch() { throw DispatchFault{hr::TypeMismatch}; }

// The number a scalar variant holds; Empty is 0, anything else a mismatch.
double Number(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: return 0;
    case VT_I2: return v.u.iVal;
    case VT_I4: return v.u.lVal;
    case VT_BOOL: return v.u.boolVal ? -1 : 0;
    case VT_R8: return v.u.dblVal;
    default: Mismatch();
  }
}

vb::Long ToLong(double x) {
  const double r = std::nearbyint(x);  // the default rounding mode: half to even
  if (!(r >= std::numeric_limits<vb::Long>::min() && r <= std::numeric_limits<vb::Long>::max()))
    throw DispatchFault{hr::Overflow};
  return static_cast<vb::Long>(r);
}

// The elements of an array variant as numbers.
template <class T, class Convert>
std::vector<T> Elements(const VARIANT& v, Convert convert) {
  if (v.vt == VT_EMPTY) return {};
  if (!(v.vt & VT_ARRAY) || !v.u.parray) Mismatch();
  const SAFEARRAY& a = *v.u.parray;
  // The variant and its array must agree on the elements, and elements need data.
  if ((v.vt & ~VT_ARRAY) != a.vt) Mismatch();
  if (a.cElements && !a.pvData) throw DispatchFault{hr::Pointer};
  std::vector<T> out;
  out.reserve(a.cElements);
  for (uint32_t i = 0; i < a.cElements; ++i) {
    switch (a.vt) {
      case VT_I4: out.push_back(convert(static_cast<const int32_t*>(a.pvData)[i])); break;
      case VT_R8: out.push_back(convert(static_cast<const double*>(a.pvData)[i])); break;
      case VT_VARIANT: out.push_back(convert(Number(static_cast<const VARIANT*>(a.pvData)[i]))); break;
      default: Mismatch();
    }
  }
  return out;
}

template <class T>
void Store(const std::vector<T>& x, uint16_t vt, VARIANT& v) {
  SAFEARRAY* a = SafeArrayCreateVector(vt, 0, static_cast<uint32_t>(x.size()));
  if (!a) throw DispatchFault{hr::OutOfMemory};
  if (!x.empty()) std::memcpy(a->pvData, x.data(), x.size() * sizeof(T));
  VariantClear(&v);
  v.vt = VT_ARRAY | vt;
  v.u.parray = a;
}

// The fields of a record variant of the named type.
const VARIANT* Fields(const VARIANT& v, const char* name, uint32_t count) {
  if (v.vt != VT_RECORD || !v.u.rec.pFields || !v.u.rec.pRecName || v.u.rec.pFields->vt != VT_VARIANT ||
      v.u.rec.pFields->cElements != count || !vb::EqualsNoCase(v.u.rec.pRecName, name))
    Mismatch();
  if (!v.u.rec.pFields->pvData) throw DispatchFault{hr::Pointer};
  return static_cast<const VARIANT*>(v.u.rec.pFields->pvData);
}

// A new record variant; `fill` sets its fields.
template <class Fill>
void MakeRecord(VARIANT& v, const char* name, uint32_t count, Fill fill) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, count);
  if (!a) throw DispatchFault{hr::OutOfMemory};
  VARIANT tmp;
  VariantInit(&tmp);
  tmp.vt = VT_RECORD;
  tmp.u.rec.pFields = a;
  tmp.u.rec.pRecName = name;
  try {
    fill(static_cast<VARIANT*>(a->pvData));
  } catch (...) {
    VariantClear(&tmp);
    throw;
  }
  VariantClear(&v);
  v = tmp;
}

vb::Long LongOf(const VARIANT& v) { return v.vt == VT_I4 ? v.u.lVal : ToLong(Number(v)); }
void PutLong(vb::Long x, VARIANT& v) {
  VariantClear(&v);
  v.vt = VT_I4;
  v.u.lVal = x;
}
void PutDouble(double x, VARIANT& v) {
  VariantClear(&v);
  v.vt = VT_R8;
  v.u.dblVal = x;
}
void PutBool(bool x, VARIANT& v) {
  VariantClear(&v);
  v.vt = VT_BOOL;
  v.u.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
}
void PutString(const std::string& x, VARIANT& v) {
  BSTR s = SysAllocStringLen(x.data(), static_cast<uint32_t>(x.size()));
  if (!s) throw DispatchFault{hr::OutOfMemory};
  VariantClear(&v);
  v.vt = VT_BSTR;
  v.u.bstrVal = s;
}

void Put(vb::Long x, VARIANT& v) { PutLong(x, v); }
void Put(double x, VARIANT& v) { PutDouble(x, v); }
void Put(bool x, VARIANT& v) { PutBool(x, v); }
void Put(const std::string& x, VARIANT& v) { PutString(x, v); }
void Put(const std::vector<double>& x, VARIANT& v) { Store(x, VT_R8, v); }
void Put(const std::vector<vb::Long>& x, VARIANT& v) {
  static_assert(sizeof(vb::Long) == 4);
  Store(x, VT_I4, v);
}
void Put(const AttTableProp& x, VARIANT& v) {
  MakeRecord(v, "AttTableProp", 6, [&](VARIANT* f) {
    PutLong(x.FromPort, f[0]);
    PutLong(x.ToPort, f[1]);
    PutBool(x.Sum, f[2]);
    PutBool(x.Rx18, f[3]);
    PutBool(x.ByPass, f[4]);
    PutLong(x.Attenuator, f[5]);
  });
}
void Put(const DeviceInfo& x, VARIANT& v) {
  MakeRecord(v, "DeviceInfo", 4, [&](VARIANT* f) {
    PutString(x.InfoText, f[0]);
    PutString(x.FirmwareVersion, f[1]);
    PutString(x.SerialNumber, f[2]);
    PutString(x.Address, f[3]);
  });
}
void Put(const MeasuredValue& x, VARIANT& v) {
  MakeRecord(v, "MeasuredValue", 2, [&](VARIANT* f) {
    PutDouble(x.Value, f[0]);
    MakeRecord(f[1], "UnitRecord", 2, [&](VARIANT* u) {
      PutString(x.Unit.Text, u[0]);
      PutLong(static_cast<vb::Long>(x.Unit.Kind), u[1]);
    });
  });
}

}  // namespace

VariantFrame::VariantFrame(const DISPPARAMS& params, VARIANT* result, IDispatch* self)
    : params_(params), count_(params.rgvarg ? params.cArgs : 0), result_(result), self_(self) {}

const VARIANT& VariantFrame::At(std::size_t i) const {
  const VARIANT* v = &params_.rgvarg[count_ - 1 - i];  // the last argument comes first
  if (v->vt == (VT_BYREF | VT_VARIANT)) {
    if (!v->u.pvarVal) throw DispatchFault{hr::Pointer, static_cast<int>(i)};
    v = v->u.pvarVal;
  }
  return *v;
}

VARIANT* VariantFrame::ByRef(std::size_t i) const {
  VARIANT* v = &params_.rgvarg[count_ - 1 - i];
  return v->vt == (VT_BYREF | VT_VARIANT) ? v->u.pvarVal : nullptr;
}

// An argument left out comes as the error "parameter not found".
bool VariantFrame::Given(std::size_t i) const {
  const VARIANT& v = At(i);
  return !(v.vt == VT_ERROR && v.u.scode == DISP_E_PARAMNOTFOUND);
}

void VariantFrame::Read(std::size_t i, vb::Long& out) const { out = LongOf(At(i)); }
void VariantFrame::Read(std::size_t i, double& out) const { out = Number(At(i)); }
void VariantFrame::Read(std::size_t i, bool& out) const { out = Number(At(i)) != 0; }

void VariantFrame::Read(std::size_t i, std::string& out) const {
  const VARIANT& v = At(i);
  if (v.vt == VT_EMPTY) return out.clear();
  if (v.vt != VT_BSTR) Mismatch();
  out = v.u.bstrVal ? std::string(v.u.bstrVal, SysStringLen(v.u.bstrVal)) : std::string();
}

void VariantFrame::Read(std::size_t i, std::vector<double>& out) const {
  out = Elements<double>(At(i), [](double x) { return x; });
}
void VariantFrame::Read(std::size_t i, std::vector<vb::Long>& out) const {
  out = Elements<vb::Long>(At(i), [](double x) { return ToLong(x); });
}

void VariantFrame::Read(std::size_t i, AttTableProp& out) const {
  const VARIANT* f = Fields(At(i), "AttTableProp", 6);
  out.FromPort = static_cast<QuorvelPort>(LongOf(f[0]));
  out.ToPort = static_cast<QuorvelPort>(LongOf(f[1]));
  out.Sum = Number(f[2]) != 0;
  out.Rx18 = Number(f[3]) != 0;
  out.ByPass = Number(f[4]) != 0;
  out.Attenuator = LongOf(f[5]);
}

void VariantFrame::Read(std::size_t i, std::shared_ptr<host::ISettings>& out) const {
  const VARIANT& v = At(i);
  if (v.vt == VT_EMPTY || v.vt == VT_NULL || ((v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) && !v.u.pdispVal))
    return out.reset();
  Mismatch();
}

template <class T>
void VariantFrame::Back(std::size_t i, const T& value) {
  if (VARIANT* target = ByRef(i)) Put(value, *target);
}
void VariantFrame::WriteBack(std::size_t i, const std::string& value) { Back(i, value); }
void VariantFrame::WriteBack(std::size_t i, const std::vector<double>& value) { Back(i, value); }
void VariantFrame::WriteBack(std::size_t i, const std::vector<vb::Long>& value) { Back(i, value); }
void VariantFrame::WriteBack(std::size_t i, const AttTableProp& value) { Back(i, value); }

// The result is made aside, then handed over, so that a failure leaves the caller's variant as it was.
template <class T>
void VariantFrame::Out(const T& value) {
  VARIANT out;
  VariantInit(&out);
  Put(value, out);
  if (result_) {
    VariantClear(result_);
    *result_ = out;
  } else {
    VariantClear(&out);
  }
}
void VariantFrame::Return(vb::Long value) { Out(value); }
void VariantFrame::Return(double value) { Out(value); }
void VariantFrame::Return(bool value) { Out(value); }
void VariantFrame::Return(const std::string& value) { Out(value); }
void VariantFrame::Return(const std::vector<double>& value) { Out(value); }
void VariantFrame::Return(const std::vector<vb::Long>& value) { Out(value); }
void VariantFrame::Return(const AttTableProp& value) { Out(value); }
void VariantFrame::Return(const DeviceInfo& value) { Out(value); }
void VariantFrame::Return(const MeasuredValue& value) { Out(value); }

void VariantFrame::ReturnSelf() {
  if (!result_) return;
  VariantClear(result_);
  self_->lpVtbl->AddRef(self_);
  result_->vt = VT_DISPATCH;
  result_->u.pdispVal = self_;
}

void FillException(EXCEPINFO* e, long number, const std::string& source, const std::string& description) {
  if (!e) return;
  std::memset(e, 0, sizeof *e);
  e->bstrSource = SysAllocStringLen(source.data(), static_cast<uint32_t>(source.size()));
  e->bstrDescription = SysAllocStringLen(description.data(), static_cast<uint32_t>(description.size()));
  e->scode = ErrorScode(number);
}

}  // namespace com

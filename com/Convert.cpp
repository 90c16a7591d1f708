#include "com/Convert.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace com {

namespace {

[[noreturn]] void Mismatch() { throw DispatchFault{DISP_E_TYPEMISMATCH}; }

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
    throw DispatchFault{DISP_E_OVERFLOW};
  return static_cast<vb::Long>(r);
}

// The elements of an array variant as numbers.
template <class T, class Convert>
std::vector<T> Elements(const VARIANT& v, Convert convert) {
  if (v.vt == VT_EMPTY) return {};
  if (!(v.vt & VT_ARRAY) || !v.u.parray) Mismatch();
  const SAFEARRAY& a = *v.u.parray;
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
  if (!a) throw DispatchFault{E_OUTOFMEMORY};
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
  return static_cast<const VARIANT*>(v.u.rec.pFields->pvData);
}

// A new record variant; `fill` sets its fields.
template <class Fill>
void MakeRecord(VARIANT& v, const char* name, uint32_t count, Fill fill) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, count);
  if (!a) throw DispatchFault{E_OUTOFMEMORY};
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

}  // namespace

vb::Long Conv<vb::Long>::From(const VARIANT& v) { return v.vt == VT_I4 ? v.u.lVal : ToLong(Number(v)); }
void Conv<vb::Long>::To(vb::Long x, VARIANT& v) {
  VariantClear(&v);
  v.vt = VT_I4;
  v.u.lVal = x;
}
vb::Long Conv<vb::Long>::Parse(std::string_view text) { return static_cast<vb::Long>(std::stol(std::string(text))); }

double Conv<double>::From(const VARIANT& v) { return Number(v); }
void Conv<double>::To(double x, VARIANT& v) {
  VariantClear(&v);
  v.vt = VT_R8;
  v.u.dblVal = x;
}
double Conv<double>::Parse(std::string_view text) { return std::stod(std::string(text)); }

bool Conv<bool>::From(const VARIANT& v) { return Number(v) != 0; }
void Conv<bool>::To(bool x, VARIANT& v) {
  VariantClear(&v);
  v.vt = VT_BOOL;
  v.u.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
}

std::string Conv<std::string>::From(const VARIANT& v) {
  if (v.vt == VT_EMPTY) return {};
  if (v.vt != VT_BSTR) Mismatch();
  return v.u.bstrVal ? std::string(v.u.bstrVal, SysStringLen(v.u.bstrVal)) : std::string();
}
void Conv<std::string>::To(const std::string& x, VARIANT& v) {
  BSTR s = SysAllocStringLen(x.data(), static_cast<uint32_t>(x.size()));
  if (!s) throw DispatchFault{E_OUTOFMEMORY};
  VariantClear(&v);
  v.vt = VT_BSTR;
  v.u.bstrVal = s;
}

std::vector<double> Conv<std::vector<double>>::From(const VARIANT& v) {
  return Elements<double>(v, [](double x) { return x; });
}
void Conv<std::vector<double>>::To(const std::vector<double>& x, VARIANT& v) { Store(x, VT_R8, v); }

std::vector<vb::Long> Conv<std::vector<vb::Long>>::From(const VARIANT& v) {
  return Elements<vb::Long>(v, [](double x) { return ToLong(x); });
}
void Conv<std::vector<vb::Long>>::To(const std::vector<vb::Long>& x, VARIANT& v) {
  static_assert(sizeof(vb::Long) == 4);
  Store(x, VT_I4, v);
}

AttTableProp Conv<AttTableProp>::From(const VARIANT& v) {
  const VARIANT* f = Fields(v, record, 6);
  AttTableProp p;
  p.FromPort = static_cast<QuorvelPort>(Conv<vb::Long>::From(f[0]));
  p.ToPort = static_cast<QuorvelPort>(Conv<vb::Long>::From(f[1]));
  p.Sum = Conv<bool>::From(f[2]);
  p.Rx18 = Conv<bool>::From(f[3]);
  p.ByPass = Conv<bool>::From(f[4]);
  p.Attenuator = Conv<vb::Long>::From(f[5]);
  return p;
}
void Conv<AttTableProp>::To(const AttTableProp& x, VARIANT& v) {
  MakeRecord(v, record, 6, [&](VARIANT* f) {
    Conv<vb::Long>::To(x.FromPort, f[0]);
    Conv<vb::Long>::To(x.ToPort, f[1]);
    Conv<bool>::To(x.Sum, f[2]);
    Conv<bool>::To(x.Rx18, f[3]);
    Conv<bool>::To(x.ByPass, f[4]);
    Conv<vb::Long>::To(x.Attenuator, f[5]);
  });
}

void Conv<DeviceInfo>::To(const DeviceInfo& x, VARIANT& v) {
  MakeRecord(v, record, 4, [&](VARIANT* f) {
    Conv<std::string>::To(x.InfoText, f[0]);
    Conv<std::string>::To(x.FirmwareVersion, f[1]);
    Conv<std::string>::To(x.SerialNumber, f[2]);
    Conv<std::string>::To(x.Address, f[3]);
  });
}

void Conv<MeasuredValue>::To(const MeasuredValue& x, VARIANT& v) {
  MakeRecord(v, record, 2, [&](VARIANT* f) {
    Conv<double>::To(x.Value, f[0]);
    MakeRecord(f[1], "UnitRecord", 2, [&](VARIANT* u) {
      Conv<std::string>::To(x.Unit.Text, u[0]);
      Conv<vb::Long>::To(static_cast<vb::Long>(x.Unit.Kind), u[1]);
    });
  });
}

std::shared_ptr<host::ISettings> Conv<std::shared_ptr<host::ISettings>>::From(const VARIANT& v) {
  if (v.vt == VT_EMPTY || v.vt == VT_NULL || ((v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) && !v.u.pdispVal))
    return nullptr;
  Mismatch();
}

HRESULT ErrorScode(long number) {
  if (number > 0 && number <= 0xFFFF) return static_cast<HRESULT>(0x800A0000u | static_cast<uint32_t>(number));
  return static_cast<HRESULT>(number);
}

void FillException(EXCEPINFO* e, long number, const std::string& source, const std::string& description) {
  if (!e) return;
  std::memset(e, 0, sizeof *e);
  e->bstrSource = SysAllocStringLen(source.data(), static_cast<uint32_t>(source.size()));
  e->bstrDescription = SysAllocStringLen(description.data(), static_cast<uint32_t>(description.size()));
  e->scode = ErrorScode(number);
}

}  // namespace com

// Variants to the driver's C++ types and back, as an automation host
// coerces them: numbers convert among themselves (a Double rounds half to
// even into a Long, overflow is an error), Empty is 0, "" or an empty
// list, a text is never a number.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "com/ComTypes.h"
#include "core/Vb.h"
#include "driver/Types.h"
#include "host/Settings.h"

namespace com {

// A call that cannot go ahead: the result code and, for an argument's
// fault, that argument's position (0 = first).
struct DispatchFault {
  HRESULT hr;
  int argument = -1;
};

template <class T>
struct Conv;

template <>
struct Conv<vb::Long> {
  static constexpr uint16_t vt = VT_I4;
  static vb::Long From(const VARIANT& v);
  static void To(vb::Long x, VARIANT& v);
  static vb::Long Parse(std::string_view text);
};
template <>
struct Conv<double> {
  static constexpr uint16_t vt = VT_R8;
  static double From(const VARIANT& v);
  static void To(double x, VARIANT& v);
  static double Parse(std::string_view text);
};
template <>
struct Conv<bool> {
  static constexpr uint16_t vt = VT_BOOL;
  static bool From(const VARIANT& v);
  static void To(bool x, VARIANT& v);
  static bool Parse(std::string_view text) { return text == "True"; }
};
template <>
struct Conv<std::string> {
  static constexpr uint16_t vt = VT_BSTR;
  static std::string From(const VARIANT& v);
  static void To(const std::string& x, VARIANT& v);
  static std::string Parse(std::string_view) { return {}; }
};
template <>
struct Conv<std::vector<double>> {
  static constexpr uint16_t vt = VT_ARRAY | VT_R8;
  static std::vector<double> From(const VARIANT& v);
  static void To(const std::vector<double>& x, VARIANT& v);
};
template <>
struct Conv<std::vector<vb::Long>> {
  static constexpr uint16_t vt = VT_ARRAY | VT_I4;
  static std::vector<vb::Long> From(const VARIANT& v);
  static void To(const std::vector<vb::Long>& x, VARIANT& v);
};
template <>
struct Conv<AttTableProp> {
  static constexpr uint16_t vt = VT_RECORD;
  static constexpr const char* record = "AttTableProp";
  static AttTableProp From(const VARIANT& v);
  static void To(const AttTableProp& x, VARIANT& v);
};
template <>
struct Conv<DeviceInfo> {
  static constexpr uint16_t vt = VT_RECORD;
  static constexpr const char* record = "DeviceInfo";
  static void To(const DeviceInfo& x, VARIANT& v);
};
template <>
struct Conv<MeasuredValue> {
  static constexpr uint16_t vt = VT_RECORD;
  static constexpr const char* record = "MeasuredValue";
  static void To(const MeasuredValue& x, VARIANT& v);
};
// A host settings object: only Nothing can cross the boundary; the driver
// then works without one, as it does before the host hands it one.
template <>
struct Conv<std::shared_ptr<host::ISettings>> {
  static constexpr uint16_t vt = VT_DISPATCH;
  static std::shared_ptr<host::ISettings> From(const VARIANT& v);
};

// A variant holding a run-time error for the host: scode 0x800A0000 | number.
HRESULT ErrorScode(long number);
void FillException(EXCEPINFO* e, long number, const std::string& source, const std::string& description);

}  // namespace com

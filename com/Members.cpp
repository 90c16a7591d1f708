#include "com/Members.h"

#include <functional>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "driver/clsQuorvelUnit.h"

namespace com {

namespace {

using C = clsQuorvelUnit;

template <class F>
struct Sig;
template <class R, class... A>
struct Sig<R (C::*)(A...)> {
  using Fn = R(A...);
};
template <class R, class... A>
struct Sig<R (C::*)(A...) const> {
  using Fn = R(A...);
};
template <class R, class... A>
struct Sig<R (*)(C&, A...)> {
  using Fn = R(A...);
};

template <class T>
using Plain = std::remove_cvref_t<T>;
template <class A>
constexpr bool kByRef = std::is_lvalue_reference_v<A> && !std::is_const_v<std::remove_reference_t<A>>;

// What the type library says of a C++ parameter or result type.
template <class T>
struct Describe;
template <>
struct Describe<vb::Long> {
  static constexpr uint16_t vt = vt::I4;
};
template <>
struct Describe<double> {
  static constexpr uint16_t vt = vt::R8;
};
template <>
struct Describe<bool> {
  static constexpr uint16_t vt = vt::Bool;
};
template <>
struct Describe<std::string> {
  static constexpr uint16_t vt = vt::Bstr;
};
template <>
struct Describe<std::vector<double>> {
  static constexpr uint16_t vt = vt::Array | vt::R8;
};
template <>
struct Describe<std::vector<vb::Long>> {
  static constexpr uint16_t vt = vt::Array | vt::I4;
};
template <>
struct Describe<std::shared_ptr<host::ISettings>> {
  static constexpr uint16_t vt = vt::Dispatch;
};
template <>
struct Describe<AttTableProp> {
  static constexpr uint16_t vt = vt::Record;
  static constexpr const char* record = "AttTableProp";
};
template <>
struct Describe<DeviceInfo> {
  static constexpr uint16_t vt = vt::Record;
  static constexpr const char* record = "DeviceInfo";
};
template <>
struct Describe<MeasuredValue> {
  static constexpr uint16_t vt = vt::Record;
  static constexpr const char* record = "MeasuredValue";
};

template <class T>
constexpr const char* RecordName() {
  if constexpr (requires { Describe<T>::record; }) return Describe<T>::record;
  else return "";
}

// An optional parameter's default, from its text in the table.
template <class T>
T Default(const std::string& text) {
  if constexpr (std::is_same_v<T, vb::Long>) return static_cast<vb::Long>(std::stol(text));
  else if constexpr (std::is_same_v<T, double>) return vb::ParseNumber(text).value_or(0);
  else if constexpr (std::is_same_v<T, bool>) return text == "True";
  else return T{};
}

template <class T>
T Fetch(const Frame& f, std::size_t i, const Param& p) {
  if (i >= f.Count() || !f.Given(i)) {
    if (!p.optional) throw DispatchFault{hr::ParamNotOptional, static_cast<int>(i)};
    return Default<T>(p.defaultValue);
  }
  T value{};
  try {
    f.Read(i, value);
  } catch (DispatchFault& fault) {
    fault.argument = static_cast<int>(i);
    throw;
  }
  return value;
}

// "name", "name:Type", "name=default" or "name:Type=default"; a default makes it optional.
Param ParseParam(std::string_view text) {
  Param p;
  if (const auto eq = text.find('='); eq != std::string_view::npos) {
    p.optional = true;
    p.flags |= param::Optional;
    p.defaultValue = text.substr(eq + 1);
    text = text.substr(0, eq);
  }
  if (const auto colon = text.find(':'); colon != std::string_view::npos) {
    p.typeName = text.substr(colon + 1);
    text = text.substr(0, colon);
  }
  p.name = text;
  return p;
}

template <class F, class S = typename Sig<F>::Fn>
struct Binder;

template <class F, class R, class... A>
struct Binder<F, R(A...)> {
  static void Bind(Member& m, F f, std::initializer_list<const char*> params) {
    for (const char* s : params) m.params.push_back(ParseParam(s));
    m.params.resize(sizeof...(A));
    std::size_t i = 0;
    ((m.params[i].vt = Describe<Plain<A>>::vt,
      m.params[i].flags |= kByRef<A> ? param::Out : 0,
      m.params[i].typeName = *RecordName<Plain<A>>() ? RecordName<Plain<A>>() : m.params[i].typeName, ++i),
     ...);
    if constexpr (!std::is_void_v<R>) {
      m.vtResult = Describe<Plain<R>>::vt;
      m.resultType = RecordName<Plain<R>>();
    }
    m.call = [f, params = m.params](C& unit, Frame& frame) {
      if (frame.Count() > sizeof...(A)) throw DispatchFault{hr::BadParamCount};
      [&]<std::size_t... I>(std::index_sequence<I...>) {
        std::tuple<Plain<A>...> values{Fetch<Plain<A>>(frame, I, params[I])...};
        if constexpr (std::is_void_v<R>) {
          std::invoke(f, unit, std::get<I>(values)...);
        } else {
          frame.Return(std::invoke(f, unit, std::get<I>(values)...));
        }
        (WriteBack<A>(frame, I, std::get<I>(values)), ...);
      }(std::index_sequence_for<A...>{});
    };
  }

  template <class T>
  static void WriteBack(Frame& frame, std::size_t i, const Plain<T>& value) {
    if constexpr (kByRef<T> && requires { frame.WriteBack(i, value); })
      if (i < frame.Count() && frame.Given(i)) frame.WriteBack(i, value);
  }
};

class Table {
 public:
  template <class F>
  Table& Method(const char* name, F f, std::initializer_list<const char*> params = {}) {
    return Add(name, kind::Method, f, params);
  }
  template <class F>
  Table& Get(const char* name, F f, std::initializer_list<const char*> params = {}) {
    return Add(name, kind::Get, f, params);
  }
  template <class F>
  Table& Put(const char* name, F f, std::initializer_list<const char*> params) {
    return Add(name, kind::Put, f, params);
  }
  Table& Raw(Member m) {
    m.dispid = DispidFor(m.name);
    members_.push_back(std::move(m));
    return *this;
  }
  std::vector<Member> Take() { return std::move(members_); }

 private:
  template <class F>
  Table& Add(const char* name, uint16_t kind, F f, std::initializer_list<const char*> params) {
    Member m;
    m.name = name;
    m.kind = kind;
    Binder<F>::Bind(m, f, params);
    return Raw(std::move(m));
  }
  // A property's get and put share one id; ids count from 1 in slot order.
  int32_t DispidFor(const std::string& name) {
    for (const auto& m : members_)
      if (m.name == name) return m.dispid;
    return ++next_;
  }
  std::vector<Member> members_;
  int32_t next_ = 0;
};

std::vector<Member> Build() {
  using L = vb::Long;
  using S = std::shared_ptr<host::ISettings>;
  Table t;
  t.Method("Transfer_FirmwareFile", &C::Transfer_FirmwareFile, {"localfilename"})
      .Get("Frequency", +[](C& u, L port) { return u.Frequency(port); }, {"port:QuorvelPowerPort"})
      .Put("Frequency", +[](C& u, L port, double frq) { u.Frequency(port, frq); }, {"port:QuorvelPowerPort", "frq"});
  Member device;
  device.name = "Device";
  device.kind = kind::Get;
  device.vtResult = vt::Dispatch;
  device.resultType = "clsDevice";
  device.call = [](C&, Frame& frame) {
    if (frame.Count() > 0) throw DispatchFault{hr::BadParamCount};
    frame.ReturnSelf();
  };
  t.Raw(std::move(device));
  t.Method("ResetQuorvelUnit", &C::ResetQuorvelUnit)
      .Method("SetPart", &C::SetPart, {"PartNo", "value"})
      .Method("GetPart", &C::GetPart, {"PartNo"})
      .Method("GetTAZ", &C::GetTAZ)
      .Method("GetAttNr", +[](C&, L PathNr, double att) { return C::GetAttNr(PathNr, att); },
              {"PathNr:QuorvelPath", "att"})
      .Method("GetPathNr", +[](C&, AttTableProp& prop) { return C::GetPathNr(prop); }, {"prop"})
      .Method("SavePathAttenuationTable",
              +[](C& u, AttTableProp& prop, std::string& savepath) { u.SavePathAttenuationTable(prop, savepath); },
              {"prop", "savepath="})
      .Method("SavePathAttFromDriver",
              +[](C& u, AttTableProp& prop, std::string& savepath) { u.SavePathAttFromDriver(prop, savepath); },
              {"prop", "savepath="})
      .Method("SavePathAttenuationTabletoDriver", &C::SavePathAttenuationTabletoDriver, {"prop"})
      .Method("GetPathAttenuationFilename", &C::GetPathAttenuationFilename, {"prop"})
      .Method("InitPathAttenuationSave", &C::InitPathAttenuationSave)
      .Method("GetPathAttenuation", &C::GetPathAttenuation, {"frq", "prop", "interpolation=0"})
      .Method("SetPath", &C::SetPath, {"path:QuorvelPath"})
      .Method("SetAttenuator", &C::SetAttenuator, {"att", "port:QuorvelAttenuator=0", "send=False"})
      .Method("SendAttenuator", &C::SendAttenuator, {"port:QuorvelAttenuator=0"})
      .Method("GetAttenuator", &C::GetAttenuator, {"port:QuorvelAttenuator", "fromDevice"})
      .Method("SetMeasTime", &C::SetMeasTime, {"time", "port:QuorvelPowerPort=0", "send=False"})
      .Method("SendMeasTime", &C::SendMeasTime, {"port:QuorvelPowerPort=0"})
      .Method("GetMeasTime", &C::GetMeasTime, {"port:QuorvelPowerPort", "fromDevice"})
      .Method("GetSampleCount", &C::GetSampleCount, {"port:QuorvelPowerPort", "fromDevice"})
      .Method("SetSubSampleRate", &C::SetSubSampleRate, {"rate", "port:QuorvelPowerPort=0", "send=False"})
      .Method("SetSampleRate", &C::SetSampleRate, {"rate", "port:QuorvelPowerPort=0", "send=False"})
      .Method("SendSampleRate", &C::SendSampleRate, {"port:QuorvelPowerPort=0"})
      .Method("GetSampleRate", &C::GetSampleRate, {"port:QuorvelPowerPort", "fromDevice"})
      .Method("SetBurstSearchLevel", &C::SetBurstSearchLevel, {"level", "port:QuorvelPowerPort=0", "send=False"})
      .Method("SendBurstSearchLevel", &C::SendBurstSearchLevel, {"port:QuorvelPowerPort=0"})
      .Method("GetBurstSearchLevel", &C::GetBurstSearchLevel, {"port:QuorvelPowerPort", "fromDevice"})
      .Method("SetAttenuation", &C::SetAttenuation, {"att", "port:QuorvelPowerPort=0", "send=False"})
      .Method("SendAttenuation", &C::SendAttenuation, {"port:QuorvelPowerPort=0"})
      .Method("GetAttenuation", &C::GetAttenuation, {"port:QuorvelPowerPort", "fromDevice"})
      .Method("SetBeamformingGain", &C::SetBeamformingGain, {"bfgain", "send=False"})
      .Method("SendBeamformingGain", &C::SendBeamformingGain)
      .Method("GetBeamformingGain", &C::GetBeamformingGain, {"fromDevice"})
      .Method("SetGain", &C::SetGain, {"Gain", "port:QuorvelPowerPort=0", "send=False"})
      .Method("SendGain", &C::SendGain, {"port:QuorvelPowerPort=0"})
      .Method("GetGain", &C::GetGain, {"port:QuorvelPowerPort", "fromDevice"})
      .Method("SetFrequency", &C::SetFrequency, {"frq", "port:QuorvelPowerPort=0", "send=False"})
      .Method("SendFrequency", &C::SendFrequency, {"port:QuorvelPowerPort=0"})
      .Method("GetFrequency", &C::GetFrequency, {"port:QuorvelPowerPort", "fromDevice"})
      .Method("SetSumPorts", &C::SetSumPorts, {"ports"})
      .Method("SendSumPorts", &C::SendSumPorts)
      .Method("GetSumPorts", &C::GetSumPorts, {"fromDevice"})
      .Method("SetActivePortClr", &C::SetActivePortClr)
      .Method("SetActivePort", &C::SetActivePort, {"port:QuorvelPowerPort", "active=True", "send=False"})
      .Method("SendActivePorts", &C::SendActivePorts)
      .Method("GetActivePorts", &C::GetActivePorts, {"fromDevice"})
      .Method("SetExtTrigger", &C::SetExtTrigger, {"state", "port:QuorvelPowerPort=0", "send=False"})
      .Method("SendExtTrigger", &C::SendExtTrigger, {"port:QuorvelPowerPort=0"})
      .Method("GetExtTrigger", &C::GetExtTrigger, {"port:QuorvelPowerPort", "fromDevice"})
      .Method("SetTriggerOffset", &C::SetTriggerOffset, {"time", "port:QuorvelPowerPort=0", "send=False"})
      .Method("SendTriggerOffset", &C::SendTriggerOffset, {"port:QuorvelPowerPort=0"})
      .Method("GetTriggerOffset", &C::GetTriggerOffset, {"port:QuorvelPowerPort", "fromDevice"})
      .Method("BurstSearchInit", &C::BurstSearchInit, {"port:QuorvelPowerPort"})
      .Method("MeasurementInit", &C::MeasurementInit, {"port:QuorvelPowerPort"})
      .Method("MeasurementAbort", &C::MeasurementAbort)
      .Method("Measure", &C::Measure, {"port:QuorvelPowerPort"})
      .Method("SendTriggerOut", &C::SendTriggerOut)
      .Method("SetTriggerOutWithIn", &C::SetTriggerOutWithIn, {"value", "send=False"})
      .Method("SendTriggerOutWithIn", &C::SendTriggerOutWithIn)
      .Method("GetTriggerOutWithIn", &C::GetTriggerOutWithIn, {"fromDevice"})
      .Method("SetTriggerOutWithMeasurement", &C::SetTriggerOutWithMeasurement, {"value", "send=False"})
      .Method("SendTriggerOutWithMeasurement", &C::SendTriggerOutWithMeasurement)
      .Method("GetTriggerOutWithMeasurement", &C::GetTriggerOutWithMeasurement, {"fromDevice"})
      .Method("GetErrorStatus", &C::GetErrorStatus, {"ClearErrStatus=False"})
      .Method("GetErrorDescription", &C::GetErrorDescription, {"Quorvel_ErrStatus:QuorvelErrorStatus"})
      .Method("GetSystemError", &C::GetSystemError)
      .Method("SendAllSettings", &C::SendAllSettings)
      .Method("GetTrace", &C::GetTrace, {"port:QuorvelPowerPort", "values"})
      .Method("GetTraceMin", &C::GetTraceMin, {"port:QuorvelPowerPort"})
      .Method("GetTraceMax", &C::GetTraceMax, {"port:QuorvelPowerPort"})
      .Method("GetMediumUtilization", &C::GetMediumUtilization, {"port:QuorvelPowerPort"})
      .Method("GetRMS", &C::GetRMS, {"port:QuorvelPowerPort"})
      .Method("GetBurstCount", &C::GetBurstCount, {"port:QuorvelPowerPort"})
      .Method("GetBurstStartTime", &C::GetBurstStartTime, {"port:QuorvelPowerPort", "values"})
      .Method("GetBurstOnTime", &C::GetBurstOnTime, {"port:QuorvelPowerPort", "values"})
      .Method("GetBurstLevel", &C::GetBurstLevel, {"port:QuorvelPowerPort", "values"})
      .Method("GetBurstMaxLevelIndex", &C::GetBurstMaxLevelIndex, {"port:QuorvelPowerPort"})
      .Method("GetDutyCycle", &C::GetDutyCycle, {"port:QuorvelPowerPort"})
      .Method("SetCalMinVideoLevel", &C::SetCalMinVideoLevel, {"level"})
      .Method("GetCalMinVideoLevel", &C::GetCalMinVideoLevel)
      .Method("SetCalMaxVideoLevel", &C::SetCalMaxVideoLevel, {"level"})
      .Method("GetCalMaxVideoLevel", &C::GetCalMaxVideoLevel);

  // The host's device interface, as the object implements it.
  t.Get("clsDevice_Name", +[](C& u) { return u.clsDevice_Name(); })
      .Put("clsDevice_Name", +[](C& u, const std::string& name) { u.clsDevice_Name(name); }, {"Name"})
      .Get("clsDevice_Description", &C::clsDevice_Description)
      .Get("clsDevice_DeviceType", &C::clsDevice_DeviceType)
      .Get("clsDevice_Interface", &C::clsDevice_Interface)
      .Get("clsDevice_Address", &C::clsDevice_Address)
      .Get("clsDevice_Status", +[](C& u) { return u.clsDevice_Status(); })
      .Put("clsDevice_Status", +[](C& u, L status) { u.clsDevice_Status(status); }, {"Status"})
      .Get("clsDevice_Info", &C::clsDevice_Info)
      .Get("clsDevice_MaxFrequency", &C::clsDevice_MaxFrequency)
      .Get("clsDevice_MinFrequency", &C::clsDevice_MinFrequency)
      .Method("clsDevice_ShowDeviceDialog", &C::clsDevice_ShowDeviceDialog, {"DialogType", "Settings", "Text="})
      .Method("clsDevice_Initialize", &C::clsDevice_Initialize)
      .Method("clsDevice_Check", &C::clsDevice_Check)
      .Method("clsDevice_WriteSettingsFile", +[](C& u, S file, const std::string& section) {
        u.clsDevice_WriteSettingsFile(file, section);
      }, {"file", "Section"})
      .Method("clsDevice_ReadSettingsFile", +[](C& u, S file, const std::string& section) {
        u.clsDevice_ReadSettingsFile(file, section);
      }, {"file", "Section"})
      .Method("clsDevice_StartTest", &C::clsDevice_StartTest)
      .Method("clsDevice_StopTest", &C::clsDevice_StopTest)
      .Method("clsDevice_GetInterfaces", &C::clsDevice_GetInterfaces, {"DeviceType"})
      .Method("clsDevice_GetSettingsString", +[](C& u, S file, const std::string& section) {
        return u.clsDevice_GetSettingsString(file, section);
      }, {"file", "Section"});
  return t.Take();
}

}  // namespace

const Member* FindMember(int32_t dispid, uint16_t flags) {
  const Member* found = nullptr;
  for (const Member& m : Members()) {
    if (m.dispid != dispid) continue;
    if (flags & kind::Put) {
      if (m.kind == kind::Put) return &m;
    } else if (flags & (kind::Method | kind::Get)) {
      if (m.kind != kind::Put) found = &m;
    }
  }
  return found;
}

std::optional<int32_t> FindDispid(std::string_view name) {
  for (const Member& m : Members())
    if (vb::EqualsNoCase(m.name, name)) return m.dispid;
  return std::nullopt;
}

int32_t ErrorScode(long number) {
  if (number > 0 && number <= 0xFFFF) return static_cast<int32_t>(0x800A0000u | static_cast<uint32_t>(number));
  return static_cast<int32_t>(number);
}

const std::vector<Member>& Members() {
  static const std::vector<Member> members = Build();
  return members;
}

}  // namespace com

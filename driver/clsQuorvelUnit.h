// clsQuorvelUnit: the driver of one Zentrix8 eight-port RF power
// measurement and switching unit.
//
// How the component's interface maps to C++:
//  - a method is a member function of the same name; Long is vb::Long
//    (int32_t), Double double, String std::string, Boolean bool;
//  - a Property Get is a const member function of the property's name, a
//    Property Let the overload that takes the new value as last argument
//    (Frequency(port) / Frequency(port, frq));
//  - an argument the caller sees changed (ByRef) is a reference;
//  - a run-time error is a vb::Error exception carrying number, source and
//    description, as the host's error object would.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/Limits.h"
#include "driver/ServiceForm.h"
#include "driver/Types.h"
#include "host/Device.h"
#include "host/Services.h"
#include "core/Export.h"
#include "core/Vb.h"
#include "io/ScpiLink.h"
#include "io/Trace.h"
#include "platform/Platform.h"

// The settings of one measuring sensor.
struct PortSettings {
  double Frequency = 0;         // Hz
  double MeasTime = 0;          // s
  vb::Long SampleRate = 0;      // samples per second, as the sampler can make it
  vb::Long ClockMode = 0;       // 0 = 250 MHz base clock, 1 = 252 MHz
  vb::Long DividerFast = 0;     // divider of the base clock
  vb::Long DividerSlow = 0;     // decimation, 0 = none
  vb::Long SampleCount = 0;     // samples per measurement
  double BurstSearchLevel = 0;  // burst search threshold
  double Attenuation = 0;       // attenuation correction
  double Gain = 0;              // gain correction
  bool ExtTrigger = false;      // wait for the external trigger
  double TriggerOffset = 0;     // s
  vb::Long SubSampleRate = 0;   // sub-sampling factor; above 1 takes effect
};

// One driver object is used by one thread at a time: a C++ host that shares
// an object between threads makes its calls one after the other (the
// component's boundary does so for every host that calls by name).
class QUORVEL_API clsQuorvelUnit : public host::clsDevice, private io::IUnitReports {
 public:
  static constexpr std::string_view kObjectName = "clsQuorvelUnit";
  static constexpr std::string_view kDefaultAddress = "TCPIP::---.---.---.---::inst0::instr";
  static constexpr std::string_view kDeviceType = "QuorvelUnit";
  static constexpr vb::Long kInterfaceVisa = io::kInterfaceVisa;
  static constexpr double kMinFrequency = zentrix8::kMinFrequency;
  static constexpr double kMaxFrequency = zentrix8::kMaxFrequency;

  // Uses the services the program installed (driver/Defaults.h).
  clsQuorvelUnit();
  clsQuorvelUnit(host::Services host, platform::Services platform);
  ~clsQuorvelUnit() override;
  clsQuorvelUnit(const clsQuorvelUnit&) = delete;
  clsQuorvelUnit& operator=(const clsQuorvelUnit&) = delete;

  // --- properties ---------------------------------------------------------
  // Measuring frequency of a sensor, Hz; port outside 1..8 raises 9.
  double Frequency(vb::Long port) const;
  void Frequency(vb::Long port, double frq);
  // The object as the host's device interface.
  host::clsDevice& Device() { return *this; }

  // --- unit identity, reset and part data ------------------------------------
  void ResetQuorvelUnit();
  void SetPart(vb::Long PartNo, vb::Long value);
  vb::Long GetPart(vb::Long PartNo);
  double GetTAZ();
  static vb::Long GetAttNr(vb::Long PathNr, double att);
  static vb::Long GetPathNr(const AttTableProp& prop);
  // Rounds the attenuator down to its path's step (100, 10 or 1 dB).
  static void RoundAttenuatorStep(AttTableProp& prop);

  // --- measurement control --------------------------------------------------
  void BurstSearchInit(vb::Long port);
  void MeasurementInit(vb::Long port);
  void MeasurementAbort();
  MeasuredValue Measure(vb::Long port);

  // --- per-port settings ------------------------------------------------------
  // Port 0 addresses every sensor, -1 the sensors of the sum; a member of a
  // non-empty sum stands for the whole sum.  Get members return the stored
  // value, or with fromDevice ask the unit without storing the answer.
  void SetAttenuator(double att, vb::Long port = attDUTAll, bool send = false);
  void SendAttenuator(vb::Long port = attDUTAll);
  double GetAttenuator(vb::Long port, bool fromDevice);
  void SetMeasTime(double time, vb::Long port = ppDUTAll, bool send = false);
  void SendMeasTime(vb::Long port = ppDUTAll);
  double GetMeasTime(vb::Long port, bool fromDevice);
  vb::Long GetSampleCount(vb::Long port, bool fromDevice);
  void SetBurstSearchLevel(double level, vb::Long port = ppDUTAll, bool send = false);
  void SendBurstSearchLevel(vb::Long port = ppDUTAll);
  double GetBurstSearchLevel(vb::Long port, bool fromDevice);
  void SetAttenuation(double att, vb::Long port = ppDUTAll, bool send = false);
  void SendAttenuation(vb::Long port = ppDUTAll);
  double GetAttenuation(vb::Long port, bool fromDevice);
  void SetBeamformingGain(double bfgain, bool send = false);
  void SendBeamformingGain();
  double GetBeamformingGain(bool fromDevice);
  void SetGain(double Gain, vb::Long port = ppDUTAll, bool send = false);
  void SendGain(vb::Long port = ppDUTAll);
  double GetGain(vb::Long port, bool fromDevice);
  void SetFrequency(double frq, vb::Long port = ppDUTAll, bool send = false);
  void SendFrequency(vb::Long port = ppDUTAll);
  double GetFrequency(vb::Long port, bool fromDevice);
  void SetActivePortClr();
  void SetActivePort(vb::Long port, bool active = true, bool send = false);
  void SendActivePorts();
  std::vector<vb::Long> GetActivePorts(bool fromDevice);

  // --- sampling, summing and trigger ------------------------------------------
  void SetSubSampleRate(vb::Long rate, vb::Long port = ppDUTAll, bool send = false);
  void SetSampleRate(vb::Long rate, vb::Long port = ppDUTAll, bool send = false);
  void SendSampleRate(vb::Long port = ppDUTAll);
  vb::Long GetSampleRate(vb::Long port, bool fromDevice);
  void SetSumPorts(std::vector<vb::Long>& ports);
  void SendSumPorts();
  std::vector<vb::Long> GetSumPorts(bool fromDevice);
  void SetExtTrigger(bool state, vb::Long port = ppDUTAll, bool send = false);
  void SendExtTrigger(vb::Long port = ppDUTAll);
  bool GetExtTrigger(vb::Long port, bool fromDevice);
  void SetTriggerOffset(double time, vb::Long port = ppDUTAll, bool send = false);
  void SendTriggerOffset(vb::Long port = ppDUTAll);
  double GetTriggerOffset(vb::Long port, bool fromDevice);
  void SendTriggerOut();
  void SetTriggerOutWithIn(bool value, bool send = false);
  void SendTriggerOutWithIn();
  bool GetTriggerOutWithIn(bool fromDevice);
  void SetTriggerOutWithMeasurement(bool value, bool send = false);
  void SendTriggerOutWithMeasurement();
  bool GetTriggerOutWithMeasurement(bool fromDevice);
  void SendAllSettings();

  // --- paths and path attenuation tables -------------------------------------
  void SetPath(vb::Long path);
  void SavePathAttenuationTable(AttTableProp& prop, std::string& savepath);
  void SavePathAttenuationTable(AttTableProp& prop) {
    std::string none;
    SavePathAttenuationTable(prop, none);
  }
  void SavePathAttFromDriver(AttTableProp& prop, std::string& savepath);
  void SavePathAttFromDriver(AttTableProp& prop) {
    std::string none;
    SavePathAttFromDriver(prop, none);
  }
  void SavePathAttenuationTabletoDriver(AttTableProp& prop);
  std::string GetPathAttenuationFilename(const AttTableProp& prop) const;
  void InitPathAttenuationSave();
  // interpolation 0 = linear, anything else logarithmic; 1000 = no value.
  double GetPathAttenuation(double frq, AttTableProp& prop, vb::Long interpolation = 0);
  // The table key as the unit's tables are numbered (may be shared by two paths).
  static vb::Long AttTableKey(const AttTableProp& prop);

  // --- firmware ----------------------------------------------------------------
  // 1 = sent, -1 = not a firmware file (nothing sent), 0 = empty file.
  int Transfer_FirmwareFile(const std::string& localfilename);
  // Told after each block of an upload how much of the file is sent, in
  // percent (beside the service form's status label).
  void SetFirmwareProgress(std::function<void(double percent)> progress) { m_FirmwareProgress = std::move(progress); }

  // --- results ----------------------------------------------------------------
  vb::Long GetTrace(vb::Long port, std::vector<double>& values);
  double GetTraceMin(vb::Long port);
  double GetTraceMax(vb::Long port);
  double GetMediumUtilization(vb::Long port);
  double GetRMS(vb::Long port);
  vb::Long GetBurstCount(vb::Long port);
  vb::Long GetBurstStartTime(vb::Long port, std::vector<double>& values);
  vb::Long GetBurstOnTime(vb::Long port, std::vector<double>& values);
  vb::Long GetBurstLevel(vb::Long port, std::vector<double>& values);
  vb::Long GetBurstMaxLevelIndex(vb::Long port);
  double GetDutyCycle(vb::Long port);
  void SetCalMinVideoLevel(double level);
  double GetCalMinVideoLevel();
  void SetCalMaxVideoLevel(double level);
  double GetCalMaxVideoLevel();

  // --- error status ---------------------------------------------------------
  vb::Long GetErrorStatus(bool ClearErrStatus = false);
  std::string GetErrorDescription(vb::Long Quorvel_ErrStatus) const;
  std::string GetSystemError();

  // --- the host's device interface ----------------------------------------
  std::string clsDevice_Name() const override { return m_Name; }
  void clsDevice_Name(const std::string& Name) override;  // the set-up point
  std::string clsDevice_Description() const override { return m_Description; }
  std::string clsDevice_DeviceType() const override { return m_DeviceType; }
  vb::Long clsDevice_Interface() const override { return m_Link.Interface(); }
  vb::Long clsDevice_Address() const override { return 0; }  // the VISA resource is not reported here
  void clsDevice_Status(vb::Long Status) override;
  vb::Long clsDevice_Status() const override { return m_Link.Status(); }
  DeviceInfo clsDevice_Info() const override { return m_Info; }
  double clsDevice_MaxFrequency() const override { return m_MaxFrequency; }
  double clsDevice_MinFrequency() const override { return m_MinFrequency; }
  void clsDevice_ShowDeviceDialog(vb::Long DialogType, std::shared_ptr<host::ISettings> Settings,
                                  const std::string& Text) override;
  void clsDevice_Initialize() override;
  void clsDevice_Check() override;
  void clsDevice_WriteSettingsFile(std::shared_ptr<host::ISettings>&, const std::string&) override {}
  void clsDevice_ReadSettingsFile(std::shared_ptr<host::ISettings>&, const std::string&) override {}
  void clsDevice_StartTest() override;
  void clsDevice_StopTest() override;
  std::vector<vb::Long> clsDevice_GetInterfaces(const std::string&) override { return {kInterfaceVisa}; }
  std::string clsDevice_GetSettingsString(std::shared_ptr<host::ISettings>&, const std::string&) override {
    return {};
  }
  // The pages handed to host dialogs, shared by every driver object.
  static const std::vector<host::TabEntry>& TabList();
  // The service form of the last device dialog of type 4 (null before one).
  IServiceForm* TestForm() const { return m_TestForm.get(); }

  // --- diagnostics (not part of the component's interface) ----------------
  // The stored settings of sensor 1..8 and of attenuator 1..10, as they are.
  const PortSettings& StoredPortSettings(vb::Long sensor) const { return m_Port(sensor); }
  // A raw command or query through the command layer (a query is text with
  // a "?"): the answer without its line feed, "" for a command.
  std::string ScpiExchange(const std::string& text);
  // The 100 ms polls the last completion wait was allowed.
  long CompletionWaitPolls() const { return m_Link.CompletionPollBudget(); }
  double StoredAttenuator(vb::Long attenuator) const { return m_Attenuator(attenuator); }
  std::string AddressText() const { return m_Link.ResourceName(); }
  vb::Long StoredSumPortMask() const { return m_SumPortMask; }
  vb::Long StoredActivePortMask() const { return m_ActivePortMask; }
  vb::Long StoredAuxModeMask() const { return m_AuxModeMask; }

  // --- pure helpers -------------------------------------------------------
  // Channel (QuorvelPowerPort) to sensor: up to 8 unchanged, 9 -> 7,
  // 10 -> 6, 11 -> 8, 12 and up -> 0.
  static vb::Long ChannelToSensor(vb::Long channel);
  // Sensor to channel: up to 5 unchanged, 6 -> 10, 7 -> 9, 8 -> 11, else 0.
  static vb::Long SensorToChannel(vb::Long sensor);
  // Ports of an error -222 mask as the unit lists them (5 -> "1;3;"), and back
  // from a text: every digit 1..8 in it names a port ("3;1" -> 5).
  static std::string ErrorPortList(vb::Long mask);
  static vb::Long PortMaskFromText(std::string_view text);
  // Clamps into the Long range, rounding halves to even.
  static vb::Long ClampToLong(double x);

 private:
  friend struct clsQuorvelUnitProbe;  // tests look at the private state

  // Bit value 2^n of a port mask; ports outside the mask's reach have no bit.
  static vb::Long Bit(vb::Long n) { return (n >= 0 && n <= 30) ? (vb::Long{1} << n) : 0; }
  void InitPortDefaults();
  void UpdateSampling(vb::Long port);
  void ResetUnitCaches();
  bool ReadConfig();
  bool WriteConfig();
  void m_clsDialog_NewParameter();
  // The cache of path attenuation tables, matched by the whole path record.
  void AddAttTable(const AttTableProp& prop, AttTable table);
  void RemoveAttTable(const AttTableProp& prop);
  AttTable GetAttTable(const AttTableProp& prop) const;
  bool HasAttTable(const AttTableProp& prop) const;
  std::vector<AttTable>& AttTables() const;
  // Reads a path's calibration row into `table`; false (after the message)
  // for a path the unit does not have.
  bool ReadPathRow(const AttTableProp& prop, AttTable& table);
  void SaveDataSet(const std::string& name, std::string& savepath, const AttTable& table);
  platform::IMessageBox& MessageBox() const;
  // The sensors a port argument addresses (see the settings members).
  std::vector<vb::Long> GetPortList(vb::Long port) const;
  // Attenuation and gain: a single sensor alone, port 0 and the sum by list.
  void SetCorrection(double value, vb::Long port, bool send, vb::Long index, double PortSettings::*field);
  // A sensor's stored number, or with fromDevice the unit's (not stored).
  double GetSensorValue(vb::Long port, bool fromDevice, vb::Long index, double PortSettings::*field);
  void SendTriggerFlag(vb::Long index, bool value);
  bool GetTriggerFlag(vb::Long index, bool fromDevice, bool stored);
  // One setting command per listed sensor, with the value the field holds.
  template <class Field>
  void SendPerSensor(vb::Long port, vb::Long index, Field field);
  double ValueQuery(std::string_view name, vb::Long index, vb::Long sensor);
  vb::Long ListQuery(std::string_view name, vb::Long index, vb::Long port, std::vector<double>& values, double waitTime,
                     double divisor);

  // The unit's presence: opens or closes the session and sets the status.
  void CheckDevicePhysical(vb::Long wanted);

  // The command layer.
  void WriteCmd(const std::string& cmd) { m_Link.WriteCmd(cmd); }
  std::string RequestCmd(const std::string& query) { return m_Link.RequestCmd(query); }
  double RequestCmdValue(const std::string& query) { return m_Link.RequestCmdValue(query); }
  bool RequestCmdFlag(const std::string& query) { return m_Link.RequestCmdFlag(query); }
  void RequestCmdValueList(const std::string& query, std::vector<double>& values, double waitTime, double divisor) {
    m_Link.RequestCmdValueList(query, values, waitTime, divisor);
  }
  std::string ReadAnswer() { return m_Link.ReadAnswer(); }

  // The unit's own error reports (io::IUnitReports): error -222 names the
  // ports whose traces overflowed; problems go to the host's message list.
  void ExecutionError(io::ScpiLink& link) override;
  void OperationComplete(io::ScpiLink& link) override;
  void CorruptList(io::ScpiLink& link, const std::string& query) override;
  bool CheckSystemErrorOverflow();
  void LogCommandError(const std::string& cmd, const std::string& error);
  // The flags every fresh start of the unit clears.
  void ClearUnitFlags();
  // How long a measurement with the stored settings takes at the unit, in s:
  // the longest measuring time and trigger offset of the sensors, unknown
  // when one waits for an external trigger.
  double MeasuringSeconds() const;

  // A catalogue command with the host's no-value marker.
  std::string BuildCmd(vb::Long index, vb::Long kind, vb::Long port, double value = 4e10, std::string_view mode = {});

  // A traced procedure of this object with the standard error handler.
  template <class F>
  decltype(auto) Traced(std::string_view name, F&& body, io::FrameOptions options = {}) {
    return io::Traced(Logger(), {kObjectName, name}, std::forward<F>(body), std::move(options));
  }
  host::ITraceLogger& Logger() const { return host::Require(m_Host.logger); }

  host::Services m_Host;
  platform::Services m_Platform;

  // --- the object's state ---------------------------------------------------
  std::string m_Name;
  std::shared_ptr<host::ISettings> m_Settings;
  vb::Long m_DialogType = 0;
  std::string m_Description;
  std::string m_DeviceType{kDeviceType};
  DeviceInfo m_Info;
  std::unique_ptr<IServiceForm> m_TestForm;
  std::function<void(double)> m_FirmwareProgress;
  vb::Array<PortSettings, 1, 8> m_Port;
  double m_MinFrequency = 0;
  double m_MaxFrequency = 0;
  mutable std::optional<std::vector<AttTable>> m_AttTables;  // absent until the name is set
  double m_BeamformingGain = 0;
  vb::Long m_SumPortMask = 0;
  vb::Long m_ActivePortMask = 0;
  vb::Long m_AuxModeMask = 0;
  bool m_TriggerOutWithIn = false;
  bool m_TriggerOutWithMeasurement = false;
  vb::Array<double, 1, 10> m_Attenuator;
  vb::Long m_SysErrOverflow = 0;  // ports of the last error -222, bit n-1 for port n
  vb::Long m_LogOption = 0;
  std::shared_ptr<host::IDeviceListConnection> m_dvlCon;
  std::shared_ptr<host::IDeviceDialog> m_clsDialog;
  host::Subscription m_clsDialogEvents;  // NewParameter of m_clsDialog

  // The session with the unit: interface code, status, resource name,
  // tracked operations and the error status word live there.
  io::ScpiLink m_Link;
};

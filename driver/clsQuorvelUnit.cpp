// The driver object: creation, defaults, channel mapping, destruction.
#include "driver/clsQuorvelUnit.h"
#include "driver/Defaults.h"
#include "driver/modMain.h"

clsQuorvelUnit::clsQuorvelUnit() : clsQuorvelUnit(defaults::Host(), defaults::Platform()) {}

clsQuorvelUnit::clsQuorvelUnit(host::Services host, platform::Services platform)
    : m_Host(std::move(host)), m_Platform(std::move(platform)), m_Link(m_Host, m_Platform, std::string(kObjectName)) {
  m_Link.SetReports(this);
  m_Settings.reset();
  m_DeviceType = std::string(kDeviceType);
  m_Link.SetResourceName(std::string(kDefaultAddress));
  m_Info.Address = m_Link.ResourceName();
  m_Link.SetInterface(kInterfaceVisa);
  ClearUnitFlags();
  m_LogOption = 0;
  // The ports take m_MinFrequency before the limits are set, so every
  // sensor's frequency is 0 until the host names the device.
  ResetQuorvelUnit();
}

clsQuorvelUnit::~clsQuorvelUnit() {
  // Nothing may escape a destructor: every error is ignored.
  try {
    m_clsDialogEvents.Reset();
  } catch (...) {
  }
  m_clsDialog.reset();  // the link closes the session when it goes
  m_dvlCon.reset();
}

double clsQuorvelUnit::Frequency(vb::Long port) const { return m_Port(port).Frequency; }

void clsQuorvelUnit::Frequency(vb::Long port, double frq) { m_Port(port).Frequency = frq; }

vb::Long clsQuorvelUnit::ChannelToSensor(vb::Long channel) {
  switch (channel) {
    case 9: return 7;
    case 10: return 6;
    case 11: return 8;
    default: return channel <= 8 ? channel : 0;
  }
}

vb::Long clsQuorvelUnit::SensorToChannel(vb::Long sensor) {
  switch (sensor) {
    case 6: return 10;
    case 7: return 9;
    case 8: return 11;
    default: return sensor <= 5 ? sensor : 0;
  }
}

vb::Long clsQuorvelUnit::ClampToLong(double x) {
  if (x > 2147483647.0) return 2147483647;
  if (x < -2147483648.0) return -2147483647 - 1;
  return vb::CLng(x);
}

void clsQuorvelUnit::InitPortDefaults() {
  for (vb::Long s = 1; s <= 8; ++s) {
    PortSettings& p = m_Port(s);
    p.Frequency = m_MinFrequency;
    p.MeasTime = 0;
    p.SampleRate = 1000000;
    p.BurstSearchLevel = 30;
    p.ExtTrigger = false;
    p.TriggerOffset = 0;
    p.SubSampleRate = 0;
    UpdateSampling(s);
    p.Gain = 0;
    p.Attenuation = 0;
  }
  for (double& a : m_Attenuator) a = zentrix8::kAttenuatorDefault;
  ResetUnitCaches();
}

void clsQuorvelUnit::ResetUnitCaches() {
  m_MinFrequency = kMinFrequency;
  m_MaxFrequency = kMaxFrequency;
  if (m_AttTables) m_AttTables->clear();
  m_SumPortMask = 0;
}

std::string clsQuorvelUnit::BuildCmd(vb::Long index, vb::Long kind, vb::Long port, double value, std::string_view mode) {
  return modMain::BuildCommand(index, kind, port, value, mode, "", host::Require(m_Host.time).NoValue());
}

// The driver object: creation, defaults, sampling derivation, destruction.
#include <cmath>

#include "driver/clsQuorvelUnit.h"
#include "driver/Defaults.h"
#include "io/modMain.h"

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
  for (double& a : m_Attenuator) a = 31.75;
  ResetUnitCaches();
}

void clsQuorvelUnit::UpdateSampling(vb::Long port) {
  PortSettings& p = m_Port(ChannelToSensor(port));
  if (p.SampleRate < 1) return;
  constexpr vb::Long kClock250 = 250000000;
  constexpr vb::Long kClock252 = 252000000;
  if (p.SampleRate < 1000000) {
    // Slow rates decimate the 1 MHz stream of the 250 MHz clock / 250.
    p.ClockMode = 0;
    p.DividerFast = 250;
    p.DividerSlow = vb::CLng(vb::Divide(1000000.0, p.SampleRate));
    p.SampleRate = vb::CLng(vb::Divide(1000000.0, p.DividerSlow));
  } else {
    p.DividerSlow = 0;
    if (kClock250 % p.SampleRate == 0) {
      p.ClockMode = 0;
      p.DividerFast = vb::CLng(vb::Divide(kClock250, p.SampleRate));
    } else if (kClock252 % p.SampleRate != 0) {
      // Neither clock divides: move to the nearest rate of the 250 MHz clock.
      p.ClockMode = 0;
      p.DividerFast = vb::CLng(vb::Divide(kClock250, p.SampleRate));
      p.SampleRate = vb::CLng(vb::Divide(kClock250, p.DividerFast));
    } else {
      p.ClockMode = 1;
      p.DividerFast = vb::CLng(vb::Divide(kClock252, p.SampleRate));
    }
    if (p.SubSampleRate > 1) p.DividerSlow = p.SubSampleRate;
  }
  const double samples = static_cast<double>(p.SampleRate) * p.MeasTime + 1;
  p.SampleCount = p.SubSampleRate >= 2 ? vb::CLng(samples / p.SubSampleRate) : vb::CLng(samples);
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

// Per-port settings: stored in the driver, sent when asked, read back from
// the store or, when asked, from the unit.
#include "driver/clsQuorvelUnit.h"
#include "driver/modMain.h"

using modMain::ckQuery;
using modMain::ckSetting;

namespace {
constexpr vb::Long kFirstAux = ppGenerator, kLastAux = ppVideo;
bool IsAuxPort(vb::Long port) { return port >= kFirstAux && port <= kLastAux; }
bool IsAuxSensor(vb::Long port) { return port >= 6 && port <= 8; }
}  // namespace

std::vector<vb::Long> clsQuorvelUnit::GetPortList(vb::Long port) const {
  if (port == 0) return {1, 2, 3, 4, 5, 6, 7, 8};
  if (m_SumPortMask == 0 || (port >= 0 && (m_SumPortMask & Bit(port)) == 0)) return {ChannelToSensor(port)};
  std::vector<vb::Long> sum;
  for (vb::Long s = 1; s <= 8; ++s)
    if (m_SumPortMask & Bit(s)) sum.push_back(s);
  return sum;
}

template <class Field>
void clsQuorvelUnit::SendPerSensor(vb::Long port, vb::Long index, Field field) {
  for (const vb::Long s : GetPortList(port)) WriteCmd(BuildCmd(index, ckSetting, s, field(m_Port(s))));
}

// --- attenuators of the switch matrix ------------------------------------------

void clsQuorvelUnit::SetAttenuator(double att, vb::Long port, bool send) {
  if (port < 1) {
    for (vb::Long a = 1; a <= 8; ++a) m_Attenuator(a) = att;  // the DUT attenuators, not companion and bypass
  } else {
    m_Attenuator(port) = att;
  }
  if (send) SendAttenuator(port);
}

void clsQuorvelUnit::SendAttenuator(vb::Long port) {
  if (port < 1) {
    for (vb::Long a = 1; a <= 8; ++a) WriteCmd(BuildCmd(modMain::cmdAttenuator, ckSetting, a, m_Attenuator(a)));
  } else {
    WriteCmd(BuildCmd(modMain::cmdAttenuator, ckSetting, port, m_Attenuator(port)));
  }
}

double clsQuorvelUnit::GetAttenuator(vb::Long port, bool fromDevice) {
  if (fromDevice) return RequestCmdValue(BuildCmd(modMain::cmdAttenuator, ckQuery, port));
  return m_Attenuator(port);
}

// --- measuring time and sample count -------------------------------------------

void clsQuorvelUnit::SetMeasTime(double time, vb::Long port, bool send) {
  for (const vb::Long s : GetPortList(port)) {
    m_Port(s).MeasTime = time;
    UpdateSampling(s);
  }
  if (send) SendMeasTime(port);
}

void clsQuorvelUnit::SendMeasTime(vb::Long port) {
  // The unit takes the measuring time as a number of samples.
  SendPerSensor(port, modMain::cmdSampleCount, [](const PortSettings& p) { return double(p.SampleCount); });
}

double clsQuorvelUnit::GetMeasTime(vb::Long port, bool fromDevice) {
  return GetSensorValue(port, fromDevice, modMain::cmdSampleTime, &PortSettings::MeasTime);
}

vb::Long clsQuorvelUnit::GetSampleCount(vb::Long port, bool fromDevice) {
  const vb::Long s = ChannelToSensor(port);
  if (fromDevice) return ClampToLong(RequestCmdValue(BuildCmd(modMain::cmdSampleCount, ckQuery, s)));
  return m_Port(s).SampleCount;
}

// --- burst search level --------------------------------------------------------

void clsQuorvelUnit::SetBurstSearchLevel(double level, vb::Long port, bool send) {
  for (const vb::Long s : GetPortList(port)) m_Port(s).BurstSearchLevel = level;
  if (send) SendBurstSearchLevel(port);
}

void clsQuorvelUnit::SendBurstSearchLevel(vb::Long port) {
  if (port == ppSum) {
    // One command for the summing path, with the level of the sum's first sensor.
    const std::vector<vb::Long> list = GetPortList(port);
    if (list.front() < 1) return;  // empty sum
    WriteCmd(BuildCmd(modMain::cmdBurstSearchLevel, ckSetting, ppSum, m_Port(list.front()).BurstSearchLevel));
    return;
  }
  SendPerSensor(port, modMain::cmdBurstSearchLevel, [](const PortSettings& p) { return p.BurstSearchLevel; });
}

double clsQuorvelUnit::GetBurstSearchLevel(vb::Long port, bool fromDevice) {
  return GetSensorValue(port, fromDevice, modMain::cmdBurstSearchLevel, &PortSettings::BurstSearchLevel);
}

// --- attenuation and gain corrections -------------------------------------------

void clsQuorvelUnit::SetCorrection(double value, vb::Long port, bool send, vb::Long index, double PortSettings::*field) {
  if (port != 0 && port != ppSum) {
    // One sensor only, even when it belongs to the sum.
    const vb::Long s = ChannelToSensor(port);
    m_Port(s).*field = value;
    if (send) WriteCmd(BuildCmd(index, ckSetting, s, value));
    return;
  }
  for (const vb::Long s : GetPortList(port)) m_Port(s).*field = value;
  if (send) SendPerSensor(port, index, [field](const PortSettings& p) { return p.*field; });
}

double clsQuorvelUnit::GetSensorValue(vb::Long port, bool fromDevice, vb::Long index, double PortSettings::*field) {
  const vb::Long s = ChannelToSensor(port);
  if (fromDevice) return RequestCmdValue(BuildCmd(index, ckQuery, s));  // asked, not stored
  return m_Port(s).*field;
}

void clsQuorvelUnit::SetAttenuation(double att, vb::Long port, bool send) {
  SetCorrection(att, port, send, modMain::cmdAttenuation, &PortSettings::Attenuation);
}

void clsQuorvelUnit::SendAttenuation(vb::Long port) {
  SendPerSensor(port, modMain::cmdAttenuation, [](const PortSettings& p) { return p.Attenuation; });
}

double clsQuorvelUnit::GetAttenuation(vb::Long port, bool fromDevice) {
  return GetSensorValue(port, fromDevice, modMain::cmdAttenuation, &PortSettings::Attenuation);
}

void clsQuorvelUnit::SetGain(double Gain, vb::Long port, bool send) {
  SetCorrection(Gain, port, send, modMain::cmdGain, &PortSettings::Gain);
}

void clsQuorvelUnit::SendGain(vb::Long port) {
  SendPerSensor(port, modMain::cmdGain, [](const PortSettings& p) { return p.Gain; });
}

double clsQuorvelUnit::GetGain(vb::Long port, bool fromDevice) {
  return GetSensorValue(port, fromDevice, modMain::cmdGain, &PortSettings::Gain);
}

void clsQuorvelUnit::SetBeamformingGain(double bfgain, bool send) {
  m_BeamformingGain = bfgain;
  if (send) SendBeamformingGain();
}

void clsQuorvelUnit::SendBeamformingGain() {
  WriteCmd(BuildCmd(modMain::cmdBeamformingGain, ckSetting, 0, m_BeamformingGain));
}

double clsQuorvelUnit::GetBeamformingGain(bool fromDevice) {
  if (fromDevice) return RequestCmdValue(BuildCmd(modMain::cmdBeamformingGain, ckQuery, 0));
  return m_BeamformingGain;
}

// --- frequency -------------------------------------------------------------------

void clsQuorvelUnit::SetFrequency(double frq, vb::Long port, bool send) {
  for (const vb::Long s : GetPortList(port)) m_Port(s).Frequency = frq;
  if (send) SendFrequency(port);
}

void clsQuorvelUnit::SendFrequency(vb::Long port) {
  SendPerSensor(port, modMain::cmdFrequency, [](const PortSettings& p) { return p.Frequency; });
}

double clsQuorvelUnit::GetFrequency(vb::Long port, bool fromDevice) {
  return GetSensorValue(port, fromDevice, modMain::cmdFrequency, &PortSettings::Frequency);
}

// --- active ports ----------------------------------------------------------------

void clsQuorvelUnit::SetActivePortClr() {
  m_SumPortMask = 0;
  m_ActivePortMask = 0;
  m_AuxModeMask = 0;
}

void clsQuorvelUnit::SetActivePort(vb::Long port, bool active, bool send) {
  if (port < 1) return;
  const vb::Long s = ChannelToSensor(port);
  const vb::Long b = Bit(s);
  // The auxiliary channel that shares a sensor with this port (6 -> 10, 7 -> 9, 8 -> 11).
  const vb::Long sharedAux = IsAuxSensor(port) ? Bit(SensorToChannel(port)) : 0;
  if (active && (m_ActivePortMask & b) == 0) {
    m_ActivePortMask |= b;
    if (IsAuxPort(port)) m_AuxModeMask |= Bit(port);
    if (IsAuxSensor(port)) m_AuxModeMask &= ~sharedAux;
    // The auxiliary port's own mode, or the power detector for its sensor.
    if (send && (IsAuxPort(port) || IsAuxSensor(port))) WriteCmd(BuildCmd(modMain::cmdSensorMode, ckSetting, port));
  } else if (!active && (m_ActivePortMask & b) != 0) {
    m_ActivePortMask &= ~b;
    if (IsAuxPort(port)) m_AuxModeMask &= ~Bit(port);
    if (IsAuxSensor(port)) m_AuxModeMask &= ~sharedAux;
    if (send && IsAuxPort(port)) WriteCmd(BuildCmd(modMain::cmdSensorMode, ckSetting, s));
    if (send && IsAuxSensor(port)) WriteCmd(BuildCmd(modMain::cmdSensorMode, ckSetting, port));
  }
}

void clsQuorvelUnit::SendActivePorts() {
  for (vb::Long s = 6; s <= 8; ++s) {
    if ((m_ActivePortMask & Bit(s)) == 0) continue;
    const vb::Long aux = SensorToChannel(s);
    WriteCmd(BuildCmd(modMain::cmdSensorMode, ckSetting, (m_AuxModeMask & Bit(aux)) ? aux : s));
  }
}

std::vector<vb::Long> clsQuorvelUnit::GetActivePorts(bool fromDevice) {
  // The unit has no query for its active sensors, so nothing is asked and
  // the answer "from the device" is always "none known": (-1).
  if (fromDevice) return {-1};
  std::vector<vb::Long> active;
  for (vb::Long s = 1; s <= 8; ++s)
    if (m_ActivePortMask & Bit(s)) active.push_back(s);
  if (active.empty()) active.push_back(-1);
  return active;
}

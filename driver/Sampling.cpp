// Sampling, summing and trigger settings, and SendAllSettings.
#include <algorithm>

#include "driver/Limits.h"
#include "driver/clsQuorvelUnit.h"
#include "driver/modMain.h"

using modMain::ckQuery;
using modMain::ckSetting;

// --- sample rate -------------------------------------------------------------------

void clsQuorvelUnit::UpdateSampling(vb::Long port) {
  PortSettings& p = m_Port(ChannelToSensor(port));
  if (p.SampleRate < 1) return;
  if (p.SampleRate < zentrix8::kSlowStream) {
    // Slow rates decimate the 1 MHz stream of the 250 MHz clock / 250.
    p.ClockMode = 0;
    p.DividerFast = zentrix8::kSlowStreamDivider;
    p.DividerSlow = vb::CLng(vb::Divide(static_cast<double>(zentrix8::kSlowStream), p.SampleRate));
    p.SampleRate = vb::CLng(vb::Divide(static_cast<double>(zentrix8::kSlowStream), p.DividerSlow));
  } else {
    p.DividerSlow = 0;
    if (zentrix8::kClock250 % p.SampleRate == 0) {
      p.ClockMode = 0;
      p.DividerFast = vb::CLng(vb::Divide(zentrix8::kClock250, p.SampleRate));
    } else if (zentrix8::kClock252 % p.SampleRate != 0) {
      // Neither clock divides: move to the nearest rate of the 250 MHz clock.
      p.ClockMode = 0;
      p.DividerFast = vb::CLng(vb::Divide(zentrix8::kClock250, p.SampleRate));
      p.SampleRate = vb::CLng(vb::Divide(zentrix8::kClock250, p.DividerFast));
    } else {
      p.ClockMode = 1;
      p.DividerFast = vb::CLng(vb::Divide(zentrix8::kClock252, p.SampleRate));
    }
    if (p.SubSampleRate > 1) p.DividerSlow = p.SubSampleRate;
  }
  const double samples = static_cast<double>(p.SampleRate) * p.MeasTime + 1;
  p.SampleCount = p.SubSampleRate >= 2 ? vb::CLng(samples / p.SubSampleRate) : vb::CLng(samples);
}

void clsQuorvelUnit::SetSampleRate(vb::Long rate, vb::Long port, bool send) {
  for (const vb::Long s : GetPortList(port)) {
    m_Port(s).SampleRate = rate;
    UpdateSampling(s);  // moves the rate to one the sampler can make
  }
  if (send) {
    SendMeasTime(port);
    SendSampleRate(port);
  }
}

void clsQuorvelUnit::SetSubSampleRate(vb::Long rate, vb::Long port, bool send) {
  for (const vb::Long s : GetPortList(port)) {
    m_Port(s).SubSampleRate = rate;
    UpdateSampling(s);
  }
  if (send) {
    SendMeasTime(port);
    SendSampleRate(port);
  }
}

void clsQuorvelUnit::SendSampleRate(vb::Long port) {
  for (const vb::Long s : GetPortList(port)) {
    const PortSettings& p = m_Port(s);
    static constexpr const char* kClock[] = {"C250", "C252", "CEXTERNAL"};
    if (p.ClockMode >= 0 && p.ClockMode <= 2)
      WriteCmd(BuildCmd(modMain::cmdClock, ckSetting, s, 4e10, kClock[p.ClockMode]));
    WriteCmd(BuildCmd(modMain::cmdDividerFast, ckSetting, s, p.DividerFast));
    WriteCmd(BuildCmd(modMain::cmdDividerSlow, ckSetting, s, p.DividerSlow));
    const bool decimated = p.SampleRate >= 1000000 && p.DividerSlow > 0;
    WriteCmd(BuildCmd(modMain::cmdSampleMode, ckSetting, s, 4e10, decimated ? "MAX" : "SAMP"));
  }
}

vb::Long clsQuorvelUnit::GetSampleRate(vb::Long port, bool fromDevice) {
  const vb::Long s = ChannelToSensor(port);
  if (fromDevice) {
    const double rate = RequestCmdValue(BuildCmd(modMain::cmdSampleRate, ckQuery, s));
    return vb::CLng(std::min<double>(rate, zentrix8::kMaxReportedRate));
  }
  return m_Port(s).SampleRate;
}

// --- the sum -----------------------------------------------------------------------

void clsQuorvelUnit::SetSumPorts(std::vector<vb::Long>& ports) {
  const auto lead = std::find_if(ports.begin(), ports.end(), [](vb::Long e) { return e > 0; });
  if (lead == ports.end()) {
    m_SumPortMask = 0;
    return;
  }
  const vb::Long f = ChannelToSensor(*lead);
  UpdateSampling(f);
  vb::Long mask = 0;
  for (const vb::Long e : ports) {
    if (e <= 0) continue;
    const vb::Long s = ChannelToSensor(e);
    mask |= Bit(s);
    if ((m_ActivePortMask & Bit(s)) == 0) {
      m_ActivePortMask |= Bit(s);
      if (e >= ppGenerator && e <= ppVideo) m_AuxModeMask |= Bit(e);
    }
  }
  m_SumPortMask = mask;
  // The members follow the lead sensor's sampling, frequency and trigger;
  // attenuation, gain and sub-sampling stay their own.
  const PortSettings& from = m_Port(f);
  for (auto it = std::next(lead); it != ports.end(); ++it) {
    if (*it <= 0) continue;
    PortSettings& to = m_Port(ChannelToSensor(*it));
    to.MeasTime = from.MeasTime;
    to.SampleRate = from.SampleRate;
    to.BurstSearchLevel = from.BurstSearchLevel;
    to.Frequency = from.Frequency;
    to.ExtTrigger = from.ExtTrigger;
    to.TriggerOffset = from.TriggerOffset;
    to.ClockMode = from.ClockMode;
    to.DividerSlow = from.DividerSlow;
    to.DividerFast = from.DividerFast;
    to.SampleCount = from.SampleCount;
  }
}

void clsQuorvelUnit::SendSumPorts() {
  for (vb::Long s = 1; s <= 8; ++s) {
    const char* mode = (m_SumPortMask & Bit(s)) ? "SUM" : (m_ActivePortMask & Bit(s)) ? "SING" : "OFF";
    WriteCmd(BuildCmd(modMain::cmdMeasMode, ckSetting, s, 4e10, mode));
  }
}

std::vector<vb::Long> clsQuorvelUnit::GetSumPorts(bool fromDevice) {
  std::vector<vb::Long> sum;
  if (!fromDevice) {
    if (m_SumPortMask == 0) return {-1};
    return GetPortList(ppSum);
  }
  for (vb::Long s = 1; s <= 8; ++s) {
    const std::string answer = RequestCmd(BuildCmd(modMain::cmdMeasMode, ckQuery, s));
    if (io::ScpiLink::IsNumericAnswer(answer) && vb::CLng(vb::Val(answer)) != 0) sum.push_back(s);
  }
  if (sum.empty()) sum.push_back(-1);
  return sum;
}

// --- external trigger and trigger offset -----------------------------------------

void clsQuorvelUnit::SetExtTrigger(bool state, vb::Long port, bool send) {
  for (const vb::Long s : GetPortList(port)) m_Port(s).ExtTrigger = state;
  if (send) SendExtTrigger(port);
}

void clsQuorvelUnit::SendExtTrigger(vb::Long port) {
  for (const vb::Long s : GetPortList(port))
    WriteCmd(BuildCmd(modMain::cmdExtTrigger, ckSetting, s, m_Port(s).ExtTrigger ? 1 : 0));
}

bool clsQuorvelUnit::GetExtTrigger(vb::Long port, bool fromDevice) {
  const vb::Long s = ChannelToSensor(port);
  if (fromDevice) return RequestCmdFlag(BuildCmd(modMain::cmdExtTrigger, ckQuery, s));
  return m_Port(s).ExtTrigger;
}

void clsQuorvelUnit::SetTriggerOffset(double time, vb::Long port, bool send) {
  // Stored as a whole number of samples.
  for (const vb::Long s : GetPortList(port)) m_Port(s).TriggerOffset = vb::CLng(m_Port(s).SampleRate * time);
  if (send) SendTriggerOffset(port);
}

void clsQuorvelUnit::SendTriggerOffset(vb::Long port) {
  for (const vb::Long s : GetPortList(port)) {
    const double offset = m_Port(s).TriggerOffset;
    WriteCmd(BuildCmd(modMain::cmdTriggerOffset, ckSetting, s, offset));
    WriteCmd(BuildCmd(modMain::cmdSampleOperation, ckSetting, s, 4e10, offset == 0 ? "ONCE" : "LOOP"));
  }
}

double clsQuorvelUnit::GetTriggerOffset(vb::Long port, bool fromDevice) {
  const vb::Long s = ChannelToSensor(port);
  const double samples =
      fromDevice ? RequestCmdValue(BuildCmd(modMain::cmdTriggerOffset, ckQuery, s)) : m_Port(s).TriggerOffset;
  const vb::Long rate = m_Port(s).SampleRate;
  if (rate == 0) vb::Raise(vb::err::DivisionByZero);  // also for 0 samples: seconds need a rate
  return samples / rate;
}

// --- trigger output ----------------------------------------------------------------

void clsQuorvelUnit::SendTriggerOut() { WriteCmd(BuildCmd(modMain::cmdTriggerOut, ckSetting, -1, 1)); }

void clsQuorvelUnit::SendTriggerFlag(vb::Long index, bool value) { WriteCmd(BuildCmd(index, ckSetting, 0, value ? 1 : 0)); }

bool clsQuorvelUnit::GetTriggerFlag(vb::Long index, bool fromDevice, bool stored) {
  return fromDevice ? RequestCmdFlag(BuildCmd(index, ckQuery, 0)) : stored;
}

void clsQuorvelUnit::SetTriggerOutWithIn(bool value, bool send) {
  m_TriggerOutWithIn = value;
  if (send) SendTriggerOutWithIn();
}

void clsQuorvelUnit::SendTriggerOutWithIn() { SendTriggerFlag(modMain::cmdTriggerOutWithIn, m_TriggerOutWithIn); }

bool clsQuorvelUnit::GetTriggerOutWithIn(bool fromDevice) {
  return GetTriggerFlag(modMain::cmdTriggerOutWithIn, fromDevice, m_TriggerOutWithIn);
}

void clsQuorvelUnit::SetTriggerOutWithMeasurement(bool value, bool send) {
  m_TriggerOutWithMeasurement = value;
  if (send) SendTriggerOutWithMeasurement();
}

void clsQuorvelUnit::SendTriggerOutWithMeasurement() {
  SendTriggerFlag(modMain::cmdTriggerOutWithMeasurement, m_TriggerOutWithMeasurement);
}

bool clsQuorvelUnit::GetTriggerOutWithMeasurement(bool fromDevice) {
  return GetTriggerFlag(modMain::cmdTriggerOutWithMeasurement, fromDevice, m_TriggerOutWithMeasurement);
}

// --- everything at once ------------------------------------------------------------

void clsQuorvelUnit::SendAllSettings() {
  Traced("SendAllSettings", [&](io::ErrorFrame& f) {
    for (vb::Long p = 1; p <= 8; ++p) {
      f.Step([&] { SendFrequency(p); });
      f.Step([&] { SendGain(p); });
      f.Step([&] { SendSampleRate(p); });
      f.Step([&] { SendMeasTime(p); });
      f.Step([&] { SendBurstSearchLevel(p); });
      f.Step([&] { SendAttenuation(p); });
      f.Step([&] { SendExtTrigger(p); });
      f.Step([&] { SendTriggerOffset(p); });
    }
    f.Step([&] { SendActivePorts(); });
    f.Step([&] { SendSumPorts(); });
    f.Step([&] { SendBeamformingGain(); });
    f.Step([&] { SendBurstSearchLevel(ppSum); });
    f.Step([&] { SendTriggerOutWithIn(); });
    m_Link.ClearErrorStatus();  // only when everything was sent
  });
}

// Measurement control: start, abort and read a measurement.
#include <algorithm>
#include <cmath>

#include "driver/clsQuorvelUnit.h"
#include "driver/modMain.h"

void clsQuorvelUnit::MeasurementAbort() {
  Traced("Abort", [&](io::ErrorFrame& f) {
    if (!m_Link.Connected()) return;
    // Not through WriteCmd: this runs while another call of this object
    // waits for the operation being aborted.
    f.Step([&] { m_Link.SendNow(BuildCmd(modMain::cmdAbort, modMain::ckSetting, -1)); });
    m_Link.AbandonOperation();
  });
}

double clsQuorvelUnit::MeasuringSeconds() const {
  double seconds = 0;
  for (vb::Long s = 1; s <= 8; ++s) {
    const PortSettings& p = m_Port(s);
    if (p.ExtTrigger) return io::kUnknownDuration;  // the trigger comes when it comes
    // The offset is held in samples.
    const double offset = p.SampleRate > 0 ? std::abs(p.TriggerOffset) / static_cast<double>(p.SampleRate) : 0;
    seconds = std::max(seconds, std::max(0.0, p.MeasTime) + offset);
  }
  return seconds;
}

void clsQuorvelUnit::MeasurementInit(vb::Long port) {
  Traced("MeasurementInit", [&](io::ErrorFrame& f) {
    m_Link.BeginOperation();
    m_SysErrOverflow = 0;
    m_Link.ExpectOperation(MeasuringSeconds());
    f.Step([&] { WriteCmd(BuildCmd(modMain::cmdMeasurementInit, modMain::ckSetting, ChannelToSensor(port))); });
  });
}

void clsQuorvelUnit::BurstSearchInit(vb::Long port) {
  Traced("BurstSearchInit", [&](io::ErrorFrame& f) {
    m_Link.BeginOperation();  // the overflow port mask stays
    f.Step([&] { WriteCmd(BuildCmd(modMain::cmdBurstSearchInit, modMain::ckSetting, ChannelToSensor(port))); });
  });
}

MeasuredValue clsQuorvelUnit::Measure(vb::Long port) {
  MeasuredValue result;
  result.Unit = host::Require(m_Host.units).MakeUnit("dBm", 0);
  result.Value = GetRMS(port);
  return result;
}

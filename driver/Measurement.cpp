// Measurement control: start, abort and read a measurement.
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

void clsQuorvelUnit::MeasurementInit(vb::Long port) {
  Traced("MeasurementInit", [&](io::ErrorFrame& f) {
    m_Link.BeginOperation();
    m_SysErrOverflow = 0;
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

// End to end: the real driver and the recording host against the simulated unit.
#include <gtest/gtest.h>

#include <cmath>

#include "Errors.h"
#include "SimFixture.h"

namespace {

using P = clsQuorvelUnitProbe;

TEST(Simulator, ConnectsAndIdentifies) {
  SimulatedUnit fx;
  EXPECT_EQ(fx.unit->clsDevice_Status(), 1);
  EXPECT_EQ(fx.unit->clsDevice_Info().SerialNumber, "Z8-000123");
  EXPECT_EQ(fx.unit->clsDevice_Info().FirmwareVersion, "2.4.1\n");  // the driver keeps the answer's line feed
  EXPECT_TRUE(fx.host->errors.empty());
}

TEST(Simulator, SendAllSettingsLeavesTheUnitAsTheDriverHoldsIt) {
  SimulatedUnit fx;
  clsQuorvelUnit& u = *fx.unit;
  std::vector<long> sum{2, 3};
  u.SetSumPorts(sum);
  u.SetActivePort(5);
  u.SetActivePort(ppGenerator);
  u.SetFrequency(2.4e9, 0);
  u.SetFrequency(5.2e9, 5);
  u.SetMeasTime(0.004, 5);
  u.SetSampleRate(84000000, 4);
  u.SetSubSampleRate(4, 6);
  u.SetAttenuation(3.5, 2);
  u.SetGain(1.25, 8);
  u.SetBurstSearchLevel(-25, 1);
  u.SetExtTrigger(true, 7);
  u.SetTriggerOffset(0.0001, 1);
  u.SetBeamformingGain(2);
  u.SetTriggerOutWithIn(true);
  u.SendAllSettings();
  EXPECT_EQ(u.GetErrorStatus(), 0);
  EXPECT_EQ(u.GetSystemError(), "0,'No error'");
  for (int s = 1; s <= 8; ++s) {
    SCOPED_TRACE("sensor " + std::to_string(s));
    const PortSettings& d = u.StoredPortSettings(s);
    const sim::Zentrix8::Sensor m = fx.model->sensor(s);
    EXPECT_EQ(m.frequency, d.Frequency);
    EXPECT_EQ(m.attenuation, d.Attenuation);
    EXPECT_EQ(m.gain, d.Gain);
    EXPECT_EQ(m.burstSearchLevel, d.BurstSearchLevel);
    EXPECT_EQ(m.sampleCount, d.SampleCount);
    EXPECT_EQ(m.dividerFast, d.DividerFast);
    EXPECT_EQ(m.dividerSlow, d.DividerSlow);
    EXPECT_EQ(m.triggerOffset, d.TriggerOffset);
    EXPECT_EQ(m.trigger[0], d.ExtTrigger ? 1 : 0);
    EXPECT_EQ(m.operation, d.TriggerOffset == 0 ? "ONCE" : "LOOP");
    EXPECT_EQ(m.meas, (s == 2 || s == 3) ? "SUM" : (s == 5 || s == 7) ? "SING" : "OFF");
    EXPECT_EQ(u.GetFrequency(s, true), d.Frequency);
    EXPECT_EQ(u.GetSampleCount(s, true), d.SampleCount);
  }
  EXPECT_EQ(fx.model->sensor(7).mode, "PEAK");
  EXPECT_EQ(fx.model->sensor(4).dividerFast, 3);
  EXPECT_EQ(fx.model->sensor(0).burstSearchLevel, u.StoredPortSettings(2).BurstSearchLevel);
  EXPECT_EQ(u.GetBeamformingGain(true), 2);
  EXPECT_TRUE(u.GetTriggerOutWithIn(true));
  EXPECT_EQ(u.GetSampleRate(4, true), 10000000);  // the unit reports at most 10 MHz
  EXPECT_EQ(u.GetSumPorts(true), (std::vector<vb::Long>{2, 3}));
}

}  // namespace

// Per-port, sampling, summing and trigger settings against the scripted double.
#include <gtest/gtest.h>

#include "Errors.h"

#include "Probe.h"

namespace {

using P = clsQuorvelUnitProbe;
using Unit = clsQuorvelUnit;

void Sum(Unit& u, std::vector<vb::Long> ports) { u.SetSumPorts(ports); }

// What members store and send: each call with the commands the unit receives
// in order; in simulation the same call stores the same and sends nothing.
TEST(Settings, StoreAndSend) {
  const struct {
    const char* name;
    std::function<void(Unit&)> call;  // with checks of what was derived or spread
    std::vector<std::string> commands;
  } cases[] = {
      // Corrections belong to one sensor even inside a sum; the frequency is the sum's.
      {"AttenuationOnAMemberOfTheSum",
       [](Unit& u) {
         Sum(u, {2, 3});
         u.SetAttenuation(10, 3, true);
         EXPECT_EQ(u.StoredPortSettings(2).Attenuation, 0);
       },
       {":SENS3:CORR:ATT 10"}},
      {"AttenuationOnTheSum",
       [](Unit& u) {
         Sum(u, {2, 3});
         u.SetAttenuation(10, ppSum, true);
       },
       {":SENS2:CORR:ATT 10", ":SENS3:CORR:ATT 10"}},
      {"FrequencyOnAMemberOfTheSum",
       [](Unit& u) {
         Sum(u, {2, 3});
         u.SetFrequency(1e9, 3, true);
         EXPECT_EQ(u.StoredPortSettings(4).Frequency, 10e6);
       },
       {":SENS2:FREQ 1000000000", ":SENS3:FREQ 1000000000"}},
      {"GeneratorFrequencyIsSensor7", [](Unit& u) { u.SetFrequency(2.4e9, ppGenerator, true); },
       {":SENS7:FREQ 2400000000"}},
      // Port 0 means the eight DUT attenuators; companion and bypass have commands of their own.
      {"Attenuators",
       [](Unit& u) {
         u.SetAttenuator(20, 0, true);
         EXPECT_EQ(u.StoredAttenuator(9), 31.75);
         EXPECT_EQ(u.StoredAttenuator(10), 31.75);
         u.SetAttenuator(5, attCompanion, true);
         u.SetAttenuator(2.5, attBypass, true);
       },
       {":CONF:PORT1:ATT 20", ":CONF:PORT2:ATT 20", ":CONF:PORT3:ATT 20", ":CONF:PORT4:ATT 20", ":CONF:PORT5:ATT 20",
        ":CONF:PORT6:ATT 20", ":CONF:PORT7:ATT 20", ":CONF:PORT8:ATT 20", ":CONF:COMP:ATT 5", ":CONF:BYP:ATT 2.5"}},
      {"SummingPathBurstLevelIsTheFirstMembers",
       [](Unit& u) {
         Sum(u, {4, 5});
         u.SetBurstSearchLevel(-30, 4);         // the whole sum
         P::Port(u, 5).BurstSearchLevel = -20;  // to see which one is sent
         u.SendBurstSearchLevel(ppSum);
       },
       {":SUMP:BURS:SEAR -30"}},
      {"SummingPathBurstLevelOfAnEmptySum",
       [](Unit& u) { EXPECT_EQ(ErrorNumberOf([&] { u.SendBurstSearchLevel(ppSum); }), 0); }, {}},
      {"Port9ActivationAndDeactivation",
       [](Unit& u) {
         u.SetActivePort(9, true, true);
         EXPECT_EQ(u.StoredActivePortMask(), 1 << 7);
         EXPECT_EQ(u.StoredAuxModeMask(), 1 << 9);
         u.SetActivePort(7, true, true);  // sensor 7 is active already
         u.SetActivePort(9, false, true);
         EXPECT_EQ(u.StoredActivePortMask(), 0);
         EXPECT_EQ(u.StoredAuxModeMask(), 0);
       },
       {":SENS7:MODE PEAK", ":SENS7:MODE PDET"}},
      {"ActivatingTheSensorOfAnAuxiliaryPortClearsItsMode",
       [](Unit& u) {
         u.SetActivePort(10, true, true);
         u.SetActivePort(10, false, false);
         u.SetActivePort(6, true, true);
         u.SetActivePort(2, true, true);
         u.SendActivePorts();
         EXPECT_EQ(u.GetActivePorts(false), (std::vector<vb::Long>{2, 6}));
       },
       {":SENS6:MODE COMP", ":SENS6:MODE PDET", ":SENS6:MODE PDET"}},
      {"SendActivePortsUsesTheAuxiliaryModes",
       [](Unit& u) {
         for (vb::Long port : {11, 9, 3}) u.SetActivePort(port);
         u.SendActivePorts();
       },
       {":SENS7:MODE PEAK", ":SENS8:MODE VID"}},
      {"SampleRate84MHzTakesThe252MHzClock",
       [](Unit& u) {
         u.SetSampleRate(84000000, 1, true);
         EXPECT_EQ(u.GetSampleRate(1, false), 84000000);
       },
       {":SENS1:SAMP:COUNT 84001", ":CONF:CLOC C252", ":SENS1:SAMP:DIVF 3", ":SENS1:SAMP:DIVS 0",
        ":SENS1:SAMP:MODE SAMP"}},
      {"SubSampleRate4MeansMax", [](Unit& u) { u.SetSubSampleRate(4, 1, true); },
       {":SENS1:SAMP:COUNT 250", ":CONF:CLOC C250", ":SENS1:SAMP:DIVF 250", ":SENS1:SAMP:DIVS 4",
        ":SENS1:SAMP:MODE MAX"}},
      // Decimation below 1 MHz keeps the plain sample mode; only above it takes the maxima.
      {"SubSampleRateBelow1MHzKeepsTheSampleMode",
       [](Unit& u) {
         u.SetSampleRate(500000, 1);
         u.SetSubSampleRate(4, 1, true);
       },
       {":SENS1:SAMP:COUNT 125", ":CONF:CLOC C250", ":SENS1:SAMP:DIVF 250", ":SENS1:SAMP:DIVS 2",
        ":SENS1:SAMP:MODE SAMP"}},
      // A sensor an auxiliary channel shares (6, 7, 8) goes back to the power detector when switched off.
      {"SwitchingOffSensors6To8SendsTheirMode",
       [](Unit& u) {
         for (vb::Long s : {6, 8}) u.SetActivePort(s, true, false);
         for (vb::Long s : {6, 8}) u.SetActivePort(s, false, true);
         u.SetActivePort(5, true, false);
         u.SetActivePort(5, false, true);  // a plain sensor has no mode to send
         EXPECT_EQ(u.StoredActivePortMask(), 0);
       },
       {":SENS6:MODE PDET", ":SENS8:MODE PDET"}},
      {"TriggerOffsetInSamplesAndItsMode",
       [](Unit& u) {
         u.SetTriggerOffset(0.0001, 1, true);
         u.SetTriggerOffset(0, 2, true);
         EXPECT_DOUBLE_EQ(u.GetTriggerOffset(1, false), 0.0001);
       },
       {":SENS1:SAMP:PREC 100", ":SENS1:SAMP:OPER LOOP", ":SENS2:SAMP:PREC 0", ":SENS2:SAMP:OPER ONCE"}},
      {"ExtTriggerWithSend", [](Unit& u) { u.SetExtTrigger(true, 2, true); }, {":SENS2:TRIG4:SET 1,1,0"}},
      {"BeamformingGainWithSend", [](Unit& u) { u.SetBeamformingGain(3, true); }, {":SUMP:CORR:BFG 3"}},
      {"ClearingThePortsForgetsSumActiveAndAuxiliaryModes",
       [](Unit& u) {
         Sum(u, {2, 3});
         u.SetActivePort(5);
         u.SetActivePort(9);
         u.SetActivePort(0);  // no port: nothing changes
         u.SetActivePort(-1);
         EXPECT_EQ(u.StoredActivePortMask(), (1 << 2) | (1 << 3) | (1 << 5) | (1 << 7));
         u.SetActivePortClr();
         EXPECT_EQ(u.StoredSumPortMask(), 0);
         EXPECT_EQ(u.StoredActivePortMask(), 0);
         EXPECT_EQ(u.StoredAuxModeMask(), 0);
       },
       {}},
      {"SwitchingOffASharedSensorEndsItsAuxiliaryMode",
       [](Unit& u) {
         EXPECT_EQ(u.GetActivePorts(false), std::vector<vb::Long>{-1});  // none yet
         u.SetActivePort(10);  // the companion channel, on sensor 6
         EXPECT_EQ(u.StoredAuxModeMask(), 1 << 10);
         u.SetActivePort(6, false);
         EXPECT_EQ(u.StoredActivePortMask(), 0);
         EXPECT_EQ(u.StoredAuxModeMask(), 0);
       },
       {}},
      {"BurstSearchLevelWithSend",
       [](Unit& u) {
         u.SetBurstSearchLevel(25, 2, true);
         u.SetBurstSearchLevel(26, 3, false);  // stored only
         EXPECT_EQ(u.StoredPortSettings(3).BurstSearchLevel, 26);
       },
       {":SENS2:BURS:SEAR 25"}},
      {"TriggerOutputs",
       [](Unit& u) {
         u.SendTriggerOut();
         u.SetTriggerOutWithIn(false, true);
         u.SetTriggerOutWithMeasurement(true, true);
       },
       {":CONF:TRIG:OUTP 1", ":CONF:TRIG:OUTP 0", ":CONF:TRIG:MEAS 1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectedDriver fx;
    for (const auto& cmd : c.commands) fx.visa->Expect(cmd);
    c.call(*fx.unit);
    EXPECT_EQ(fx.visa->Problems(), "");
    ConnectedDriver sim(false);
    c.call(*sim.unit);
    EXPECT_TRUE(sim.visa->Writes().empty());
  }
}

TEST(SumPorts, MembersFollowTheLeadButKeepAttenuationGainAndSubSampling) {
  DriverFixture fx;
  fx.AddDevice("Z1");
  fx.unit->clsDevice_Name("Z1");
  Unit& u = *fx.unit;
  u.SetFrequency(2e9, 2);
  u.SetTriggerOffset(0.001, 2);
  u.SetExtTrigger(true, 2);
  u.SetMeasTime(0.01, 2);
  u.SetAttenuation(7, 3);
  u.SetGain(2, 3);
  u.SetSubSampleRate(3, 3);
  u.SetSampleRate(84000000, 2);     // the lead's clock and dividers ...
  u.SetBurstSearchLevel(25, 2);
  u.SetSampleRate(500000, 3);       // ... replace the member's own
  Sum(u, {2, 3});
  const PortSettings& s3 = u.StoredPortSettings(3);
  EXPECT_EQ(s3.Frequency, 2e9);
  EXPECT_EQ(s3.MeasTime, 0.01);
  EXPECT_TRUE(s3.ExtTrigger);
  EXPECT_EQ(s3.TriggerOffset, 1000);
  const PortSettings& s2 = u.StoredPortSettings(2);
  EXPECT_EQ(s3.SampleCount, s2.SampleCount);
  EXPECT_EQ(s3.SampleRate, 84000000);
  EXPECT_EQ(s3.ClockMode, 1);
  EXPECT_EQ(s3.DividerFast, 3);
  EXPECT_EQ(s3.DividerSlow, s2.DividerSlow);
  EXPECT_EQ(s3.BurstSearchLevel, 25);
  EXPECT_EQ(s3.Attenuation, 7);
  EXPECT_EQ(s3.Gain, 2);
  EXPECT_EQ(s3.SubSampleRate, 3);
  EXPECT_EQ(u.StoredActivePortMask(), (1 << 2) | (1 << 3));
  EXPECT_EQ(u.GetSumPorts(false), (std::vector<vb::Long>{2, 3}));
  Sum(u, {2, 0, -1, 3});  // what is no channel in the list is passed over
  EXPECT_EQ(u.GetSumPorts(false), (std::vector<vb::Long>{2, 3}));
  Sum(u, {0, -1});  // no member: the sum is gone
  EXPECT_EQ(u.GetSumPorts(false), std::vector<vb::Long>{-1});
}

TEST(SumPorts, AuxiliaryChannelsShareTheirSensor) {
  for (const vb::Long first : {7, 9}) {
    DriverFixture fx;
    Sum(*fx.unit, {first, first == 7 ? 9 : 7});
    EXPECT_EQ(fx.unit->StoredSumPortMask(), 1 << 7);
    EXPECT_EQ(fx.unit->StoredActivePortMask(), 1 << 7);
    EXPECT_EQ(fx.unit->StoredAuxModeMask(), first == 9 ? 1 << 9 : 0) << first;  // the one that activated it
  }
}

TEST(SettingErrors, PortsThatMapToNoSensorFailAfterTheEarlierOnesChanged) {
  DriverFixture fx;
  Unit& u = *fx.unit;
  EXPECT_EQ(ErrorNumberOf([&] { u.SetFrequency(1, 12); }), vb::err::SubscriptOutOfRange);
  EXPECT_EQ(ErrorNumberOf([&] { u.SetAttenuation(1, ppSum); }), vb::err::SubscriptOutOfRange);  // empty sum
  EXPECT_EQ(ErrorNumberOf([&] { u.SetAttenuation(1, -2); }), vb::err::SubscriptOutOfRange);
  EXPECT_EQ(ErrorNumberOf([&] { u.GetGain(12, false); }), vb::err::SubscriptOutOfRange);
  EXPECT_EQ(ErrorNumberOf([&] { u.SetAttenuator(1, 11); }), vb::err::SubscriptOutOfRange);
  EXPECT_EQ(ErrorNumberOf([&] { u.GetAttenuator(11, false); }), vb::err::SubscriptOutOfRange);
  EXPECT_EQ(ErrorNumberOf([&] { Sum(u, {2, 3, 12}); }), vb::err::SubscriptOutOfRange);
  EXPECT_EQ(u.StoredPortSettings(3).Frequency, u.StoredPortSettings(2).Frequency);  // copied before the failure
  P::Port(u, 4).SampleRate = 0;
  EXPECT_EQ(ErrorNumberOf([&] { u.GetTriggerOffset(4, false); }), vb::err::DivisionByZero);
}

TEST(SettingQueries, FromTheDeviceWithoutStoring) {
  ConnectedDriver fx;
  Unit& u = *fx.unit;
  fx.visa->Expect(":SENS1:FREQ?", {"2.4E9\n"}).Expect(":SENS2:SAMP:PREC?", {"50\n"});
  fx.visa->Expect(":SENS1:SAMP:TIME?", {"0.5\n"}).Expect(":SENS1:SAMP:COUNT?", {"3e9\n"});
  fx.visa->Expect(":CONF:COMP:ATT?", {"12\n"}).Expect(":SENS1:TRIG4:SET?,,0", {"1\n"});
  fx.visa->Expect(":CONF:TRIG:OUTP?", {"1\n"}).Expect(":SUMP:CORR:BFG?", {"-1.5\n"});
  EXPECT_EQ(u.GetFrequency(1, true), 2.4e9);
  EXPECT_EQ(u.StoredPortSettings(1).Frequency, 10e6);  // not stored
  EXPECT_DOUBLE_EQ(u.GetTriggerOffset(2, true), 0.00005);  // the unit's samples at the stored rate
  EXPECT_EQ(u.GetMeasTime(1, true), 0.5);
  EXPECT_EQ(u.GetSampleCount(1, true), 2147483647);  // clamped, not an overflow
  EXPECT_EQ(u.GetAttenuator(attCompanion, true), 12);
  EXPECT_TRUE(u.GetExtTrigger(1, true));
  EXPECT_TRUE(u.GetTriggerOutWithIn(true));
  EXPECT_EQ(u.GetBeamformingGain(true), -1.5);
  const char* meas[] = {"0\n", "2\n", "2\n", "SUM\n", "0\n", "1\n", "\n", "0\n"};  // only numbers count
  for (int s = 1; s <= 8; ++s) fx.visa->Expect(":SENS" + std::to_string(s) + ":MEAS?", {meas[s - 1]});
  EXPECT_EQ(u.GetSumPorts(true), (std::vector<vb::Long>{2, 3, 6}));
  for (int s = 1; s <= 8; ++s) fx.visa->Expect(":SENS" + std::to_string(s) + ":MEAS?", {"0\n"});
  EXPECT_EQ(u.GetSumPorts(true), std::vector<vb::Long>{-1});  // none in the sum
  EXPECT_FALSE(u.GetExtTrigger(1, false));                    // the stored one, not the unit's
  EXPECT_EQ(u.GetSampleCount(1, false), u.StoredPortSettings(1).SampleCount);
  EXPECT_NE(u.GetSampleCount(1, false), 2147483647);
  // The unit has no command for these: nothing is asked and the unit stays.
  u.SetActivePort(3);
  EXPECT_EQ(u.GetActivePorts(true), std::vector<vb::Long>{-1});
  EXPECT_EQ(u.GetActivePorts(false), std::vector<vb::Long>{3});
  EXPECT_EQ(u.GetAttenuator(11, true), 0);
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(u.clsDevice_Status(), 1);
}

TEST(SendAll, TheWholeTranscriptForAConfiguredSum) {
  ConnectedDriver fx;
  Unit& u = *fx.unit;
  Sum(u, {2, 3});
  u.SetActivePort(5);
  P::Link(u).SetErrorStatus(esOVERFLOW);
  auto expect = [&](int s, const std::string& rest) { fx.visa->Expect(":SENS" + std::to_string(s) + rest); };
  // Each member of the sum is sent once for every member: the ports 2 and 3 both send 2 and 3.
  for (int p = 1; p <= 8; ++p) {
    const std::vector<int> sensors = (p == 2 || p == 3) ? std::vector<int>{2, 3} : std::vector<int>{p};
    for (int s : sensors) expect(s, ":FREQ 10000000");
    for (int s : sensors) expect(s, ":CORR:GAIN 0");
    for (int s : sensors) {
      fx.visa->Expect(":CONF:CLOC C250");
      for (const char* rest : {":SAMP:DIVF 250", ":SAMP:DIVS 0", ":SAMP:MODE SAMP"}) expect(s, rest);
    }
    // Naming sets 1 ms without deriving the sample counts again: they stay at
    // creation's 1 until a setter runs, as for the lead of the sum (1001).
    for (int s : sensors) expect(s, std::string(":SAMP:COUNT ") + (s == 2 || s == 3 ? "1001" : "1"));
    for (int s : sensors) expect(s, ":BURS:SEAR 30");
    for (int s : sensors) expect(s, ":CORR:ATT 0");
    for (int s : sensors) expect(s, ":TRIG4:SET 0,0,0");
    for (int s : sensors)
      for (const char* rest : {":SAMP:PREC 0", ":SAMP:OPER ONCE"}) expect(s, rest);
  }
  for (int s = 1; s <= 8; ++s) expect(s, std::string(":MEAS ") + (s == 2 || s == 3 ? "SUM" : s == 5 ? "SING" : "OFF"));
  fx.visa->Expect(":SUMP:CORR:BFG 0").Expect(":SUMP:BURS:SEAR 30").Expect(":CONF:TRIG:OUTP 0");
  u.SendAllSettings();
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(P::Link(u).ErrorStatus(), 0);
  EXPECT_EQ(fx.host->TraceStatuses("SendAllSettings"), (std::vector<std::string>{"start", "end"}));
}

TEST(SendAll, AFailureStopsItAndLeavesTheErrorStatus) {
  ConnectedDriver fx;
  P::Link(*fx.unit).SetErrorStatus(esOVERFLOW);
  fx.visa->Expect(":SENS1:FREQ 10000000");
  fx.visa->FailWriteAt(1);
  const vb::Error e = CaughtFrom([&] { fx.unit->SendAllSettings(); });
  EXPECT_EQ(e.Number(), 4012);
  EXPECT_EQ(e.Description(), "SendAllSettingsWriteCmdVISA Cmd: :SENS1:FREQ 10000000 (scripted: write 1 fails)");
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), esOVERFLOW);
}

}  // namespace

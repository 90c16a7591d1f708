// Per-port, sampling, summing and trigger settings against the scripted double.
#include <gtest/gtest.h>

#include "Errors.h"

#include "Probe.h"

namespace {

using P = clsQuorvelUnitProbe;
using Unit = clsQuorvelUnit;

void Sum(Unit& u, std::vector<long> ports) { u.SetSumPorts(ports); }

// What a member stores and sends: the set-up, the call, the commands the unit
// receives in order, and a check of the stored fields.
struct SettingCase {
  const char* name;
  std::function<void(Unit&)> setup;
  std::function<void(Unit&)> call;
  std::vector<std::string> commands;
  std::function<void(Unit&)> check;
};

void PrintTo(const SettingCase& c, std::ostream* os) { *os << c.name; }

class Settings : public ::testing::TestWithParam<SettingCase> {};

TEST_P(Settings, StoreAndSend) {
  const SettingCase& c = GetParam();
  ConnectedDriver fx;
  if (c.setup) c.setup(*fx.unit);
  for (const auto& cmd : c.commands) fx.visa->Expect(cmd);
  c.call(*fx.unit);
  EXPECT_EQ(fx.visa->Problems(), "");
  if (c.check) c.check(*fx.unit);
  // In simulation the same call stores the same and sends nothing.
  ConnectedDriver sim(false);
  if (c.setup) c.setup(*sim.unit);
  c.call(*sim.unit);
  EXPECT_TRUE(sim.visa->Writes().empty());
  if (c.check) c.check(*sim.unit);
}

const auto kStored = [](long s) { return [s](Unit& u) -> const PortSettings& { return u.StoredPortSettings(s); }; };

INSTANTIATE_TEST_SUITE_P(
    Members, Settings,
    ::testing::Values(
        SettingCase{"AttenuationOnAMemberOfTheSumChangesThatSensorOnly", [](Unit& u) { Sum(u, {2, 3}); },
                    [](Unit& u) { u.SetAttenuation(10, 3, true); }, {":SENS3:CORR:ATT 10"},
                    [](Unit& u) {
                      EXPECT_EQ(u.StoredPortSettings(3).Attenuation, 10);
                      EXPECT_EQ(u.StoredPortSettings(2).Attenuation, 0);
                    }},
        SettingCase{"GainOnAMemberOfTheSumChangesThatSensorOnly", [](Unit& u) { Sum(u, {2, 3}); },
                    [](Unit& u) { u.SetGain(1.5, 2, true); }, {":SENS2:CORR:GAIN 1.5"},
                    [](Unit& u) {
                      EXPECT_EQ(u.StoredPortSettings(2).Gain, 1.5);
                      EXPECT_EQ(u.StoredPortSettings(3).Gain, 0);
                    }},
        SettingCase{"FrequencyOnAMemberOfTheSumChangesTheSum", [](Unit& u) { Sum(u, {2, 3}); },
                    [](Unit& u) { u.SetFrequency(1e9, 3, true); }, {":SENS2:FREQ 1000000000", ":SENS3:FREQ 1000000000"},
                    [](Unit& u) {
                      EXPECT_EQ(u.StoredPortSettings(2).Frequency, 1e9);
                      EXPECT_EQ(u.StoredPortSettings(3).Frequency, 1e9);
                      EXPECT_EQ(u.StoredPortSettings(4).Frequency, 10e6);
                    }},
        SettingCase{"AttenuationOnTheSumWithSend", [](Unit& u) { Sum(u, {2, 3}); },
                    [](Unit& u) { u.SetAttenuation(10, ppSum, true); }, {":SENS2:CORR:ATT 10", ":SENS3:CORR:ATT 10"},
                    [](Unit& u) { EXPECT_EQ(u.StoredPortSettings(3).Attenuation, 10); }},
        SettingCase{"GeneratorFrequencyIsSensor7", nullptr, [](Unit& u) { u.SetFrequency(2.4e9, ppGenerator, true); },
                    {":SENS7:FREQ 2400000000"},
                    [](Unit& u) { EXPECT_EQ(u.StoredPortSettings(7).Frequency, 2.4e9); }},
        SettingCase{"DefaultAttenuatorPortIsTheEightDutAttenuators", nullptr, [](Unit& u) { u.SetAttenuator(20, 0, true); },
                    {":CONF:PORT1:ATT 20", ":CONF:PORT2:ATT 20", ":CONF:PORT3:ATT 20", ":CONF:PORT4:ATT 20",
                     ":CONF:PORT5:ATT 20", ":CONF:PORT6:ATT 20", ":CONF:PORT7:ATT 20", ":CONF:PORT8:ATT 20"},
                    [](Unit& u) {
                      EXPECT_EQ(u.StoredAttenuator(8), 20);
                      EXPECT_EQ(u.StoredAttenuator(9), 31.75);
                      EXPECT_EQ(u.StoredAttenuator(10), 31.75);
                    }},
        SettingCase{"CompanionAndBypassAttenuators", nullptr,
                    [](Unit& u) {
                      u.SetAttenuator(5, attCompanion, true);
                      u.SetAttenuator(2.5, attBypass, true);
                    },
                    {":CONF:COMP:ATT 5", ":CONF:BYP:ATT 2.5"}, nullptr},
        SettingCase{"MeasuringTimeGoesOutAsASampleCount", nullptr, [](Unit& u) { u.SetMeasTime(0.01, 1, true); },
                    {":SENS1:SAMP:COUNT 10001"},
                    [](Unit& u) {
                      EXPECT_EQ(u.StoredPortSettings(1).MeasTime, 0.01);
                      EXPECT_EQ(u.StoredPortSettings(1).SampleCount, 10001);
                      EXPECT_EQ(u.StoredPortSettings(2).MeasTime, 0.001);
                    }},
        SettingCase{"SummingPathBurstLevelIsTheFirstMembers",
                    [](Unit& u) {
                      Sum(u, {4, 5});
                      u.SetBurstSearchLevel(-30, 4);  // the whole sum
                      clsQuorvelUnitProbe::Port(u, 5).BurstSearchLevel = -20;  // to see which one is sent
                    },
                    [](Unit& u) { u.SendBurstSearchLevel(ppSum); }, {":SUMP:BURS:SEAR -30"}, nullptr},
        SettingCase{"SummingPathBurstLevelOfAnEmptySumSendsNothing", nullptr,
                    [](Unit& u) { EXPECT_EQ(ErrorNumberOf([&] { u.SendBurstSearchLevel(ppSum); }), 0); }, {}, nullptr},
        SettingCase{"BeamformingGain", nullptr, [](Unit& u) { u.SetBeamformingGain(3, true); }, {":SUMP:CORR:BFG 3"},
                    [](Unit& u) { EXPECT_EQ(u.GetBeamformingGain(false), 3); }},
        SettingCase{"Port9ActivationAndDeactivation", nullptr,
                    [](Unit& u) {
                      u.SetActivePort(9, true, true);
                      EXPECT_EQ(u.StoredActivePortMask(), 1 << 7);
                      EXPECT_EQ(u.StoredAuxModeMask(), 1 << 9);
                      u.SetActivePort(7, true, true);  // sensor 7 is active already
                      u.SetActivePort(9, false, true);
                    },
                    {":SENS7:MODE PEAK", ":SENS7:MODE PDET"},
                    [](Unit& u) {
                      EXPECT_EQ(u.StoredActivePortMask(), 0);
                      EXPECT_EQ(u.StoredAuxModeMask(), 0);
                    }},
        SettingCase{"ActivatingTheSensorOfAnAuxiliaryPortClearsItsMode", nullptr,
                    [](Unit& u) {
                      u.SetActivePort(10, true, true);
                      u.SetActivePort(10, false, false);
                      u.SetActivePort(6, true, true);
                      u.SetActivePort(2, true, true);
                      u.SendActivePorts();
                    },
                    {":SENS6:MODE COMP", ":SENS6:MODE PDET", ":SENS6:MODE PDET"},
                    [](Unit& u) {
                      EXPECT_EQ(u.StoredActivePortMask(), (1 << 6) | (1 << 2));
                      EXPECT_EQ(u.GetActivePorts(false), (std::vector<vb::Long>{2, 6}));
                    }},
        SettingCase{"SendActivePortsUsesTheAuxiliaryModes",
                    [](Unit& u) {
                      u.SetActivePort(11);
                      u.SetActivePort(9);
                      u.SetActivePort(3);
                    },
                    [](Unit& u) { u.SendActivePorts(); }, {":SENS7:MODE PEAK", ":SENS8:MODE VID"}, nullptr},
        SettingCase{"SampleRate84MHzWithSend", nullptr, [](Unit& u) { u.SetSampleRate(84000000, 1, true); },
                    {":SENS1:SAMP:COUNT 84001", ":CONF:CLOC C252", ":SENS1:SAMP:DIVF 3", ":SENS1:SAMP:DIVS 0",
                     ":SENS1:SAMP:MODE SAMP"},
                    [](Unit& u) {
                      EXPECT_EQ(u.StoredPortSettings(1).ClockMode, 1);
                      EXPECT_EQ(u.StoredPortSettings(1).DividerFast, 3);
                      EXPECT_EQ(u.GetSampleRate(1, false), 84000000);
                    }},
        SettingCase{"SubSampleRate4MeansMax", nullptr, [](Unit& u) { u.SetSubSampleRate(4, 1, true); },
                    {":SENS1:SAMP:COUNT 250", ":CONF:CLOC C250", ":SENS1:SAMP:DIVF 250", ":SENS1:SAMP:DIVS 4",
                     ":SENS1:SAMP:MODE MAX"},
                    [](Unit& u) { EXPECT_EQ(u.StoredPortSettings(1).DividerSlow, 4); }},
        SettingCase{"ExternalTriggerCarriesTheValueTwice", nullptr,
                    [](Unit& u) {
                      u.SetExtTrigger(true, 2, true);
                      u.SetExtTrigger(false, 3, true);
                    },
                    {":SENS2:TRIG4:SET 1,1,0", ":SENS3:TRIG4:SET 0,0,0"},
                    [](Unit& u) { EXPECT_TRUE(u.GetExtTrigger(2, false)); }},
        SettingCase{"TriggerOffsetInSamplesAndItsMode", nullptr,
                    [](Unit& u) {
                      u.SetTriggerOffset(0.0001, 1, true);
                      u.SetTriggerOffset(0, 2, true);
                    },
                    {":SENS1:SAMP:PREC 100", ":SENS1:SAMP:OPER LOOP", ":SENS2:SAMP:PREC 0", ":SENS2:SAMP:OPER ONCE"},
                    [](Unit& u) {
                      EXPECT_EQ(u.StoredPortSettings(1).TriggerOffset, 100);
                      EXPECT_DOUBLE_EQ(u.GetTriggerOffset(1, false), 0.0001);
                    }},
        SettingCase{"TriggerOutputs", nullptr,
                    [](Unit& u) {
                      u.SendTriggerOut();
                      u.SetTriggerOutWithIn(true, true);
                      u.SetTriggerOutWithIn(false, true);
                      u.SetTriggerOutWithMeasurement(true, true);
                    },
                    {":CONF:TRIG:OUTP 1", ":CONF:TRIG:OUTP 1", ":CONF:TRIG:OUTP 0", ":CONF:TRIG:MEAS 1"},
                    [](Unit& u) {
                      EXPECT_FALSE(u.GetTriggerOutWithIn(false));
                      EXPECT_TRUE(u.GetTriggerOutWithMeasurement(false));
                    }},
        SettingCase{"SendSumPortsModes",
                    [](Unit& u) {
                      Sum(u, {2, 3});
                      u.SetActivePort(5);
                    },
                    [](Unit& u) { u.SendSumPorts(); },
                    {":SENS1:MEAS OFF", ":SENS2:MEAS SUM", ":SENS3:MEAS SUM", ":SENS4:MEAS OFF", ":SENS5:MEAS SING",
                     ":SENS6:MEAS OFF", ":SENS7:MEAS OFF", ":SENS8:MEAS OFF"},
                    nullptr}));

TEST(SumPorts, MembersFollowTheLeadButKeepAttenuationAndGain) {
  DriverFixture fx;
  fx.AddDevice("Z1");
  fx.unit->clsDevice_Name("Z1");
  Unit& u = *fx.unit;
  u.SetFrequency(2e9, 2);
  u.SetTriggerOffset(0.001, 2);
  u.SetExtTrigger(true, 2);
  u.SetMeasTime(0.01, 2);
  u.SetFrequency(5e9, 3);
  u.SetAttenuation(7, 3);
  u.SetGain(2, 3);
  u.SetSubSampleRate(3, 3);
  Sum(u, {2, 3});
  const PortSettings& s3 = u.StoredPortSettings(3);
  EXPECT_EQ(s3.Frequency, 2e9);
  EXPECT_EQ(s3.MeasTime, 0.01);
  EXPECT_TRUE(s3.ExtTrigger);
  EXPECT_EQ(s3.TriggerOffset, 1000);
  EXPECT_EQ(s3.SampleCount, 10001);
  EXPECT_EQ(s3.Attenuation, 7);
  EXPECT_EQ(s3.Gain, 2);
  EXPECT_EQ(s3.SubSampleRate, 3);
  EXPECT_EQ(u.StoredActivePortMask(), (1 << 2) | (1 << 3));
  EXPECT_EQ(u.GetSumPorts(false), (std::vector<vb::Long>{2, 3}));

  Sum(u, {0, -1});
  EXPECT_EQ(u.StoredSumPortMask(), 0);
  EXPECT_EQ(u.GetSumPorts(false), std::vector<vb::Long>{-1});
}

TEST(SumPorts, AuxiliaryChannelsShareTheirSensor) {
  const struct {
    std::vector<long> ports;
    vb::Long aux;
  } cases[] = {{{7, 9}, 0}, {{9, 7}, 1 << 9}};
  for (const auto& c : cases) {
    DriverFixture fx;
    std::vector<long> ports = c.ports;
    fx.unit->SetSumPorts(ports);
    EXPECT_EQ(fx.unit->StoredSumPortMask(), 1 << 7);
    EXPECT_EQ(fx.unit->StoredActivePortMask(), 1 << 7);
    EXPECT_EQ(fx.unit->StoredAuxModeMask(), c.aux) << c.ports[0];
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
  std::vector<long> ports{2, 3, 12};
  EXPECT_EQ(ErrorNumberOf([&] { u.SetSumPorts(ports); }), vb::err::SubscriptOutOfRange);
  EXPECT_EQ(u.StoredPortSettings(3).Frequency, u.StoredPortSettings(2).Frequency);  // copied before the failure
  P::Port(u, 4).SampleRate = 0;
  EXPECT_EQ(ErrorNumberOf([&] { u.GetTriggerOffset(4, false); }), vb::err::DivisionByZero);
}

TEST(SettingQueries, FromTheDeviceWithoutStoring) {
  ConnectedDriver fx;
  Unit& u = *fx.unit;
  fx.visa->Expect(":SENS1:FREQ?", {"2.4E9\n"}).Expect(":SENS3:SAMP:RATE?", {"2E+08\n"});
  fx.visa->Expect(":SENS2:SAMP:PREC?", {"50\n"}).Expect(":SENS1:SAMP:TIME?", {"0.5\n"});
  fx.visa->Expect(":SENS1:SAMP:COUNT?", {"3e9\n"}).Expect(":CONF:COMP:ATT?", {"12\n"});
  fx.visa->Expect(":SENS1:TRIG4:SET?,,0", {"1\n"}).Expect(":CONF:TRIG:OUTP?", {"0\n"});
  fx.visa->Expect(":SUMP:CORR:BFG?", {"-1.5\n"});
  EXPECT_EQ(u.GetFrequency(1, true), 2.4e9);
  EXPECT_EQ(u.StoredPortSettings(1).Frequency, 10e6);  // not stored
  EXPECT_EQ(u.GetSampleRate(3, true), 10000000);
  EXPECT_DOUBLE_EQ(u.GetTriggerOffset(2, true), 0.00005);
  EXPECT_EQ(u.GetMeasTime(1, true), 0.5);
  EXPECT_EQ(u.GetSampleCount(1, true), 2147483647);
  EXPECT_EQ(u.GetAttenuator(attCompanion, true), 12);
  EXPECT_TRUE(u.GetExtTrigger(1, true));
  EXPECT_FALSE(u.GetTriggerOutWithIn(true));
  EXPECT_EQ(u.GetBeamformingGain(true), -1.5);
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(SettingQueries, InSimulationFromTheDeviceIsNeutral) {
  ConnectedDriver sim(false);
  EXPECT_EQ(sim.unit->GetFrequency(1, true), 0);
  EXPECT_EQ(sim.unit->StoredPortSettings(1).Frequency, 10e6);
  EXPECT_EQ(sim.unit->GetActivePorts(true), std::vector<vb::Long>{-1});
  EXPECT_EQ(sim.unit->GetSumPorts(true), std::vector<vb::Long>{-1});
  EXPECT_TRUE(sim.visa->Writes().empty());
}

TEST(SettingQueries, SumPortsFromTheDevice) {
  ConnectedDriver fx;
  const char* answers[] = {"0\n", "2\n", "2\n", "SUM\n", "0\n", "1\n", "\n", "0\n"};
  for (int s = 1; s <= 8; ++s) fx.visa->Expect(":SENS" + std::to_string(s) + ":MEAS?", {answers[s - 1]});
  EXPECT_EQ(fx.unit->GetSumPorts(true), (std::vector<vb::Long>{2, 3, 6}));
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(SettingQueries, GetActivePortsFromTheDeviceAsksNothing) {
  ConnectedDriver fx;
  fx.unit->SetActivePort(3);
  EXPECT_EQ(fx.unit->GetActivePorts(true), std::vector<vb::Long>{-1});
  EXPECT_EQ(fx.unit->GetActivePorts(false), std::vector<vb::Long>{3});
  EXPECT_TRUE(fx.visa->Writes().empty());
}

TEST(SettingQueries, AQueryForAPortWithoutCommandIsNotSent) {
  ConnectedDriver fx;
  EXPECT_EQ(fx.unit->GetAttenuator(11, true), 0);  // no command for attenuator 11
  EXPECT_TRUE(fx.visa->Writes().empty());
  EXPECT_EQ(fx.unit->clsDevice_Status(), 1);  // the unit is still there
}

TEST(SendAll, TheWholeTranscriptForAConfiguredSum) {
  ConnectedDriver fx;
  Unit& u = *fx.unit;
  Sum(u, {2, 3});
  u.SetActivePort(5);
  P::Link(u).SetErrorStatus(esOVERFLOW);
  // Each member of the sum is sent once for every member: the ports 2 and 3 both send 2 and 3.
  for (int p = 1; p <= 8; ++p) {
    const std::vector<int> sensors = (p == 2 || p == 3) ? std::vector<int>{2, 3} : std::vector<int>{p};
    for (int s : sensors) fx.visa->Expect(":SENS" + std::to_string(s) + ":FREQ 10000000");
    for (int s : sensors) fx.visa->Expect(":SENS" + std::to_string(s) + ":CORR:GAIN 0");
    for (int s : sensors) {
      const std::string n = std::to_string(s);
      fx.visa->Expect(":CONF:CLOC C250").Expect(":SENS" + n + ":SAMP:DIVF 250");
      fx.visa->Expect(":SENS" + n + ":SAMP:DIVS 0").Expect(":SENS" + n + ":SAMP:MODE SAMP");
    }
    // Naming sets 1 ms without deriving the sample counts again: they stay at
    // creation's 1 until a setter runs, as for the lead of the sum (1001).
    for (int s : sensors) fx.visa->Expect(":SENS" + std::to_string(s) + ":SAMP:COUNT " + (s == 2 || s == 3 ? "1001" : "1"));
    for (int s : sensors) fx.visa->Expect(":SENS" + std::to_string(s) + ":BURS:SEAR 30");
    for (int s : sensors) fx.visa->Expect(":SENS" + std::to_string(s) + ":CORR:ATT 0");
    for (int s : sensors) fx.visa->Expect(":SENS" + std::to_string(s) + ":TRIG4:SET 0,0,0");
    for (int s : sensors) {
      fx.visa->Expect(":SENS" + std::to_string(s) + ":SAMP:PREC 0");
      fx.visa->Expect(":SENS" + std::to_string(s) + ":SAMP:OPER ONCE");
    }
  }
  for (int s = 1; s <= 8; ++s)
    fx.visa->Expect(":SENS" + std::to_string(s) + ":MEAS " + (s == 2 || s == 3 ? "SUM" : s == 5 ? "SING" : "OFF"));
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
  try {
    fx.unit->SendAllSettings();
    FAIL();
  } catch (const vb::Error& e) {
    EXPECT_EQ(e.Number(), 4012);
    EXPECT_EQ(e.Description(), "SendAllSettingsWriteCmdVISA Cmd: :SENS1:FREQ 10000000 (scripted: write 1 fails)");
  }
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), esOVERFLOW);
}

}  // namespace

#include <gtest/gtest.h>

#include "Errors.h"

#include "Probe.h"
#include "driver/Defaults.h"
#include "platform/Headless.h"

namespace {

using P = clsQuorvelUnitProbe;

TEST(DriverCreation, DefaultsBeforeTheNameIsSet) {
  DriverFixture fx;
  clsQuorvelUnit& u = *fx.unit;
  EXPECT_EQ(u.clsDevice_Status(), 0);
  EXPECT_EQ(u.clsDevice_DeviceType(), "QuorvelUnit");
  EXPECT_EQ(u.clsDevice_Info().Address, "TCPIP::---.---.---.---::inst0::instr");
  EXPECT_EQ(u.clsDevice_MinFrequency(), 10e6);
  EXPECT_EQ(u.clsDevice_MaxFrequency(), 18e9);
  // The ports took the frequency limit before it was set.
  for (long s = 1; s <= 8; ++s) EXPECT_EQ(u.StoredPortSettings(s).Frequency, 0) << s;
  EXPECT_EQ(u.StoredPortSettings(1).SampleCount, 1);
  EXPECT_EQ(u.StoredAttenuator(1), 31.75);
  EXPECT_EQ(fx.host->TraceStatuses("ResetQuorvelUnit"), (std::vector<std::string>{"start", "end"}));
}

// A driver made without arguments (as the component makes it) takes the
// services the program installed, with stand-ins for the platform's missing ones.
TEST(DriverCreation, WithoutArgumentsItTakesTheInstalledServices) {
  EXPECT_EQ(ErrorNumberOf([] { clsQuorvelUnit u; }), vb::err::ObjectNotSet);  // nothing installed yet
  auto host = host::RecordingHost::Create();
  platform::Services mine;
  mine.mouse = std::make_shared<platform::HeadlessMousePointer>();
  defaults::Install(host->services(), mine);
  const platform::Services p = defaults::Platform();
  EXPECT_EQ(p.mouse, mine.mouse);
  EXPECT_TRUE(p.messageBox && p.events && p.fileDialog);
  EXPECT_EQ(defaults::Host().logger, host->services().logger);
  {
    clsQuorvelUnit u;
    EXPECT_EQ(host->TraceStatuses("ResetQuorvelUnit"), (std::vector<std::string>{"start", "end"}));  // its host
  }
  defaults::Install(host->services(), {});
  EXPECT_NE(defaults::Platform().mouse, nullptr);
  defaults::Install({}, {});
  EXPECT_EQ(ErrorNumberOf([] { defaults::Host(); }), vb::err::ObjectNotSet);
}

TEST(DriverCreation, FrequencyPropertyChecksTheIndex) {
  DriverFixture fx;
  fx.unit->Frequency(1, 2e9);
  EXPECT_EQ(fx.unit->Frequency(1), 2e9);
  for (long bad : {0L, 9L, -1L}) {
    EXPECT_EQ(ErrorNumberOf([&] { fx.unit->Frequency(bad); }), vb::err::SubscriptOutOfRange);
    EXPECT_EQ(ErrorNumberOf([&] { fx.unit->Frequency(bad, 1.0); }), vb::err::SubscriptOutOfRange);
  }
}

TEST(DriverMapping, ChannelsSensorsAndClamping) {
  const struct {
    vb::Long in, sensor;
  } toSensor[] = {{-1, -1}, {0, 0}, {8, 8}, {9, 7}, {10, 6}, {11, 8}, {12, 0}, {99, 0}};
  for (const auto& c : toSensor) EXPECT_EQ(clsQuorvelUnit::ChannelToSensor(c.in), c.sensor) << c.in;
  const struct {
    vb::Long in, channel;
  } toChannel[] = {{-1, -1}, {0, 0}, {5, 5}, {6, 10}, {7, 9}, {8, 11}, {9, 0}};
  for (const auto& c : toChannel) EXPECT_EQ(clsQuorvelUnit::SensorToChannel(c.in), c.channel) << c.in;
  EXPECT_EQ(clsQuorvelUnit::ClampToLong(3e9), 2147483647);
  EXPECT_EQ(clsQuorvelUnit::ClampToLong(-3e9), -2147483647 - 1);
  EXPECT_EQ(clsQuorvelUnit::ClampToLong(2147483647.4), 2147483647);
  EXPECT_EQ(clsQuorvelUnit::ClampToLong(-7.5), -8);  // halves to even
}

TEST(UpdateSampling, DerivesClockDividersAndCount) {
  const struct {
    vb::Long rate;
    double measTime;
    vb::Long subSample;
    vb::Long clockMode, dividerFast, dividerSlow, adjustedRate, sampleCount;
  } cases[] = {
      {400000, 0.01, 0, 0, 250, 2, 500000, 5001},     // CLng(2.5) = 2
      {300000, 0.001, 0, 0, 250, 3, 333333, 334},
      {84000000, 0, 0, 1, 3, 0, 84000000, 1},         // only 252 MHz divides
      {11000000, 0, 0, 0, 23, 0, 10869565, 1},        // neither divides
      {1000000, 0.01, 0, 0, 250, 0, 1000000, 10001},  // 250 MHz preferred
      {1000000, 0.01, 4, 0, 250, 4, 1000000, 2500},   // (10000 + 1) / 4 rounds to even
      {10000000, 0.001, 3, 0, 25, 3, 10000000, 3334},
      {1000000, 0.001, 1, 0, 250, 0, 1000000, 1001},  // 1 does not sub-sample
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("rate " + std::to_string(c.rate) + " sub " + std::to_string(c.subSample));
    DriverFixture fx;
    PortSettings& p = P::Port(*fx.unit, 3);
    p.ClockMode = 1;  // what an earlier rate left: every field is set anew
    p.DividerFast = 999;
    p.DividerSlow = 7;
    p.SampleRate = c.rate;
    p.MeasTime = c.measTime;
    p.SubSampleRate = c.subSample;
    P::UpdateSampling(*fx.unit, 3);
    EXPECT_EQ(p.ClockMode, c.clockMode);
    EXPECT_EQ(p.DividerFast, c.dividerFast);
    EXPECT_EQ(p.DividerSlow, c.dividerSlow);
    EXPECT_EQ(p.SampleRate, c.adjustedRate);
    EXPECT_EQ(p.SampleCount, c.sampleCount);
  }
}

TEST(UpdateSampling, EdgesOfTheRateAndThePort) {
  DriverFixture fx;
  clsQuorvelUnit& u = *fx.unit;
  P::Port(u, 2).SampleRate = 0;
  P::Port(u, 2).SampleCount = 77;
  P::UpdateSampling(u, 2);
  EXPECT_EQ(P::Port(u, 2).SampleCount, 77);  // a rate below one changes nothing
  P::Port(u, 6).SampleRate = 84000000;
  P::UpdateSampling(u, 10);  // the companion channel is sensor 6
  EXPECT_EQ(P::Port(u, 6).ClockMode, 1);
  for (long bad : {0L, -1L, 12L}) EXPECT_EQ(ErrorNumberOf([&] { P::UpdateSampling(u, bad); }), 9) << bad;
  P::Port(u, 1).SampleRate = 600000000;  // 250 MHz / 600 MHz rounds to divider 0
  EXPECT_EQ(ErrorNumberOf([&] { P::UpdateSampling(u, 1); }), vb::err::DivisionByZero);
}

TEST(DriverNaming, ReadsTheHostAndAppliesTheNamingDefaults) {
  DriverFixture fx;
  auto& d = fx.AddDevice("Z1");
  d.record[8] = "  SN-0042 ";
  fx.host->settings["Z1|Logging Option"] = "1";
  P::Port(*fx.unit, 4).SampleCount = 999;
  P::Port(*fx.unit, 5).SampleRate = 2000000;  // what the object held before: the naming defaults replace it
  P::Port(*fx.unit, 5).SubSampleRate = 3;
  std::vector<vb::Long> sum{2, 3};
  fx.unit->SetSumPorts(sum);
  P::Link(*fx.unit).MarkUnitPresent();
  fx.unit->clsDevice_Name("Z1");

  clsQuorvelUnit& u = *fx.unit;
  EXPECT_EQ(u.clsDevice_Description(), "Zentrix8 on the bench");
  EXPECT_EQ(u.clsDevice_Info().Address, "TCPIP::127.0.0.1::inst0::INSTR");
  EXPECT_EQ(u.clsDevice_Info().SerialNumber, "SN-0042");
  EXPECT_EQ(u.clsDevice_Status(), 0);
  EXPECT_EQ(P::LogOption(u), 1);
  EXPECT_FALSE(P::HasSettings(u));  // released before naming returns
  EXPECT_EQ(u.StoredPortSettings(8).MeasTime, 0.001);
  EXPECT_EQ(u.StoredPortSettings(4).SampleCount, 999);  // not derived again at naming
  EXPECT_EQ(u.StoredPortSettings(5).SampleRate, 1000000);
  EXPECT_EQ(u.StoredPortSettings(5).SubSampleRate, 0);
  EXPECT_EQ(u.GetSumPorts(false), std::vector<vb::Long>{-1});
  EXPECT_TRUE(P::HasConnection(u));  // the host's device list connection is held
  EXPECT_EQ(fx.host->TraceStatuses("Let clsDevice_Name"), (std::vector<std::string>{"start", "end"}));
  EXPECT_EQ(fx.host->TraceStatuses("ReadConfig"), (std::vector<std::string>{"start", "end"}));
}

TEST(DriverNaming, ResetRestoresThePortDefaultsOfCreationNotOfNaming) {
  DriverFixture fx;
  fx.AddDevice("Z1");
  fx.unit->clsDevice_Name("Z1");
  P::Attenuator(*fx.unit, 3) = 10;
  P::SumPortMask(*fx.unit) = 6;
  P::AttTables(*fx.unit)->push_back(AttTable{});
  fx.unit->ResetQuorvelUnit();
  EXPECT_EQ(fx.unit->StoredPortSettings(2).Frequency, 10e6);
  EXPECT_EQ(fx.unit->StoredPortSettings(2).MeasTime, 0);
  EXPECT_EQ(fx.unit->StoredAttenuator(3), 31.75);
  EXPECT_EQ(P::SumPortMask(*fx.unit), 0);
  EXPECT_TRUE(P::AttTables(*fx.unit)->empty());
}

TEST(DriverNaming, AnotherInterfaceCodeKeepsTheDefaultAddress) {
  DriverFixture fx;
  fx.AddDevice("GPIB").interfaceCode = 10;
  fx.unit->clsDevice_Name("GPIB");
  EXPECT_EQ(fx.unit->clsDevice_Interface(), 10);
  EXPECT_EQ(fx.unit->clsDevice_Info().Address, "TCPIP::---.---.---.---::inst0::instr");
  const auto& l = fx.host->lookups;
  EXPECT_EQ(std::count(l.begin(), l.end(), "Address(GPIB)"), 0);
}

TEST(DriverNaming, TheRefreshSkipsFailedLookUpsAndTakesChangesOver) {
  DriverFixture fx;
  fx.AddDevice("Z1").record[8] = "SN1";
  fx.unit->clsDevice_Name("Z1");
  fx.host->devices.clear();  // every device-list look-up fails from now on
  P::NewParameter(*fx.unit);
  EXPECT_EQ(fx.unit->clsDevice_Interface(), 60);  // kept, not dropped to 0
  EXPECT_EQ(fx.unit->clsDevice_Info().SerialNumber, "SN1");
  EXPECT_TRUE(fx.host->errors.empty());  // ignored, not reported

  fx.AddDevice("Z1").address = "TCPIP::10.0.0.1::inst0::INSTR";
  P::NewParameter(*fx.unit);
  EXPECT_EQ(fx.unit->AddressText(), "TCPIP::10.0.0.1::inst0::INSTR");
}

TEST(DriverNaming, FailuresRaiseWithTheProcedureName) {
  DriverFixture fx;
  const vb::Error unknown = CaughtFrom([&] { fx.unit->clsDevice_Name("Unknown"); });
  EXPECT_EQ(unknown.Number(), vb::err::InvalidCall);
  EXPECT_EQ(unknown.Description().rfind("Let clsDevice_Name", 0), 0u) << unknown.Description();
  EXPECT_EQ(fx.host->errors.size(), 1u);

  // A host without a utility service: the settings object cannot be made.
  fx.AddDevice("Z1");
  auto services = fx.host->services();
  services.utility = nullptr;
  clsQuorvelUnit u(services, fx.platform.services());
  fx.host->traces.clear();
  const vb::Error e = CaughtFrom([&] { u.clsDevice_Name("Z1"); });
  EXPECT_EQ(e.Number(), vb::err::ObjectNotSet);
  EXPECT_EQ(e.Description(), "Let clsDevice_NameObject variable or With block variable not set");
  EXPECT_EQ(fx.host->TraceStatuses("Let clsDevice_Name"), (std::vector<std::string>{"start"}));
}

TEST(DriverConfig, OnlyTheStoredValueOneSetsTheLoggingOptionAndOnlyBitZeroIsWritten) {
  for (const char* stored : {"1", "0", "2", "", "-1", "abc"}) {
    DriverFixture fx;
    fx.AddDevice("Z1");
    fx.host->settings["Z1|Logging Option"] = stored;
    auto settings = fx.host->CreateSettings(1, 10, "dummy", 0, 0);
    fx.unit->clsDevice_Name("Z1");
    P::SetSettings(*fx.unit, settings);
    P::LogOption(*fx.unit) = 1;
    EXPECT_TRUE(P::ReadConfig(*fx.unit));
    EXPECT_EQ(P::LogOption(*fx.unit), std::string(stored) == "1" ? 1 : 0) << stored;
  }
  DriverFixture fx;
  EXPECT_EQ(ErrorNumberOf([&] { P::ReadConfig(*fx.unit); }), vb::err::ObjectNotSet);  // no settings object
  fx.AddDevice("Z1");
  fx.unit->clsDevice_Name("Z1");
  P::SetSettings(*fx.unit, fx.host->CreateSettings(1, 10, "dummy", 0, 0));
  for (vb::Long option : {3, 2}) {
    P::LogOption(*fx.unit) = option;
    EXPECT_TRUE(P::WriteConfig(*fx.unit));
  }
  ASSERT_EQ(fx.host->settingWrites.size(), 2u);
  EXPECT_EQ(fx.host->settingWrites[0].section + "|" + fx.host->settingWrites[0].key, "Z1|Logging Option");
  EXPECT_EQ(fx.host->settingWrites[0].value, "1");
  EXPECT_EQ(fx.host->settingWrites[1].value, "0");
  fx.host->failSettingsWrites = true;
  const std::size_t before = fx.host->errors.size();
  EXPECT_EQ(ErrorNumberOf([&] { P::WriteConfig(*fx.unit); }), vb::err::PathFileAccess);
  EXPECT_EQ(fx.host->errors.size(), before + 1);  // reported as well as raised
}

}  // namespace

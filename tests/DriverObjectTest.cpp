#include <gtest/gtest.h>

#include "Errors.h"

#include "Probe.h"

namespace {

using P = clsQuorvelUnitProbe;

TEST(DriverCreation, DefaultsBeforeTheNameIsSet) {
  DriverFixture fx;
  clsQuorvelUnit& u = *fx.unit;
  EXPECT_EQ(u.clsDevice_DeviceType(), "QuorvelUnit");
  EXPECT_EQ(u.clsDevice_Interface(), 60);
  EXPECT_EQ(u.clsDevice_Status(), 0);
  EXPECT_EQ(u.clsDevice_Info().Address, "TCPIP::---.---.---.---::inst0::instr");
  EXPECT_EQ(u.clsDevice_MinFrequency(), 10e6);
  EXPECT_EQ(u.clsDevice_MaxFrequency(), 18e9);
  for (long s = 1; s <= 8; ++s) {
    const PortSettings& p = u.StoredPortSettings(s);
    EXPECT_EQ(p.Frequency, 0) << s;  // the ports took the limit before it was set
    EXPECT_EQ(p.MeasTime, 0);
    EXPECT_EQ(p.SampleRate, 1000000);
    EXPECT_EQ(p.SampleCount, 1);
    EXPECT_EQ(p.BurstSearchLevel, 30);
    EXPECT_EQ(p.ClockMode, 0);
    EXPECT_EQ(p.DividerFast, 250);
  }
  for (long a = 1; a <= 10; ++a) EXPECT_EQ(u.StoredAttenuator(a), 31.75);
  EXPECT_FALSE(P::AttTables(u).has_value());
  // Creation runs ResetQuorvelUnit, traced.
  EXPECT_EQ(fx.host->TraceStatuses("ResetQuorvelUnit"), (std::vector<std::string>{"start", "end"}));
}

TEST(DriverCreation, FrequencyPropertyStoresWithoutTrafficAndChecksTheIndex) {
  DriverFixture fx;
  fx.unit->Frequency(1, 2e9);
  EXPECT_EQ(fx.unit->Frequency(1), 2e9);
  EXPECT_EQ(P::Port(*fx.unit, 1).Frequency, 2e9);
  for (long bad : {0L, 9L, -1L}) {
    EXPECT_EQ(ErrorNumberOf([&] { fx.unit->Frequency(bad); }), vb::err::SubscriptOutOfRange);
    EXPECT_EQ(ErrorNumberOf([&] { fx.unit->Frequency(bad, 1.0); }), vb::err::SubscriptOutOfRange);
  }
}

TEST(DriverMapping, ChannelsAndSensors) {
  const struct {
    vb::Long in, sensor;
  } toSensor[] = {{-1, -1}, {0, 0}, {1, 1}, {5, 5}, {6, 6}, {8, 8}, {9, 7}, {10, 6}, {11, 8}, {12, 0}, {99, 0}};
  for (const auto& c : toSensor) EXPECT_EQ(clsQuorvelUnit::ChannelToSensor(c.in), c.sensor) << c.in;
  const struct {
    vb::Long in, channel;
  } toChannel[] = {{-1, -1}, {0, 0}, {1, 1}, {5, 5}, {6, 10}, {7, 9}, {8, 11}, {9, 0}, {12, 0}};
  for (const auto& c : toChannel) EXPECT_EQ(clsQuorvelUnit::SensorToChannel(c.in), c.channel) << c.in;
}

TEST(DriverMapping, ClampToLong) {
  EXPECT_EQ(clsQuorvelUnit::ClampToLong(3e9), 2147483647);
  EXPECT_EQ(clsQuorvelUnit::ClampToLong(-3e9), -2147483647 - 1);
  EXPECT_EQ(clsQuorvelUnit::ClampToLong(2.5), 2);
  EXPECT_EQ(clsQuorvelUnit::ClampToLong(-7.5), -8);
  EXPECT_EQ(clsQuorvelUnit::ClampToLong(2147483647.4), 2147483647);
}

struct SamplingCase {
  vb::Long rate;
  double measTime;
  vb::Long subSample;
  vb::Long clockMode, dividerFast, dividerSlow, adjustedRate, sampleCount;
};

void PrintTo(const SamplingCase& c, std::ostream* os) {
  *os << "rate " << c.rate << " time " << c.measTime << " sub " << c.subSample;
}

class UpdateSamplingTable : public ::testing::TestWithParam<SamplingCase> {};

TEST_P(UpdateSamplingTable, DerivesClockDividersAndCount) {
  const SamplingCase& c = GetParam();
  DriverFixture fx;
  PortSettings& p = P::Port(*fx.unit, 3);
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

INSTANTIATE_TEST_SUITE_P(
    Sampling, UpdateSamplingTable,
    ::testing::Values(SamplingCase{400000, 0.01, 0, 0, 250, 2, 500000, 5001},     // CLng(2.5) = 2
                      SamplingCase{84000000, 0, 0, 1, 3, 0, 84000000, 1},         // only 252 MHz divides
                      SamplingCase{11000000, 0, 0, 0, 23, 0, 10869565, 1},        // neither divides
                      SamplingCase{1000000, 0.01, 0, 0, 250, 0, 1000000, 10001},  // 250 MHz preferred
                      SamplingCase{126000000, 0, 0, 1, 2, 0, 126000000, 1},
                      SamplingCase{1000000, 0.01, 4, 0, 250, 4, 1000000, 2500},   // (10000 + 1) / 4 rounds to even
                      SamplingCase{10000000, 0.001, 3, 0, 25, 3, 10000000, 3334},
                      SamplingCase{1000000, 0.001, 1, 0, 250, 0, 1000000, 1001},  // 1 does not sub-sample
                      SamplingCase{300000, 0.001, 0, 0, 250, 3, 333333, 334}));

TEST(UpdateSampling, ARateBelowOneChangesNothing) {
  DriverFixture fx;
  PortSettings& p = P::Port(*fx.unit, 2);
  p.SampleRate = 0;
  p.SampleCount = 77;
  p.DividerFast = 5;
  P::UpdateSampling(*fx.unit, 2);
  EXPECT_EQ(p.SampleCount, 77);
  EXPECT_EQ(p.DividerFast, 5);
  EXPECT_EQ(p.SampleRate, 0);
}

TEST(UpdateSampling, AuxiliaryChannelsReachTheirSensorAndOtherPortsAreIndexErrors) {
  DriverFixture fx;
  P::Port(*fx.unit, 6).SampleRate = 84000000;
  P::UpdateSampling(*fx.unit, 10);  // the companion channel is sensor 6
  EXPECT_EQ(P::Port(*fx.unit, 6).ClockMode, 1);
  for (long bad : {0L, -1L, 12L}) EXPECT_EQ(ErrorNumberOf([&] { P::UpdateSampling(*fx.unit, bad); }), 9) << bad;
}

TEST(UpdateSampling, ARateTheClockCannotReachRaisesInsteadOfDividingByZero) {
  DriverFixture fx;
  P::Port(*fx.unit, 1).SampleRate = 600000000;  // 250 MHz / 600 MHz rounds to divider 0
  EXPECT_EQ(ErrorNumberOf([&] { P::UpdateSampling(*fx.unit, 1); }), vb::err::DivisionByZero);
}

TEST(DriverNaming, ReadsTheHostAndAppliesTheNamingDefaults) {
  DriverFixture fx;
  auto& d = fx.AddDevice("Z1");
  d.record[8] = "  SN-0042 ";
  d.deviceType = "QuorvelUnit";
  fx.host->settings["Z1|Logging Option"] = "1";
  P::Port(*fx.unit, 4).SampleCount = 999;
  fx.unit->clsDevice_Name("Z1");

  clsQuorvelUnit& u = *fx.unit;
  EXPECT_EQ(u.clsDevice_Name(), "Z1");
  EXPECT_EQ(u.clsDevice_Description(), "Zentrix8 on the bench");
  EXPECT_EQ(u.clsDevice_Info().Address, "TCPIP::127.0.0.1::inst0::INSTR");
  EXPECT_EQ(u.clsDevice_Info().SerialNumber, "SN-0042");
  EXPECT_EQ(u.clsDevice_Interface(), 60);
  EXPECT_EQ(u.clsDevice_Status(), 0);
  EXPECT_EQ(P::LogOption(u), 1);
  EXPECT_TRUE(P::HasConnection(u));
  EXPECT_FALSE(P::HasSettings(u));  // released before naming returns
  ASSERT_TRUE(P::AttTables(u).has_value());
  EXPECT_TRUE(P::AttTables(u)->empty());
  for (long s = 1; s <= 8; ++s) {
    const PortSettings& p = u.StoredPortSettings(s);
    EXPECT_EQ(p.Frequency, 10e6);
    EXPECT_EQ(p.MeasTime, 0.001);
    EXPECT_EQ(p.SampleRate, 1000000);
    EXPECT_EQ(p.SubSampleRate, 0);
  }
  EXPECT_EQ(u.StoredPortSettings(4).SampleCount, 999);  // not derived again at naming
  EXPECT_EQ(u.StoredPortSettings(1).SampleCount, 1);
  EXPECT_EQ(fx.host->TraceStatuses("Let clsDevice_Name"), (std::vector<std::string>{"start", "end"}));
  EXPECT_EQ(fx.host->TraceStatuses("ReadConfig"), (std::vector<std::string>{"start", "end"}));
}

TEST(DriverNaming, ResetRestoresThePortDefaultsOfCreationNotOfNaming) {
  DriverFixture fx;
  fx.AddDevice("Z1");
  fx.unit->clsDevice_Name("Z1");
  P::Attenuator(*fx.unit, 3) = 10;
  P::Link(*fx.unit).SetErrorStatus(7);
  P::Link(*fx.unit).SetAbort(true);
  P::SumPortMask(*fx.unit) = 6;
  fx.unit->ResetQuorvelUnit();
  const PortSettings& p = fx.unit->StoredPortSettings(2);
  EXPECT_EQ(p.Frequency, 10e6);
  EXPECT_EQ(p.MeasTime, 0);
  EXPECT_EQ(p.SampleCount, 1);
  EXPECT_EQ(fx.unit->StoredAttenuator(3), 31.75);
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
  EXPECT_FALSE(P::Link(*fx.unit).AbortRequested());
  EXPECT_EQ(P::SumPortMask(*fx.unit), 0);
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

TEST(DriverNaming, HostLookUpFailuresDuringTheRefreshAreSkipped) {
  DriverFixture fx;
  fx.AddDevice("Z1").record[8] = "SN1";
  fx.unit->clsDevice_Name("Z1");
  fx.host->devices.clear();  // every device-list look-up fails from now on
  P::NewParameter(*fx.unit);
  EXPECT_EQ(fx.unit->clsDevice_Description(), "Zentrix8 on the bench");
  EXPECT_EQ(fx.unit->clsDevice_Interface(), 60);  // kept, not dropped to 0
  EXPECT_EQ(fx.unit->clsDevice_Info().SerialNumber, "SN1");
  EXPECT_TRUE(fx.host->errors.empty());  // ignored, not reported

  // The refresh takes a changed entry over.
  auto& d = fx.AddDevice("Z1");
  d.description = "moved";
  d.address = "TCPIP::10.0.0.1::inst0::INSTR";
  P::NewParameter(*fx.unit);
  EXPECT_EQ(fx.unit->clsDevice_Description(), "moved");
  EXPECT_EQ(fx.unit->AddressText(), "TCPIP::10.0.0.1::inst0::INSTR");
}

TEST(DriverNaming, AnUnknownDeviceFailsAtTheDeviceTypeLookUp) {
  DriverFixture fx;
  try {
    fx.unit->clsDevice_Name("Unknown");
    FAIL() << "naming an unknown device succeeded";
  } catch (const vb::Error& e) {
    EXPECT_EQ(e.Number(), vb::err::InvalidCall);
    EXPECT_EQ(e.Description().rfind("Let clsDevice_Name", 0), 0u) << e.Description();
  }
  EXPECT_EQ(fx.host->errors.size(), 1u);
}

TEST(DriverNaming, AFailingCreateSettingsIsReportedAndRaisedWithTheProcedureName) {
  DriverFixture fx;
  fx.AddDevice("Z1");
  // A host without a utility service: the settings object cannot be made.
  auto services = fx.host->services();
  services.utility = nullptr;
  clsQuorvelUnit u(services, fx.platform.services());
  try {
    u.clsDevice_Name("Z1");
    FAIL() << "naming without a utility service succeeded";
  } catch (const vb::Error& e) {
    EXPECT_EQ(e.Number(), vb::err::ObjectNotSet);
    EXPECT_EQ(e.Description(), "Let clsDevice_NameObject variable or With block variable not set");
  }
  EXPECT_EQ(fx.host->TraceStatuses("Let clsDevice_Name"), (std::vector<std::string>{"start"}));
}

TEST(DriverConfig, OnlyTheStoredValueOneSetsTheLoggingOption) {
  const struct {
    const char* stored;
    vb::Long option;
  } cases[] = {{"1", 1}, {"0", 0}, {"2", 0}, {"", 0}, {"-1", 0}, {"abc", 0}};
  for (const auto& c : cases) {
    DriverFixture fx;
    fx.AddDevice("Z1");
    fx.host->settings["Z1|Logging Option"] = c.stored;
    auto settings = fx.host->CreateSettings(1, 10, "dummy", 0, 0);
    fx.unit->clsDevice_Name("Z1");
    P::SetSettings(*fx.unit, settings);
    P::LogOption(*fx.unit) = 1;
    EXPECT_TRUE(P::ReadConfig(*fx.unit));
    EXPECT_EQ(P::LogOption(*fx.unit), c.option) << c.stored;
  }
}

TEST(DriverConfig, WriteConfigStoresBitZeroAndReportsAFailedWrite) {
  DriverFixture fx;
  fx.AddDevice("Z1");
  fx.unit->clsDevice_Name("Z1");
  P::SetSettings(*fx.unit, fx.host->CreateSettings(1, 10, "dummy", 0, 0));
  P::LogOption(*fx.unit) = 3;
  EXPECT_TRUE(P::WriteConfig(*fx.unit));
  P::LogOption(*fx.unit) = 2;
  EXPECT_TRUE(P::WriteConfig(*fx.unit));
  ASSERT_EQ(fx.host->settingWrites.size(), 2u);
  EXPECT_EQ(fx.host->settingWrites[0].section, "Z1");
  EXPECT_EQ(fx.host->settingWrites[0].key, "Logging Option");
  EXPECT_EQ(fx.host->settingWrites[0].value, "1");
  EXPECT_EQ(fx.host->settingWrites[1].value, "0");

  fx.host->failSettingsWrites = true;
  const std::size_t before = fx.host->errors.size();
  EXPECT_EQ(ErrorNumberOf([&] { P::WriteConfig(*fx.unit); }), vb::err::PathFileAccess);
  EXPECT_EQ(fx.host->errors.size(), before + 1);
}

TEST(DriverConfig, ReadConfigWithoutSettingsObjectRaises91) {
  DriverFixture fx;
  EXPECT_EQ(ErrorNumberOf([&] { P::ReadConfig(*fx.unit); }), vb::err::ObjectNotSet);
}

TEST(DriverCaches, ResetUnitCachesEmptiesTheTableCacheAndTheSumMask) {
  DriverFixture fx;
  fx.AddDevice("Z1");
  fx.unit->clsDevice_Name("Z1");
  P::AttTables(*fx.unit)->push_back(AttTable{});
  P::SumPortMask(*fx.unit) = 12;
  P::ResetUnitCaches(*fx.unit);
  EXPECT_TRUE(P::AttTables(*fx.unit)->empty());
  EXPECT_EQ(P::SumPortMask(*fx.unit), 0);
  EXPECT_EQ(fx.unit->clsDevice_MinFrequency(), 10e6);
}

}  // namespace

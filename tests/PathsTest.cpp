// Path switching and path attenuation tables.
#include <gtest/gtest.h>

#include "Errors.h"

#include <algorithm>
#include <set>

#include "Probe.h"
#include "driver/modMain.h"

namespace {

using P = clsQuorvelUnitProbe;

AttTableProp Path(QuorvelPort from, QuorvelPort to, vb::Long att, bool rx18 = false, bool sum = false,
                  bool bypass = false) {
  return {from, to, sum, rx18, bypass, att};
}

// A row answer of `count` points, hundredths of a dB, starting with `head`.
std::string Row(int count, std::vector<int> head = {}) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    const int v = i < static_cast<int>(head.size()) ? head[i] : -(1000 + i);
    out += (i ? "," : "") + std::to_string(v);
  }
  return out + "\n";
}

TEST(PathTable, CommandsDescriptionsAndNames) {
  const struct {
    long path;
    const char *command, *description, *name;
  } cases[] = {
      {0, ":CONF:PORT1:MODE ANA", "Path DUT1 to Receiver", "ptDUT1Rx"},
      {16, ":CONF:PORT1:MODE ADI", "Path DUT1 to Receiver (18GHz)", "ptDUT1Rx18G"},
      {31, ":CONF:PORT8:MODE PDI", "Path DUT8 to Powermeter", "ptDUT8Power"},
      {32, ":CONF:GEN ON", "Path Generator ON", "ptGenOn"},
      {45, ":CONF:EXTC DUT4", "Path Companion to DUT4", "ptCompExtensionDUT4"},
      {46, "", "", "ptEnd"},
      {-1, "", "", ""},
      {47, "", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(modMain::PathCommand(c.path), c.command) << c.path;
    EXPECT_EQ(modMain::PathDescription(c.path), c.description) << c.path;
    EXPECT_EQ(modMain::PathName(c.path), c.name) << c.path;
  }
  // No path switches or reads like another one.
  std::set<std::string> commands, descriptions;
  for (long p = 0; p < modMain::kPathCount; ++p) {
    commands.insert(modMain::PathCommand(p));
    descriptions.insert(modMain::PathDescription(p));
  }
  EXPECT_EQ(commands.size(), static_cast<std::size_t>(modMain::kPathCount));
  EXPECT_EQ(descriptions.size(), static_cast<std::size_t>(modMain::kPathCount));
  EXPECT_EQ(ptEnd, modMain::kPathCount);  // the enumeration and the table agree
  for (long p : {0L, 14L}) EXPECT_EQ(modMain::PortShortName(p), "") << p;
}

TEST(AttenuationTables, KeysAndFileNames) {
  EXPECT_EQ(clsQuorvelUnit::AttTableKey(Path(pDUT3, pReceiver, 20)), 803840);
  EXPECT_EQ(CaughtFrom([] { clsQuorvelUnit::AttTableKey(Path(pDUT1, pReceiver, 10000000)); }).Number(),
            vb::err::Overflow);
  DriverFixture fx;
  const struct {
    AttTableProp prop;
    const char* name;
  } cases[] = {
      {Path(pCompanion, pGenerator, 5, false, false, true), "Zentrix COMP to GEN BYP 5dB"},
      {Path(pDUT2, pReceiver, -1), "Zentrix DUT2 to Rx"},
      {Path(pDUT2, pReceiver, 0, true, true), "Zentrix DUT2 to Rx 18GHz 0dB"},
      {Path(pDUT4, pCompanion, 3, false, true, true), "Zentrix DUT4 to COMP SUM 3dB"},
  };
  for (const auto& c : cases) EXPECT_EQ(fx.unit->GetPathAttenuationFilename(c.prop), c.name);
}

TEST(AttenuationTables, RowQueriesOfThePaths) {
  const struct {
    AttTableProp prop;
    const char* query;
    int points;
  } cases[] = {
      {Path(pDUT3, pReceiver, 20), ":CAL:PATH2:PORT3:ROW3?", 600},
      {Path(pDUT3, pReceiver, 0, true), ":CAL:PATH1:PORT3:ROW1?", 1800},
      {Path(pGenerator, pAntenna, 0), ":CAL:PATH16:PORT1:ROW1?", 600},
      {Path(pCompanion, pGenerator, 5, false, false, true), ":CAL:PATH9:PORT1:ROW6?", 600},
  };
  for (const auto& c : cases) {
    ConnectedDriver fx;
    fx.visa->Expect(c.query, {Row(c.points)});
    AttTableProp prop = c.prop;
    fx.unit->SavePathAttenuationTabletoDriver(prop);
    EXPECT_EQ(fx.visa->Problems(), "");
    ASSERT_EQ(P::AttTables(*fx.unit)->size(), 1u);
    const AttTable& t = P::AttTables(*fx.unit)->front();
    EXPECT_EQ(t.count, c.points);
    EXPECT_EQ(t.AttValues.size(), static_cast<std::size_t>(c.points));
    EXPECT_DOUBLE_EQ(t.AttValues[1], -10.01);  // hundredths of a dB
  }
}

// A connected driver with the row of DUT2 to receiver at 0 dB: -1, -2, -4 dB at 10, 20, 30 MHz.
struct RowFixture : ConnectedDriver {
  AttTableProp prop = Path(pDUT2, pReceiver, 0);
  RowFixture() { visa->Expect(":CAL:PATH2:PORT2:ROW1?", {Row(600, {-100, -200, -400})}); }
};

TEST(AttenuationTables, LinearAndLogarithmicInterpolation) {
  RowFixture fx;
  const struct {
    double frq;
    long mode;
    double value;
  } cases[] = {
      {14e6, 0, -1.4},  {15e6, 0, -1.5},    {16e6, 0, -1.2},  // from the nearest point, halves to even
      {10e6, 0, -1},    {14e6, 1, -1.4},    {16e6, 1, -1.3657},
      {6e9, 0, -15.99}, {9999999, 0, 1000}, {6000000001, 0, 1000},  // outside the row: no value
  };
  for (const auto& c : cases) {
    AttTableProp prop = fx.prop;
    EXPECT_NEAR(fx.unit->GetPathAttenuation(c.frq, prop, c.mode), c.value, 1e-4) << c.frq << " mode " << c.mode;
  }
  EXPECT_EQ(fx.visa->Problems(), "");  // the row was read once
}

TEST(AttenuationTables, AnOffStepAttenuatorIsAnsweredOnTheFirstCallAndReadOnce) {
  ConnectedDriver fx;
  fx.visa->Expect(":CAL:PATH2:PORT2:ROW3?", {Row(600, {-500, -600})});  // 25 dB rounds to the 20 dB row
  AttTableProp prop = Path(pDUT2, pReceiver, 25);
  EXPECT_NEAR(fx.unit->GetPathAttenuation(15e6, prop), -5.5, 1e-9);
  EXPECT_EQ(prop.Attenuator, 20);  // the caller's record is rounded
  AttTableProp fresh = Path(pDUT2, pReceiver, 27);  // a new record every time, as the service panel passes
  EXPECT_NEAR(fx.unit->GetPathAttenuation(10e6, fresh), -5, 1e-9);
  EXPECT_EQ(fx.visa->Problems(), "");  // no second read
}

TEST(AttenuationTables, PathsWhoseKeysCollideKeepTheirOwnTables) {
  ConnectedDriver fx;
  AttTableProp a = Path(pDUT1, pReceiver, 100, true);
  AttTableProp b = Path(pDUT7, pReceiver, 4, true);
  ASSERT_EQ(clsQuorvelUnit::AttTableKey(a), clsQuorvelUnit::AttTableKey(b));
  fx.visa->Expect(":CAL:PATH1:PORT1:ROW1?", {Row(1800, {-100})});
  fx.visa->Expect(":CAL:PATH1:PORT7:ROW1?", {Row(1800, {-700})});
  EXPECT_NEAR(fx.unit->GetPathAttenuation(10e6, a), -1, 1e-9);
  EXPECT_NEAR(fx.unit->GetPathAttenuation(10e6, b), -7, 1e-9);
  EXPECT_NEAR(fx.unit->GetPathAttenuation(10e6, a), -1, 1e-9);
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(AttenuationTables, InSimulationARowOf601NotDeliveredValuesIsCachedOnce) {
  ConnectedDriver fx(false);
  AttTableProp prop = Path(pDUT1, pReceiver, 10);
  fx.unit->SavePathAttenuationTabletoDriver(prop);
  fx.unit->SavePathAttenuationTabletoDriver(prop);  // read again: replaced, not doubled
  ASSERT_EQ(P::AttTables(*fx.unit)->size(), 1u);
  const AttTable& t = P::AttTables(*fx.unit)->front();
  EXPECT_EQ(t.AttValues.size(), 601u);
  EXPECT_TRUE(std::all_of(t.AttValues.begin(), t.AttValues.end(), [](double v) { return v == -137; }));
  EXPECT_EQ(fx.unit->GetPathAttenuation(6e9, prop, 1), -137);
}

TEST(AttenuationTables, AMissingPathShowsItsMessageAndCachesNothing) {
  ConnectedDriver fx;
  AttTableProp prop = Path(pDUT1, pAntenna, 0);
  EXPECT_EQ(fx.unit->GetPathAttenuation(1e9, prop), 1000);
  ASSERT_EQ(fx.platform.messageBox->History().size(), 1u);
  EXPECT_EQ(fx.platform.messageBox->History()[0].text, "The Path from DUT1 to ANT does not exist!");
  EXPECT_EQ(fx.platform.messageBox->History()[0].style, platform::vbOKOnly);
  EXPECT_TRUE(P::AttTables(*fx.unit)->empty());
  AttTableProp comp = Path(pCompanion, pGenerator, 0);
  std::string folder;
  fx.unit->SavePathAttenuationTable(comp, folder);
  EXPECT_EQ(fx.platform.messageBox->History()[1].text, "The Path from COMP to GEN does not exist!");
  EXPECT_TRUE(fx.host->storedDataSets.empty());
  EXPECT_TRUE(fx.visa->Writes().empty());
}

// A program that gave the driver no message box gets an error, not a crash.
TEST(AttenuationTables, AMissingPathWithoutAMessageBoxIsAnError) {
  auto host = host::RecordingHost::Create();
  platform::HeadlessPlatform platform;
  platform::Services services = platform.services();
  services.messageBox = nullptr;
  clsQuorvelUnit u(host->services(), services);
  AttTableProp prop = Path(pDUT1, pAntenna, 0);
  std::string folder;
  EXPECT_EQ(ErrorNumberOf([&] { u.SavePathAttenuationTable(prop, folder); }), vb::err::ObjectNotSet);
}

TEST(AttenuationTables, LogarithmicInterpolationAcrossASignChangeIsAnInvalidCall) {
  ConnectedDriver fx;
  fx.visa->Expect(":CAL:PATH2:PORT2:ROW1?", {Row(600, {-100, 100})});
  AttTableProp prop = Path(pDUT2, pReceiver, 0);
  const vb::Error e = CaughtFrom([&] { fx.unit->GetPathAttenuation(15e6, prop, 1); });
  EXPECT_EQ(e.Number(), vb::err::InvalidCall);
  EXPECT_EQ(e.Description().rfind("GetPathAttenuation", 0), 0u);
}

TEST(AttenuationTables, BeforeNamingTheCacheIsMissing) {
  DriverFixture fx;
  AttTableProp prop = Path(pDUT2, pReceiver, 0);
  EXPECT_EQ(CaughtFrom([&] { fx.unit->GetPathAttenuation(1e9, prop); }).Number(), vb::err::ObjectNotSet);
  EXPECT_EQ(CaughtFrom([&] { fx.unit->InitPathAttenuationSave(); }).Number(), vb::err::ObjectNotSet);
}

TEST(DataSets, SaveWritesTwoColumnsUnderTheFolderAndNeverOverwrites) {
  ConnectedDriver fx;
  AttTableProp prop = Path(pDUT1, pReceiver, 10);
  fx.visa->Expect(":CAL:PATH2:PORT1:ROW2?", {Row(600, {-150})});
  std::string savepath = "C:\\Data";
  fx.unit->SavePathAttenuationTable(prop, savepath);
  EXPECT_EQ(savepath, "C:\\Data\\");
  ASSERT_EQ(fx.host->storedDataSets.count("C:\\Data\\Zentrix DUT1 to Rx 10dB"), 1u);
  const auto& cells = fx.host->storedDataSets.at("C:\\Data\\Zentrix DUT1 to Rx 10dB").cells;
  ASSERT_EQ(cells.size(), 600u);
  EXPECT_EQ(cells[0], (std::array<double, 2>{10e6, -1.5}));
  EXPECT_EQ(cells[599][0], 6e9);
  EXPECT_TRUE(P::AttTables(*fx.unit)->empty());  // saving does not cache

  // The same again: the data set exists and is left alone (no second create).
  fx.visa->Expect(":CAL:PATH2:PORT1:ROW2?", {Row(600, {-999})});
  fx.unit->SavePathAttenuationTable(prop, savepath);
  EXPECT_EQ(fx.host->storedDataSets.at("C:\\Data\\Zentrix DUT1 to Rx 10dB").cells[0][1], -1.5);
  EXPECT_EQ(fx.visa->Problems(), "");
}

// An attenuator setting off the path's steps is saved as the step it rounds to.
TEST(DataSets, SaveRoundsTheAttenuatorToThePathsStep) {
  ConnectedDriver fx;
  AttTableProp prop = Path(pDUT1, pReceiver, 14);
  fx.visa->Expect(":CAL:PATH2:PORT1:ROW2?", {Row(600, {-150})});
  std::string savepath = "C:\\Data";
  fx.unit->SavePathAttenuationTable(prop, savepath);
  EXPECT_EQ(prop.Attenuator, 10);  // the caller's record says what was saved
  EXPECT_EQ(fx.host->storedDataSets.count("C:\\Data\\Zentrix DUT1 to Rx 10dB"), 1u);
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(DataSets, SavingAPathThatIsNotCachedCreatesNothing) {
  ConnectedDriver fx;
  AttTableProp prop = Path(pDUT2, pReceiver, 0);
  std::string folder = "C:\\Out";
  const vb::Error e = CaughtFrom([&] { fx.unit->SavePathAttFromDriver(prop, folder); });
  EXPECT_EQ(e.Number(), vb::err::InvalidCall);
  EXPECT_EQ(e.Description(), "SavePathAttFromDriverInvalid procedure call or argument");
  EXPECT_TRUE(fx.host->storedDataSets.empty());
  EXPECT_EQ(folder, "C:\\Out");  // nothing touched
}

TEST(DataSets, ANewlyReadRowIsSavedOnlyWhenTheHostSaysSo) {
  for (long state : {0L, 9L}) {
    RowFixture fx;
    fx.host->paths = std::make_shared<host::RecordingPaths>();
    fx.host->paths->state = state;
    AttTableProp prop = fx.prop;
    fx.unit->GetPathAttenuation(1e9, prop);
    const std::size_t saved = state == 9 ? 1 : 0;
    EXPECT_EQ(fx.host->storedDataSets.count("C:\\Host\\Setups\\Zentrix8\\Zentrix DUT2 to Rx 0dB"), saved) << state;
  }
}

}  // namespace

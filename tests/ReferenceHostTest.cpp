#include <gtest/gtest.h>

#include "Errors.h"

#include <fstream>
#include <sstream>

#include "TempDir.h"
#include "driver/clsQuorvelUnit.h"
#include "refhost/IniFile.h"
#include "refhost/ReferenceHost.h"
#include "platform/Headless.h"

namespace {

using host::IniFile;
using host::ReferenceHost;

constexpr const char* kConfig =
    "; bench set-up\n"
    "[Host]\n"
    "Trace = 1\n"
    "\n"
    "[Bench A]\n"
    "Description = Zentrix8 in rack 3\n"
    "Interface = 60\n"
    "Address = TCPIP::192.0.2.10::inst0::INSTR\n"
    "SerialNumber =  77 \n"
    "Logging Option = 1\n"
    "\n"
    "[Bench B]\n"
    "Interface = 12\n"
    "Available = 0\n";

TEST(ReferenceHost, DeviceListFromTheFile) {
  TempDir dir;
  TempDir::Write(dir / "q.ini", std::string(kConfig));
  auto h = ReferenceHost::Open(dir / "q.ini");
  EXPECT_EQ(h->DeviceNames(), (std::vector<std::string>{"Bench A", "Bench B"}));
  EXPECT_EQ(h->Description("Bench A"), "Zentrix8 in rack 3");
  EXPECT_EQ(h->Interface("Bench A"), 60);
  EXPECT_EQ(h->Address("Bench A"), "TCPIP::192.0.2.10::inst0::INSTR");
  EXPECT_EQ(h->GetDeviceRecord("Bench A")[8], "77");
  EXPECT_EQ(h->DeviceType("Bench A"), "QuorvelUnit");
  EXPECT_TRUE(h->IsAvailable("Bench A"));
  EXPECT_FALSE(h->IsAvailable("Bench B"));
  EXPECT_EQ(CaughtFrom([&] { h->Address("Bench C"); }).Number(), vb::err::InvalidCall);
  // A missing file means one default device, and reading it creates nothing.
  auto none = ReferenceHost::Open(dir / "none.ini");
  EXPECT_EQ(none->DeviceNames(), (std::vector<std::string>{"Zentrix8"}));
  EXPECT_FALSE(std::filesystem::exists(dir / "none.ini"));
}

TEST(ReferenceHost, SettingsRoundTripKeepsTheRestOfTheFile) {
  TempDir dir;
  TempDir::Write(dir / "q.ini", kConfig);
  auto h = ReferenceHost::Open(dir / "q.ini");
  auto s = h->CreateSettings(1, 10, "dummy", 0, 0);
  EXPECT_EQ(s->ReadValue("Bench A", "Logging Option", "0"), "1");
  s->WriteValue("Bench A", "Logging Option", "0");
  s->WriteValue("New Unit", "Logging Option", "1");

  const std::string text = TempDir::Read(dir / "q.ini");
  EXPECT_NE(text.find("; bench set-up\n"), std::string::npos);
  EXPECT_NE(text.find("Description = Zentrix8 in rack 3\n"), std::string::npos);
  auto s2 = ReferenceHost::Open(dir / "q.ini")->CreateSettings(1, 10, "dummy", 0, 0);
  EXPECT_EQ(s2->ReadValue("Bench A", "Logging Option", "x"), "0");
  EXPECT_EQ(s2->ReadValue("Bench B", "Logging Option", "x"), "x");
  EXPECT_EQ(s2->ReadValue("New Unit", "Logging Option", "x"), "1");
}

TEST(ReferenceHost, AMalformedFileNamesFileAndLine) {
  const struct {
    const char* text;
    const char* fragment;
  } cases[] = {
      {"[A]\nInterface = 60\nthis is not a setting\n", "line 3"},
      {"Address = x\n[A]\n", "line 1"},
      {"[A]\n[B\n", "line 2"},
      {"[A]\n= 5\n", "line 2"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    TempDir::Write(dir / "bad.ini", c.text);
    const vb::Error e = CaughtFrom([&] { ReferenceHost::Open(dir / "bad.ini"); });
    EXPECT_NE(e.Description().find(dir / "bad.ini"), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find(c.fragment), std::string::npos) << e.Description();
  }
}

TEST(ReferenceHost, DataSetsAreCsvFilesUnderTheDataFolder) {
  TempDir dir;
  TempDir::Write(dir / "q.ini", "[Host]\nDataFolder = " + (dir / "data") + "\n");
  auto h = ReferenceHost::Open(dir / "q.ini");
  EXPECT_EQ(h->Paths()->BaseFolder(), (dir / "data") + "/");
  // The same file, in the system's own spelling of paths.
  auto same = [](const std::string& made, const std::string& expected) {
    return std::filesystem::path(made).lexically_normal() == std::filesystem::absolute(expected).lexically_normal();
  };
  EXPECT_PRED2(same, h->DataSetPath(h->Paths()->BaseFolder() + "Setups\\Zentrix8\\Zentrix DUT1 to Rx 10dB"),
               (dir / "data/Setups/Zentrix8/Zentrix DUT1 to Rx 10dB.csv"));
  EXPECT_PRED2(same, h->DataSetPath("Setups\\Zentrix8\\x"), (dir / "data/Setups/Zentrix8/x.csv"));
  // A rooted name stays where it points (on Windows: on the data folder's drive).
  EXPECT_PRED2(same, h->DataSetPath("/elsewhere/x"), (std::filesystem::path(dir / "data") / "/elsewhere/x.csv").string());
  for (const char* bad : {"..\\..\\etc\\passwd", "Setups\\..\\x", "/tmp/../etc/x", "", "folder\\"})
    EXPECT_EQ(CaughtFrom([&] { h->DataSetPath(bad); }).Number(), vb::err::InvalidCall) << bad;

  // Written as CSV, never overwritten, no temporary left behind.
  const std::string name = h->Paths()->BaseFolder() + "Setups\\Zentrix8\\Zentrix DUT2 to Rx";
  EXPECT_FALSE(h->DataSetExists(name, 41, 9));
  auto ds = h->CreateDataSet(41, 10, name, 9, true);
  ds->SetRowCount(2);
  ds->SetCell(0, 0, 10e6);
  ds->SetCell(1, 0, -1.25);
  ds->SetCell(0, 1, 20e6);
  ds->SetCell(1, 1, -1.5);
  EXPECT_EQ(CaughtFrom([&] { ds->SetCell(0, 2, 1); }).Number(), vb::err::SubscriptOutOfRange);
  ds->Store(false);
  EXPECT_TRUE(h->DataSetExists(name, 41, 9));
  const std::string file = dir / "data/Setups/Zentrix8/Zentrix DUT2 to Rx.csv";
  const std::string csv = "Frequency (Hz),Attenuation (dB)\n10000000,-1.25\n20000000,-1.5\n";
  EXPECT_EQ(TempDir::Read(file), csv);

  auto again = h->CreateDataSet(41, 10, name, 9, true);
  again->SetRowCount(1);
  EXPECT_EQ(CaughtFrom([&] { again->Store(false); }).Number(), vb::err::FileAlreadyExists);
  EXPECT_EQ(TempDir::Read(file), csv);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir / "data/Setups/Zentrix8")) ++files;
  EXPECT_EQ(files, 1u);
}

TEST(ReferenceHost, TracesAndErrorsGoToTheLogFile) {
  TempDir dir;
  TempDir::Write(dir / "q.ini", "[Host]\nTrace = 1\nLogFile = " + (dir / "log.txt") + "\n[Z]\n");
  auto h = ReferenceHost::Open(dir / "q.ini");
  platform::HeadlessPlatform plat;
  clsQuorvelUnit unit(h->services(), plat.services());
  unit.clsDevice_Name("Z");
  EXPECT_EQ(h->ReportError(vb::Error(4012, "clsQuorvelUnit", "WriteCmdVISA Cmd: *IDN?"), 12, 3), 0);
  const std::string log = TempDir::Read(dir / "log.txt");
  EXPECT_NE(log.find("TRACE start Tavlor_QuorvelUnit.clsQuorvelUnit.Let clsDevice_Name"), std::string::npos) << log;
  EXPECT_NE(log.find("TRACE end Tavlor_QuorvelUnit.clsQuorvelUnit.Let clsDevice_Name"), std::string::npos);
  EXPECT_NE(log.find("ERROR 4012 (clsQuorvelUnit) WriteCmdVISA Cmd: *IDN?"), std::string::npos);
}

TEST(ReferenceHost, WaitRunsTheEventPump) {
  TempDir dir;
  platform::HeadlessPlatform plat;
  auto h = ReferenceHost::Open(dir / "none.ini", plat.events);
  bool clicked = false;
  plat.events->Post([&] { clicked = true; });
  h->Wait(20);
  EXPECT_TRUE(clicked);
}


}  // namespace

namespace {

// The README's example is the shipped docs/quorvel.ini, and it loads as written.
TEST(IniFile, TheReadmeExampleLoadsWithItsComments) {
  std::ifstream readme(std::string(QUORVEL_SOURCE_DIR) + "/README.md");
  std::stringstream text;
  text << readme.rdbuf();
  const std::string all = text.str();
  const std::size_t from = all.find("```ini\n");
  ASSERT_NE(from, std::string::npos);
  const std::string example = all.substr(from + 7, all.find("```", from + 7) - from - 7);
  const host::IniFile shipped = host::IniFile::Load(std::string(QUORVEL_SOURCE_DIR) + "/docs/quorvel.ini");
  EXPECT_EQ(shipped.Text(), example);
  host::IniFile f = host::IniFile::Parse(example, "README.md");
  EXPECT_EQ(f.Sections(), (std::vector<std::string>{"Host", "Zentrix8"}));
  EXPECT_EQ(f.Get("Host", "DataFolder"), "/srv/quorvel");
  EXPECT_EQ(f.Get("Zentrix8", "Address"), "TCPIP::192.0.2.10::inst0::INSTR");
  EXPECT_EQ(f.Get("Zentrix8", "Timeout"), "2000");
  f.Set("Zentrix8", "Timeout", "500");  // a changed value keeps its comment
  EXPECT_NE(f.Text().find("Timeout = 500  ; ms to wait for an answer"), std::string::npos) << f.Text();
  EXPECT_EQ(host::IniFile::Parse("[A]\nName = a#b ; c\n", "t").Get("A", "Name"), "a#b");
}

// What would not read back the same is refused, not written half.
TEST(IniFile, SettingsThatWouldNotReadBackAreRefused) {
  const struct {
    const char *section, *key, *value;
  } refused[] = {{"Zentrix8", "Description", "Rack 3 ; left bay"}, {"Host", "DataFolder", "/srv/data #2"},
                 {"Bench ;2", "Timeout", "1"},                     {"Zentrix8", "Mode #1", "on"},
                 {"Zentrix8", "#Mode", "on"},                      {" Zentrix8", "Timeout", "1"},
                 {"Zentrix8", "Description", " padded "},          {"Zentrix8", "Description", "two\nlines"}};
  host::IniFile f = host::IniFile::Parse("[Zentrix8]\nTimeout = 5\n", "t");
  const std::string before = f.Text();
  for (const auto& r : refused) {
    try {
      f.Set(r.section, r.key, r.value);
      ADD_FAILURE() << "stored [" << r.section << "] " << r.key << " = " << r.value;
    } catch (const vb::Error& e) {
      EXPECT_EQ(e.Number(), vb::err::InvalidCall);
    }
  }
  EXPECT_EQ(f.Text(), before);
  f.Set("Zentrix8", "Description", "a#b; c");  // no blank before the marks: kept as it is
  EXPECT_EQ(host::IniFile::Parse(f.Text(), "t").Get("Zentrix8", "Description"), "a#b; c");
}

}  // namespace

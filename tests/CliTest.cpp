#include <gtest/gtest.h>

#include <sstream>

#include "TempDir.h"
#include "quorvel/Cli.h"

namespace {

struct CliResult {
  int status;
  std::string out, err;
};

CliResult RunCli(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = quorvel::Run(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(QuorvelInfo, NamesTheFirstDeviceAndPrintsItsState) {
  TempDir dir;
  TempDir::Write(dir / "q.ini",
                 "[Host]\nDataFolder = " + (dir / "data") + "\n[Rack 3]\nDescription = bench unit\n"
                 "Address = TCPIP::192.0.2.7::inst0::INSTR\nSerialNumber = 4711\n[Other]\n");
  const CliResult r = RunCli({"--config", dir / "q.ini"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Device       Rack 3 (QuorvelUnit)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Description  bench unit"), std::string::npos);
  EXPECT_NE(r.out.find("Interface    60 (VISA)"), std::string::npos);
  EXPECT_NE(r.out.find("Status       0 (simulation: no unit connected)"), std::string::npos);
  EXPECT_NE(r.out.find("Address      TCPIP::192.0.2.7::inst0::INSTR"), std::string::npos);
  EXPECT_NE(r.out.find("Serial       4711"), std::string::npos);
  EXPECT_NE(r.out.find("Frequencies  10 MHz to 18 GHz"), std::string::npos);
  for (int s = 1; s <= 8; ++s) EXPECT_NE(r.out.find("DUT" + std::to_string(s) + "   "), std::string::npos) << s;
  EXPECT_NE(r.out.find("10000000"), std::string::npos);
  EXPECT_NE(r.out.find("COMP 31.75  BYP 31.75"), std::string::npos);
}

TEST(QuorvelInfo, AMissingConfigurationMeansTheDefaultDevice) {
  TempDir dir;
  const CliResult r = RunCli({"info", "--config", dir / "absent.ini"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Device       Zentrix8 (QuorvelUnit)"), std::string::npos) << r.out;
}

TEST(QuorvelInfo, BadInputGetsAClearErrorAndStatus2) {
  TempDir dir;
  TempDir::Write(dir / "bad.ini", "[A]\nnonsense\n");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* fragment;
  } cases[] = {
      {{"--config"}, 2, "option --config needs a value"},
      {{"--frobnicate"}, 2, "unknown option --frobnicate"},
      {{"dance"}, 2, "unknown command 'dance'"},
      {{"--config", dir / "absent.ini", "--device", "Nope"}, 2, "no device named 'Nope'"},
      {{"--config", dir / "bad.ini"}, 1, "line 2"},
  };
  for (const auto& c : cases) {
    const CliResult r = RunCli(c.args);
    EXPECT_EQ(r.status, c.status) << c.fragment;
    EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
  }
}

TEST(QuorvelInfo, HelpGoesToStandardOutput) {
  const CliResult r = RunCli({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: quorvel"), std::string::npos);
}

}  // namespace

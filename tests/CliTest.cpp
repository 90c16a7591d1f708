#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <sstream>

#include <nlohmann/json.hpp>

#include "TempDir.h"
#include "sim/server/Servers.h"
#include "sim/Zentrix8.h"
#include "visa/Network.h"
#include "quorvel/Cli.h"
#include "quorvel/Commands.h"

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

// A configuration with the default device, its data kept in `dir`.
std::string Empty(const TempDir& dir) {
  TempDir::Write(dir / "empty.ini", "[Host]\nDataFolder = " + (dir / "data") + "\n");
  return dir / "empty.ini";
}

TEST(QuorvelInfo, NamesTheFirstDeviceAndPrintsItsState) {
  TempDir dir;
  TempDir::Write(dir / "q.ini",
                 "[Host]\nDataFolder = " + (dir / "data") + "\n[Rack 3]\nDescription = bench unit\n"
                 "Address = TCPIP::192.0.2.7::inst0::INSTR\nSerialNumber = 4711\n[Other]\n");
  const CliResult r = RunCli({"info", "--config", dir / "q.ini"});
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

TEST(QuorvelInfo, AnEmptyConfigurationMeansTheDefaultDeviceAMissingOneIsAnError) {
  TempDir dir;
  const CliResult r = RunCli({"info", "--config", Empty(dir)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Device       Zentrix8 (QuorvelUnit)"), std::string::npos) << r.out;
  const CliResult missing = RunCli({"info", "--config", dir / "absent.ini"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("absent.ini does not exist"), std::string::npos) << missing.err;
  EXPECT_TRUE(missing.out.empty());
}

TEST(QuorvelInfo, BadInputGetsAClearErrorAndStatus2) {
  TempDir dir;
  TempDir::Write(dir / "bad.ini", "[A]\nnonsense\n");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* fragment;
  } cases[] = {
      {{"--config"}, 2, "--config: 1 required"},
      {{"--frobnicate"}, 2, "not expected: --frobnicate"},
      {{"dance"}, 2, "unknown command 'dance'"},
      {{"--config", Empty(dir), "--device", "Nope"}, 2, "no device named 'Nope'"},
      {{"info", "--config", dir / "bad.ini"}, 2, "line 2"},
      {{"info", "--config", dir.path().string()}, 2, "is a directory"},
      {{"info", "--config", "/dev/zero"}, 2, "is not a regular file"},
      {{"idn", "--sum", "2,3"}, 2, "not expected: --sum 2,3"},
      {{"trace", "--csv", "-", "--json"}, 2, "choose one"},
      {{"measure", "--channel", "12"}, 2, "--channel takes"},
      {{"measure", "--count", "0"}, 2, "--count takes 1 to 1000000"},
      {{"measure", "--count", "2.5"}, 2, "--count takes 1 to 1000000"},
      {{"trace", "--interval", "-1"}, 2, "--interval takes 0 to 86400"},
      {{"idn", "--count", "2"}, 2, "not expected: --count 2"},
      {{"measure", "--channel", "1.5"}, 2, "--channel takes"},
      {{"config", "--frequency", "abc"}, 2, "--frequency takes a number"},
      {{"config", "--frequency", "-5"}, 2, "--frequency -5 is outside the unit's 10 MHz to 18 GHz"},
      {{"config", "--frequency=18.1e9"}, 2, "outside the unit's 10 MHz to 18 GHz"},
      {{"burst-search", "--threshold", "80"}, 2, "--threshold takes -10 to 70"},
      {{"burst-search", "--meas-time", "1"}, 2, "takes 1000001 samples; the unit records at most 200000"},
      {{"trace", "--meas-time", "0.01", "--sample-rate", "84000001"}, 2, "not a rate the sampler makes"},
      {{"attenuation", "--from", "DUT1", "--to", "Rx", "--att", "25", "--frequency", "1e9"}, 2, "steps (20 or 30)"},
      {{"attenuation", "--from", "DUT1", "--to", "Rx", "--rx18", "--sum", "--frequency", "1e9"}, 2, "not several"},
      {{"measure", "--channel", "-1"}, 2, "no sum is set"},
      {{"trace", "--csv", "x", "--dump"}, 2, "not expected: --dump"},
      {{"--address", "GPIB0::5::INSTR", "idn"}, 2, "GPIB0 resources are not supported; supported: TCPIP"},
      {{"--address", "foo", "idn"}, 2, "not a VISA resource"},
      {{"--address", "TCPIP::192.0.2.1::inst1::INSTR", "idn"}, 2, "serves the device inst0"},
      {{"config", "--meas-time", "0"}, 2, "--meas-time takes seconds"},
      {{"config", "--sample-rate", "1.5"}, 2, "--sample-rate takes whole samples"},
      {{"config", "--sample-rate", "3e9"}, 2, "--sample-rate takes whole samples"},
      {{"config", "--sum", "2,x"}, 2, "--sum takes channels"},
      {{"config", "--sum", "0"}, 2, "--sum takes channels"},
      {{"config", "--sum", "2,2"}, 2, "--sum names channel 2 twice"},
      {{"burst-search", "--channel", "3", "--sum", "2,3"}, 2, "--channel 3 and --sum 2,3 both say what to measure"},
      {{"measure", "--channel", "4", "--sum", "2,3"}, 2, "--channel 4 and --sum 2,3 both say what to measure"},
      {{"trace", "--csv", "/nonexistent/x.csv"}, 2, "--csv /nonexistent/x.csv: there is no folder /nonexistent"},
      {{"burst-search", "--csv", "/tmp"}, 2, "--csv /tmp is a folder, not a file"},
      {{"config", "--attenuation", "1e999"}, 2, "--attenuation takes a number"},
      {{"path"}, 2, "PATH is required"},
      {{"attenuation", "--from", "DUT1", "--to", "Rx"}, 2, "attenuation needs --frequency"},
      {{"attenuation", "--from", "DUT9", "--to", "Rx", "--frequency", "1e9"}, 2, "--from takes a port"},
      {{"measure", "--rx18"}, 2, "--rx18"},
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

// --- the commands that talk to a unit, against the scripted double ----------

#include "testsupport/ScriptedVisa.h"

namespace {

struct CliOnDouble {
  TempDir dir;
  std::shared_ptr<visa::ScriptedVisa> visa = visa::ScriptedVisa::Create();
  visa::VisaRegistration registration = visa->Install("SCRIPTED::");

  CliOnDouble() { TempDir::Write(dir / "q.ini", "[Host]\nDataFolder = " + (dir / "data") + "\n[Bench]\n"); }
  // A command that resets the unit; one that does not only identifies it.
  void ExpectConnect(bool resets = true) {
    if (resets) {
      visa->Expect("*CLS;*RST;*OPC");
      visa->Expect("*ESR?", {"1\n"}).Expect(":SYSTEM:ERR:ALL?", {"0,\"No error\"\n"});
    }
    visa->Expect("*IDN?\n", {"Tavlor,Zentrix8,SN0815,3.1.4\n"});
  }
  void ExpectCompletion() { visa->Expect("*ESR?", {"1\n"}).Expect(":SYSTEM:ERR:ALL?", {"0,\"No error\"\n"}); }
  // The settings a measuring command sends, then its look at the unit's error queue.
  void ExpectSettings(std::initializer_list<std::string> writes, const char* errors = "0,\"No error\"\n") {
    for (const std::string& w : writes) visa->Expect(w);
    visa->Expect(":SYSTEM:ERR:ALL?", {errors});
  }
  CliResult Run(std::vector<std::string> args) {
    std::vector<std::string> all = {"--config", dir / "q.ini", "--address", "SCRIPTED::bench"};
    all.insert(all.end(), args.begin(), args.end());
    return RunCli(all);
  }
};

// scpi sends what was typed without resetting the unit, prints a query's
// answer (escaped: an answer cannot forge a line), and reads the queue.
TEST(QuorvelUnitCommands, ScpiSendsAsTypedPrintsTheAnswerAndChecksTheQueue) {
  const struct {
    const char* text;
    const char* answer;  // nullptr: a command, no read
    const char* queue;
    int status;
    const char* out;  // after the simulator line
    const char* err;
  } cases[] = {
      {":SENS2:FREQ?", "2400000000\n", "0,\"No error\"\n", 0, "2400000000\n", ""},
      {"*idn?", "Tavlor,Zentrix8\nSerial  FORGED\x1b[2J,1\n", "0,\"No error\"\n", 0,
       "Tavlor,Zentrix8\\nSerial  FORGED\\x1b[2J,1\n", ""},
      {":SENS2:FREQ 1e15", nullptr, "-222,\"Data out of range\"\n", 4, "",
       "quorvel: the unit refused :SENS2:FREQ 1e15: -222,'Data out of range'\n"},
      {":SENS2:FREQ 2e9", nullptr, "0,\"No error\"\n", 0, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    CliOnDouble fx;
    fx.ExpectConnect(false);
    if (c.answer)
      fx.visa->Expect(c.text, {c.answer});
    else
      fx.visa->Expect(c.text);
    fx.visa->Expect(":SYSTEM:ERR:ALL?", {c.queue});
    const CliResult r = fx.Run({"scpi", c.text});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, c.out);
    if (*c.err) {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_EQ(fx.visa->Problems(), "");
  }
  CliOnDouble fx;  // one line only, checked before the unit is touched
  EXPECT_EQ(fx.Run({"scpi", "*RST\n*IDN?"}).status, 2);
  EXPECT_EQ(fx.Run({"scpi"}).status, 2);
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(QuorvelUnitCommands, IdnShowsSerialAndFirmwareWithoutResettingTheUnit) {
  CliOnDouble fx;
  fx.ExpectConnect(false);
  const CliResult r = fx.Run({"idn"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Serial       SN0815\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Firmware     3.1.4\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Address      SCRIPTED::bench\n"), std::string::npos) << r.out;
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_FALSE(fx.visa->IsOpen());  // closed when the tool is done

  // An identity holding a line feed and escape sequences cannot forge a line.
  CliOnDouble forged;
  forged.visa->Expect("*IDN?\n", {"Tavlor,Zentrix8,SN1\nSerial       FORGED\x1b[1A,3.1.4\n"});
  const CliResult f = forged.Run({"idn"});
  ASSERT_EQ(f.status, 0) << f.err;
  EXPECT_NE(f.out.find("Serial       SN1\\nSerial       FORGED\\x1b[1A\n"), std::string::npos) << f.out;
  EXPECT_EQ(f.out.find("\nSerial       FORGED"), std::string::npos) << f.out;
}

TEST(QuorvelUnitCommands, MeasureShowsRmsAndTraceExtremesOrAnUncleanErrorStatus) {
  for (const char* maxAnswer : {"-3.25\n", "OVERFLOW\n"}) {
    CliOnDouble fx;
    fx.ExpectConnect();
    fx.ExpectSettings({":SENS6:SAMP:COUNT 1001"});  // 1 ms at 1 MHz, as the defaults say
    fx.visa->Expect("*CLS;:INIT:IMM;*OPC");
    fx.ExpectCompletion();
    fx.visa->Expect("*CLS;:SENS6:RMS:INIT;*OPC");
    fx.ExpectCompletion();
    fx.visa->Expect(":SENS6:RMS?", {"-10.5\n"});
    fx.visa->Expect(":SENS6:TRAC:MAX?", {maxAnswer}).Expect(":SENS6:TRAC:MIN?", {"-40\n"});
    const CliResult r = fx.Run({"measure", "--channel", "10"});
    EXPECT_EQ(fx.visa->Problems(), "");
    if (maxAnswer[0] == 'O') {
      EXPECT_EQ(r.status, 4);
      EXPECT_NE(r.err.find("error status is 1 (Overflow)"), std::string::npos) << r.err;
      continue;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("RMS          -10.50 dBm"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Trace max    -3.25 dBm"), std::string::npos);
    EXPECT_NE(r.out.find("Trace min    -40.00 dBm"), std::string::npos);
  }
}

// --count repeats a measurement, each row with its time; a measurement that
// fails ends the run with its status, and the rows before it stand.
TEST(QuorvelUnitCommands, RepeatedMeasurementsKeepTheRowsBeforeAFailure) {
  CliOnDouble fx;
  fx.ExpectConnect();
  fx.ExpectSettings({":SENS6:SAMP:COUNT 1001"});
  for (const char* maxAnswer : {"-3.25\n", "OVERFLOW\n"}) {
    fx.visa->Expect("*CLS;:INIT:IMM;*OPC");
    fx.ExpectCompletion();
    fx.visa->Expect("*CLS;:SENS6:RMS:INIT;*OPC");
    fx.ExpectCompletion();
    fx.visa->Expect(":SENS6:RMS?", {"-10.5\n"});
    fx.visa->Expect(":SENS6:TRAC:MAX?", {maxAnswer}).Expect(":SENS6:TRAC:MIN?", {"-40\n"});
  }
  const CliResult r = fx.Run({"measure", "--channel", "10", "--count", "5", "--csv", fx.dir / "m.csv", "--json"});
  EXPECT_EQ(fx.visa->Problems(), "");  // the third measurement was never started
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("error status is 1 (Overflow)"), std::string::npos) << r.err;
  ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  const auto first = nlohmann::json::parse(r.out);
  EXPECT_EQ(first["rms"], -10.5);
  const std::string time = first["time"];
  EXPECT_EQ(time.size(), 24u) << time;  // 2026-12-07T04:17:40.506Z
  EXPECT_EQ(time.back(), 'Z');
  EXPECT_EQ(TempDir::Read(fx.dir / "m.csv"), "time,channel,rms_dBm,trace_max_dBm,trace_min_dBm\n" + time + ",10,-10.5,-3.25,-40\n");
}

// --interval counts from the first start, and every row says when it began.
TEST(QuorvelMainJob, CountAndIntervalStampEveryRow) {
  TempDir dir;
  for (const char* command : {"measure", "burst-search", "trace"}) {
    SCOPED_TRACE(command);
    const CliResult r = RunCli({command, "--config", Empty(dir), "--meas-time", "0.001", "--count", "3", "--interval",
                                "0.15", "--csv", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream rows(r.out);
    std::string line;
    std::getline(rows, line);
    EXPECT_EQ(line.rfind("time,", 0), 0u) << line;
    std::vector<std::string> times;
    while (std::getline(rows, line)) {
      const std::string time = line.substr(0, line.find(','));
      if (times.empty() || times.back() != time) times.push_back(time);
    }
    ASSERT_EQ(times.size(), 3u) << r.out.substr(0, 300);
    // hh:mm:ss.mmm of the first and last start: at least two intervals apart
    const auto seconds = [](const std::string& t) {
      return std::stod(t.substr(11, 2)) * 3600 + std::stod(t.substr(14, 2)) * 60 + std::stod(t.substr(17, 6));
    };
    const double spread = std::fmod(seconds(times[2]) - seconds(times[0]) + 86400, 86400);
    EXPECT_GE(spread, 0.299) << times[0] << " " << times[2];
  }
}

TEST(QuorvelUnitCommands, ErrorsReadTheQueueAsTheUnitHoldsItAndResetResets) {
  CliOnDouble fx;
  fx.ExpectConnect(false);  // no *CLS: an earlier error is still there to be seen
  fx.visa->Expect(":SYSTEM:ERR:ALL?", {"-113,\"Undefined header\"\n"});
  CliResult r = fx.Run({"errors"});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.out.find("Error status 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Unit errors  -113,'Undefined header'"), std::string::npos) << r.out;
  EXPECT_EQ(fx.visa->Problems(), "");

  fx.ExpectConnect();
  fx.visa->Expect(":ABORT").Expect("*CLS;*RST;*OPC");
  r = fx.Run({"reset"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Reset        done"), std::string::npos);
  EXPECT_EQ(fx.visa->Problems(), "");
}

// An answer to *IDN? that is not a whole identity is shown as it came, with what was missing.
TEST(QuorvelUnitCommands, AnIdentityOfTooFewFieldsIsShownAsItCame) {
  const struct {
    const char* answer;
    int asked;  // one field: the driver reconnects and asks again
    const char* says;
  } cases[] = {
      {"Tavlor,Zentrix8,SN1\n", 1,
       "error 9: the answer to *IDN? has too few fields for maker,model,serial,firmware: 'Tavlor,Zentrix8,SN1\\n'"},
      {"hello\n", 2, "error 4011: the answer to *IDN? is not an identity (maker,model,serial,firmware): 'hello\\n'"},
  };
  for (const auto& c : cases) {
    CliOnDouble fx;
    for (int i = 0; i < c.asked; ++i) fx.visa->Expect("*IDN?\n", {c.answer});
    const CliResult r = fx.Run({"idn"});
    EXPECT_EQ(r.status, 3) << c.answer;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST(QuorvelUnitCommands, NoUnitMeansPlainWordsNotZeros) {
  CliOnDouble fx;
  // Port 1 of loopback: nobody listens, and the tool says what the transport saw.
  for (const char* command : {"idn", "measure", "errors", "reset"}) {
    const CliResult r = RunCli({"--config", fx.dir / "q.ini", "--address", "TCPIP::127.0.0.1::1::SOCKET", command});
    EXPECT_EQ(r.status, 3) << command;
    EXPECT_NE(r.err.find("no unit answered at TCPIP::127.0.0.1::1::SOCKET: VISA Open: connection refused"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("dBm"), std::string::npos) << command;
  }
}

}  // namespace

namespace {

TEST(QuorvelUnitCommands, CtrlCBecomesTheHostsStopRequestAndTheWaitGivesUp) {
  CliOnDouble fx;
  fx.ExpectConnect();
  fx.ExpectSettings({":SENS1:SAMP:COUNT 1001"});
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC");
  fx.visa->Expect("*ESR?", {"0\n"}).Then([] { std::raise(SIGINT); });
  const CliResult r = fx.Run({"measure"});
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.out, "");  // no values after a stop
  EXPECT_NE(r.err.find("stopped by the user"), std::string::npos) << r.err;
  EXPECT_EQ(fx.visa->Problems(), "");  // nothing more was sent after the stop
  EXPECT_EQ(std::signal(SIGINT, SIG_DFL), SIG_DFL);  // the tool's handler is gone again
}

}  // namespace

namespace {

TEST(QuorvelSettings, ConfigShowsWhatTheOptionsStored) {
  TempDir dir;
  const CliResult r = RunCli({"config", "--config", Empty(dir), "--sum", "2,3", "--channel", "2", "--frequency",
                              "2.4e9", "--meas-time", "0.01"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("DUT2   2400000000   0.01       1000000    250MHz 250     0       10001"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("DUT3   2400000000   0.01"), std::string::npos);
  EXPECT_NE(r.out.find("DUT4   10000000     0.001"), std::string::npos);
  EXPECT_NE(r.out.find("Sum          2,3\n"), std::string::npos);
  EXPECT_NE(r.out.find("Active       2,3\n"), std::string::npos);
}

TEST(QuorvelSettings, ConfigAsJson) {
  TempDir dir;
  // A command's options may also stand before the command.
  const CliResult before = RunCli({"--sample-rate=84000000", "--sum", "2,3", "config", "--json", "--config", Empty(dir)});
  EXPECT_EQ(before.status, 0) << before.err;
  EXPECT_NE(before.out.find("\"sum\":[2,3]"), std::string::npos) << before.out;
  const CliResult r = RunCli({"config", "--json", "--config", Empty(dir), "--sample-rate", "84000000"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.front(), '{');
  EXPECT_EQ(r.out.substr(r.out.size() - 2), "}\n");
  EXPECT_NE(r.out.find("\"sampleRate\":84000000,\"clockMode\":1,\"dividerFast\":3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"attenuators\":[31.75,31.75,31.75,31.75,31.75,31.75,31.75,31.75,31.75,31.75]"),
            std::string::npos);
  EXPECT_NE(r.out.find("\"triggerOutWithIn\":false"), std::string::npos);
}

TEST(QuorvelSettings, SendAllPushesTheStoredConfiguration) {
  CliOnDouble fx;
  fx.ExpectConnect();
  // The sum and the frequency go out when given, then the whole configuration.
  for (int s = 1; s <= 8; ++s)
    fx.visa->Expect(":SENS" + std::to_string(s) + ":MEAS " + (s == 4 || s == 5 ? "SUM" : "OFF"));
  fx.visa->Expect(":SENS4:FREQ 900000000").Expect(":SENS5:FREQ 900000000");
  fx.visa->AcceptFurtherWrites();
  fx.visa->AnswerFurther(":SYSTEM:ERR:ALL?", "0,\"No error\"\n");
  const CliResult r = fx.Run({"send-all", "--sum", "4,5", "--channel", "4", "--frequency", "9e8"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Settings     sent"), std::string::npos);
  EXPECT_EQ(fx.visa->Problems(), "");
  const auto& w = fx.visa->Writes();
  EXPECT_EQ(std::count(w.begin(), w.end(), ":SENS4:FREQ 900000000"), 1 + 2);  // given, then once per sum member
  EXPECT_EQ(std::count(w.begin(), w.end(), ":SUMP:BURS:SEAR 30"), 1);
  EXPECT_EQ(w[w.size() - 2], ":CONF:TRIG:OUTP 0");
  EXPECT_EQ(w.back(), ":SYSTEM:ERR:ALL?");  // the unit's verdict on what was sent
}

TEST(QuorvelSettings, MeasureAppliesItsSettingsFirst) {
  CliOnDouble fx;
  fx.ExpectConnect();
  fx.ExpectSettings({":SENS3:FREQ 2400000000", ":SENS3:SAMP:COUNT 10001"});
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC");
  fx.ExpectCompletion();
  fx.visa->Expect("*CLS;:SENS3:RMS:INIT;*OPC");
  fx.ExpectCompletion();
  fx.visa->Expect(":SENS3:RMS?", {"-1\n"}).Expect(":SENS3:TRAC:MAX?", {"0\n"}).Expect(":SENS3:TRAC:MIN?", {"-2\n"});
  const CliResult r = fx.Run({"measure", "--channel", "3", "--frequency", "2.4e9", "--meas-time", "0.01"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fx.visa->Problems(), "");
}

// A setting the unit refused stops the command before it measures: no values, status 4, the unit's words.
TEST(QuorvelSettings, ASettingTheUnitRefusedEndsTheCommandBeforeItMeasures) {
  CliOnDouble fx;
  fx.ExpectConnect();
  fx.ExpectSettings({":SENS3:FREQ 2400000000", ":SENS3:SAMP:COUNT 1001"}, "-222,\"Data out of range\"\n");
  const CliResult r = fx.Run({"measure", "--channel", "3", "--frequency", "2.4e9"});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("the unit refused: -222,'Data out of range'"), std::string::npos) << r.err;
  EXPECT_EQ(fx.visa->Problems(), "");
}

}  // namespace

namespace {

TEST(QuorvelPaths, ListSwitchAndRefuseUnknownPaths) {
  CliOnDouble fx;
  CliResult r = RunCli({"paths"});
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("12  ptDUT5RxSum           Path DUT5 to Receiver (Sum)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("45  ptCompExtensionDUT4   Path Companion to DUT4\n"), std::string::npos);

  EXPECT_NE(r.out.find("Paths count from 0"), std::string::npos);
  for (const char* name : {"ptDUT5RxSum", "12", "PTdut5rxsum", "DUT5RxSum"}) {
    fx.ExpectConnect();
    fx.ExpectSettings({":CONF:PORT5:MODE SUM"});
    r = fx.Run({"path", name});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Switched     12 ptDUT5RxSum: Path DUT5 to Receiver (Sum)"), std::string::npos) << r.out;
  }
  EXPECT_EQ(fx.visa->Problems(), "");
  for (const char* bad : {"46", "ptNowhere", "-1"}) {
    r = fx.Run({"path", bad});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("no path '"), std::string::npos) << r.err;
  }
}

TEST(QuorvelPaths, AMissingPathIsNamedBeforeTheUnitIsAsked) {
  CliOnDouble fx;
  CliResult r = fx.Run({"attenuation", "--from", "DUT1", "--to", "ANT", "--frequency", "1e9"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("the unit has no path from DUT1 to ANT"), std::string::npos) << r.err;
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(QuorvelPaths, SaveTableWritesACsvAndLeavesAnExistingOneAlone) {
  CliOnDouble fx;
  ::umask(022);
  fx.ExpectConnect();
  fx.visa->Expect(":CAL:PATH2:PORT1:ROW2?", {""});  // no answer: the not-delivered row
  CliResult r = fx.Run({"save-table", "--from", "DUT1", "--to", "Rx", "--att", "10"});
  const std::string file = fx.dir / "data/Setups/Zentrix8/Zentrix DUT1 to Rx 10dB.csv";
  EXPECT_EQ(r.status, 4) << r.err;  // the empty answer left the overflow bit
  EXPECT_EQ(r.out, "");             // ... and a command with unit errors prints no result
  const std::string csv = TempDir::Read(file);
  EXPECT_EQ(csv.rfind("Frequency (Hz),Attenuation (dB)\n10000000,-137\n", 0), 0u);
  struct stat st{};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // the user's umask, not 0600

  fx.ExpectConnect();
  fx.visa->Expect(":CAL:PATH2:PORT1:ROW2?", {""});
  r = fx.Run({"save-table", "--from", "DUT1", "--to", "Rx", "--att", "10"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(file + " exists already; it was left as it was"), std::string::npos) << r.err;
  EXPECT_EQ(TempDir::Read(file), csv);
  EXPECT_EQ(fx.visa->Problems(), "");
}

// --folder is where the user is (relative to the current folder), and
// --device finds its section whatever the case it is typed in.
TEST(QuorvelPaths, SaveTableFolderIsRelativeToTheCurrentFolderAndDevicesMatchWithoutCase) {
  CliOnDouble fx;
  std::filesystem::create_directories(fx.dir / "here/tables");
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(fx.dir / "here");
  fx.ExpectConnect();
  fx.visa->Expect(":CAL:PATH2:PORT1:ROW2?", {""});  // the not-delivered row: status 4, the file still written
  const CliResult r = fx.Run({"--device", "bENCH", "save-table", "--from", "DUT1", "--to", "Rx", "--att", "10",
                              "--folder", "../here/tables"});
  std::filesystem::current_path(before);
  EXPECT_EQ(r.status, 4) << r.err;
  const std::string file = fx.dir / "here/tables/Zentrix DUT1 to Rx 10dB.csv";
  EXPECT_EQ(TempDir::Read(file).rfind("Frequency (Hz),Attenuation (dB)\n10000000,-137\n", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(fx.dir / "data/here"));
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(QuorvelFirmware, UploadsWaitsForTheUnitAndShowsTheNewVersion) {
  CliOnDouble fx;
  std::string firmware = "SYSTEM:FWUPDATE #539977";
  firmware.resize(40000, 'x');
  TempDir::Write(fx.dir / "unit.fw", firmware);
  // The unit's queue right after the upload, and who answers after the restart.
  const struct {
    const char* queue;     // nullptr: no answer (restarting)
    const char* identity;  // nullptr: not reconnected
    int status;
    const char* says;
  } cases[] = {
      {"0,\"No error\"\n", "Tavlor,Zentrix8,SN0815,3.1.5\n", 0, "Firmware     now 3.1.5\n"},
      {nullptr, "Tavlor,Zentrix8,SN0815,3.1.5\n", 0, "Firmware     now 3.1.5\n"},
      {"-161,\"Invalid block data\"\n", nullptr, 4, "the unit refused the firmware: -161,'Invalid block data'; it keeps 3.1.4"},
      {"0,\"No error\"\n", "Tavlor,Zentrix8,SN9999,3.1.5\n", 1, "a different unit answered after the restart: serial SN9999"},
      {"0,\"No error\"\n", "Tavlor,Zentrix8,SN0815,3.1.4\n", 4, "restarted with firmware 3.1.4, the version it had"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    fx.ExpectConnect();
    fx.visa->ExpectBlock(16384).ExpectBlock(16384).ExpectBlock(7232);
    if (c.queue) {
      fx.visa->Expect(":SYSTEM:ERR:ALL?", {c.queue});
    } else {
      fx.visa->Expect(":SYSTEM:ERR:ALL?");
      fx.visa->FailReadAt(4);  // after the connect's three reads: the unit is restarting
    }
    if (c.identity) {
      fx.visa->Expect("*CLS;*RST;*OPC");  // back after the restart
      fx.visa->Expect("*ESR?", {"1\n"}).Expect(":SYSTEM:ERR:ALL?", {"0,\"No error\"\n"});
      fx.visa->Expect("*IDN?\n", {c.identity});
    }
    const CliResult r = fx.Run({"firmware", fx.dir / "unit.fw", "--wait", "10"});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.out.find("Firmware     uploaded (40000 bytes); was 3.1.4\n"), std::string::npos) << r.out;
    EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.says), std::string::npos) << r.out << r.err;
    if (c.status != 0) {
      EXPECT_EQ(r.out.find("Firmware     now"), std::string::npos) << r.out;
    }
    EXPECT_EQ(r.err.find("[####"), std::string::npos);  // no progress bar off a terminal
    EXPECT_EQ(fx.visa->Problems(), "");
  }
  CliResult r;

  // A header that promises more than the file holds is not sent (--force sends it).
  TempDir::Write(fx.dir / "short.fw", "SYSTEM:FWUPDATE #15abc");
  r = fx.Run({"firmware", fx.dir / "short.fw"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("promises 5 bytes of firmware but the file holds 3"), std::string::npos) << r.err;
  EXPECT_EQ(fx.visa->Problems(), "");

  TempDir::Write(fx.dir / "bad.fw", "not firmware at all, not at all, no");
  fx.ExpectConnect();
  r = fx.Run({"firmware", fx.dir / "bad.fw"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("is not a firmware file"), std::string::npos) << r.err;

  // Paths that are not firmware files are named for what they are; the unit is not touched.
  for (const auto& [path, says] : {std::pair{fx.dir / "missing.fw", "file not found"},
                                   std::pair{fx.dir.path().string(), "is a directory"},
                                   std::pair{std::string("/dev/zero"), "is not a regular file"}}) {
    r = fx.Run({"firmware", path});
    EXPECT_EQ(r.status, 2) << path;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
  }
  EXPECT_EQ(fx.visa->Blocks().size(), 15u);
}

}  // namespace

namespace {

// The main job on the embedded simulator, as the README's first command runs it.
TEST(QuorvelMainJob, RunsABurstSearchAndAMeasurementOnTheEmbeddedSimulator) {
  TempDir dir;
  const CliResult r = RunCli({"--config", Empty(dir)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("the embedded Zentrix8 simulator answers (SIM::Zentrix8::INSTR)"), std::string::npos);
  EXPECT_NE(r.out.find("Unit Zentrix8 at SIM::Zentrix8::INSTR: serial Z8-000123"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Burst search on the sum of DUT2 + DUT3\n"), std::string::npos);
  EXPECT_NE(r.out.find("  Bursts         5\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Burst no.:\tStart\tOn-time\tRMS level\n \t[ms]\t[ms]\t[dBm]\n00001:\t0.5000\t2.0000\t"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '>'), 1);  // one strongest burst
  EXPECT_NE(r.out.find("Power measurement on DUT1\n  RMS            -"), std::string::npos);
}

TEST(QuorvelMainJob, PanelDumpShowsTheServiceFormsPages) {
  TempDir dir;
  CliResult r = RunCli({"panel", "--dump", "--config", Empty(dir)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("pages handed to the host: \"Power Measurement\" \"Burstsearch\" \"Firmware Update\""),
            std::string::npos) << r.out;
  for (const char* line : {"fraTest (frame)\n", "    cboPort2 (combo box)\n      * Generator\n",
                           "  cb_Burstsearch_start (button) \"Start\" disabled\n", "  lblSimulation(0) (label) \"Simulation!\" hidden\n",
                           "    - GetCalMaxVideoLevel\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line;
  r = RunCli({"panel", "--config", Empty(dir)});
  EXPECT_EQ(r.status, 2);
}

TEST(QuorvelMainJob, BurstSearchAndTraceSaveCsvAndJson) {
  TempDir dir;
  CliResult r = RunCli({"burst-search", "--config", Empty(dir), "--channel", "4", "--json", "--csv",
                        dir / "bursts.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"simulator\":true,\"channel\":4,\"ports\":[4],", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\"count\":5,"), std::string::npos);
  const std::string csv = TempDir::Read(dir / "bursts.csv");
  EXPECT_EQ(csv.rfind("burst,start_ms,on_time_ms,level_dBm,strongest\n1,0.5,2,", 0), 0u) << csv;
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 6);

  r = RunCli({"trace", "--config", Empty(dir), "--channel", "2", "--meas-time", "0.001", "--csv", dir / "t.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Trace of channel 2: 1001 values at 1000000 samples/s"), std::string::npos) << r.out;
  const std::string trace = TempDir::Read(dir / "t.csv");
  EXPECT_EQ(trace.rfind("index,time_s,level_dBm\n0,0,-", 0), 0u) << trace.substr(0, 80);
  EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 1002);

  // A file that cannot be written is found before the unit is touched (status 2).
  r = RunCli({"trace", "--config", Empty(dir), "--csv", (dir / "missing-folder") + "/t.csv"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("there is no folder"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Trace of channel"), std::string::npos) << r.out;
}

}  // namespace


namespace {

// Every command that prints results prints valid JSON with --json; the others refuse it.
// No simulated value passes for a unit's: the report's first line and every
// JSON result from the unit say whether the embedded simulator answered.
TEST(QuorvelConventions, ResultsSayWhetherASimulatorAnswered) {
  TempDir dir;
  CliResult r = RunCli({"measure", "--config", Empty(dir)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Simulator: the embedded Zentrix8 simulator answers (SIM::Zentrix8::INSTR), not a unit\n", 0), 0u)
      << r.out;
  for (const char* command : {"idn", "measure", "errors", "burst-search", "trace"}) {
    r = RunCli({command, "--json", "--config", Empty(dir)});
    ASSERT_TRUE(nlohmann::json::accept(r.out)) << command << ": " << r.out;
    EXPECT_EQ(nlohmann::json::parse(r.out).value("simulator", false), true) << command << ": " << r.out;
  }

  sim::Servers servers;
  sim::Servers::Config config;
  config.socketPort = 0;
  config.vxi11Port = config.portmapperPort = -1;
  std::string error;
  ASSERT_TRUE(servers.Start(config, error)) << error;
  const std::string unit = "TCPIP::127.0.0.1::" + std::to_string(servers.SocketPort()) + "::SOCKET";
  r = RunCli({"idn", "--json", "--config", Empty(dir), "--address", unit});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out).value("simulator", true), false) << r.out;
  r = RunCli({"measure", "--config", Empty(dir), "--address", unit});
  EXPECT_EQ(r.out.find("Simulator:"), std::string::npos) << r.out;

  // Asked to, a device without a unit is an error, not the simulator.
  r = RunCli({"--no-sim", "idn", "--config", Empty(dir)});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("no unit configured for Zentrix8"), std::string::npos) << r.err;
  ::setenv("QUORVEL_NO_SIM", "1", 1);
  r = RunCli({"measure", "--config", Empty(dir)});
  ::unsetenv("QUORVEL_NO_SIM");
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(r.out.empty()) << r.out;

  // A configuration named by $QUORVEL_CONFIG must be there, as one named by --config.
  ::setenv("QUORVEL_CONFIG", (dir / "missing.ini").c_str(), 1);
  r = RunCli({"idn"});
  ::unsetenv("QUORVEL_CONFIG");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("missing.ini (named by $QUORVEL_CONFIG) does not exist"), std::string::npos) << r.err;
}

TEST(QuorvelConventions, JsonFromEveryCommandThatPrintsResults) {
  TempDir dir;
  const std::vector<std::vector<std::string>> commands = {
      {"run"},  {"burst-search", "--channel", "2"}, {"trace", "--meas-time", "0.0001"}, {"measure"}, {"idn"},
      {"errors"}, {"info"}, {"config"}, {"paths"},
      {"attenuation", "--from", "DUT1", "--to", "Rx", "--frequency", "1e9"}};
  for (auto args : commands) {
    args.insert(args.end(), {"--json", "--config", Empty(dir)});
    const CliResult r = RunCli(args);
    EXPECT_EQ(r.status, 0) << args.front() << ": " << r.err;
    EXPECT_TRUE(nlohmann::json::accept(r.out)) << args.front() << ": " << r.out;
  }
  for (const char* command : {"reset", "send-all", "save-table", "panel"}) {
    const CliResult r = RunCli({command, "--json", "--config", Empty(dir)});
    EXPECT_EQ(r.status, 2) << command;
    EXPECT_NE(r.err.find("--json"), std::string::npos) << r.err;
  }
}

TEST(QuorvelConventions, HelpVersionManCompletionAndTheExchangeLog) {
  TempDir dir;
  EXPECT_EQ(RunCli({"help", "trace"}).out, RunCli({"trace", "--help"}).out);
  EXPECT_NE(RunCli({"help", "trace"}).out.find("--csv FILE"), std::string::npos);
  EXPECT_EQ(RunCli({"help", "idn"}).out.find("--csv"), std::string::npos);  // only the options it takes
  EXPECT_NE(RunCli({"--help"}).out.find("burst-search"), std::string::npos);
  EXPECT_EQ(RunCli({"--version"}).out, std::string(quorvel::kVersion) + "\n");
  const std::string man = RunCli({"man"}).out, completion = RunCli({"completion"}).out;
  for (const quorvel::Command& c : quorvel::Commands()) {
    std::string roff;  // hyphens are escaped in roff
    for (char ch : c.name) roff += ch == '-' ? std::string("\\-") : std::string(1, ch);
    EXPECT_NE(man.find(".B " + roff), std::string::npos) << c.name;
    EXPECT_NE(completion.find("    " + std::string(c.name) + ") "), std::string::npos) << c.name;
  }
  EXPECT_NE(completion.find("complete -F _quorvel quorvel"), std::string::npos);
  // Every paragraph of the manual ends with a full stop.
  std::istringstream lines(man);
  std::string line, before;
  for (std::string previous; std::getline(lines, line); before = previous, previous = line)
    if (before == ".TP" && previous.rfind(".B ", 0) == 0) {
      EXPECT_EQ(line.back(), '.') << previous << "\n" << line;
    }

  const CliResult v = RunCli({"idn", "-v", "--config=" + Empty(dir)});
  ASSERT_EQ(v.status, 0) << v.err;
  EXPECT_NE(v.err.find(" s > *IDN?\\n"), std::string::npos) << v.err;
  EXPECT_NE(v.err.find(" s < Tavlor,Zentrix8"), std::string::npos) << v.err;
  EXPECT_NE(v.err.find("*CLS;*RST;*OPC   (not sent"), std::string::npos) << v.err;  // idn leaves the unit alone
}

// The completion offers what fits where the cursor is: path names after
// path, ports after --from/--to, files after --config (also --config=), and
// a value the user types is never taken for the command.
TEST(QuorvelConventions, CompletionOffersWhatFitsWhereTheCursorIs) {
  TempDir dir;
  TempDir::Write(dir / "comp.sh", RunCli({"completion"}).out);
  TempDir::Write(dir / "lab.ini", "");
  const struct {
    const char* words;  // what is typed, the last word being completed
    const char* offered;
  } cases[] = {
      {"quorvel path DUT5R", "DUT5Rx DUT5RxSum DUT5Rx18G"},
      {"quorvel path ptDUT1R", "ptDUT1Rx ptDUT1RxSum ptDUT1Rx18G"},
      {"quorvel attenuation --from V", "VGEN"},
      {"quorvel save-table --to A", "ANT"},
      {"quorvel --config la", "lab.ini"},
      {"quorvel --config = la", "lab.ini"},
      {"quorvel --device trace --j", ""},            // trace is the device's name here
      {"quorvel --device X trace --j", "--json"},
      {"quorvel measure --sum 2,3 --j", "--json"},  // --sum LIST takes a value here ...
      {"quorvel attenuation --sum --fr", "--frequency --from"},  // ... and none here
      {"quorvel measure --sum x", ""},
      {"quorvel --timeout x", ""},
      {"quorvel bur", "burst-search"},
      {"quorvel --lock id", "idn"},  // --lock's seconds may be left out ...
      {"quorvel --lock 5 id", "idn"},
      {"quorvel --lock idn --j", "--json"},  // ... and a command is not taken for them
  };
  std::string script = "source comp.sh\nt() { COMP_WORDS=($1); [[ $1 == *' ' ]] && COMP_WORDS+=('');"
                       " COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 )); COMPREPLY=(); _quorvel; echo \"${COMPREPLY[*]}\"; }\n";
  for (const auto& c : cases) script += std::string("t '") + c.words + "'\n";
  TempDir::Write(dir / "run.sh", script);
  const std::string command = "cd '" + dir.path().string() + "' && bash run.sh 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string got;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) got.append(buf, n);
  EXPECT_EQ(pclose(pipe), 0) << got;
  std::istringstream out(got);
  for (const auto& c : cases) {
    std::string line;
    std::getline(out, line);
    EXPECT_EQ(line, c.offered) << c.words;
  }
}

// --lock holds a VXI-11 unit for the whole command and gives it back on every
// way out; another station's lock is waited for, then named.
TEST(QuorvelConventions, LockHoldsTheUnitForTheCommandAndGivesItBack) {
  TempDir dir;
  auto model = sim::Zentrix8::Replace("LockedBench");
  model->SetTimeScale(0);
  sim::Servers servers;
  sim::Servers::Config config;
  config.socketPort = config.vxi11Port = 0;
  config.portmapperPort = -1;
  config.unit = "LockedBench";
  std::string error;
  ASSERT_TRUE(servers.Start(config, error)) << error;
  const std::string unit = "TCPIP::127.0.0.1," + std::to_string(servers.Vxi11Port()) + "::inst0::INSTR";
  const std::string socket = "TCPIP::127.0.0.1::" + std::to_string(servers.SocketPort()) + "::SOCKET";

  // Only a VXI-11 unit has a lock, and only a command that reaches one takes it.
  const struct {
    std::vector<std::string> args;
    const char* says;
  } refused[] = {
      {{"--lock", "idn"}, "SIM::Zentrix8::INSTR cannot be locked"},
      {{"--lock", "2", "idn", "--address", socket}, "cannot be locked"},
      {{"paths", "--lock"}, "--lock holds a unit, and paths does not reach one"},
      {{"--lock", "-1", "idn", "--address", unit}, "--lock waits 0 to 3600 seconds"},
      {{"--lock", "nan", "idn", "--address", unit}, "--lock takes a number, not 'nan'"},  // not "unknown command"
      {{"--lock", "5s", "idn", "--address", unit}, "--lock takes a number, not '5s'"},
  };
  for (const auto& c : refused) {
    std::vector<std::string> args = {"--config", Empty(dir)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliResult r = RunCli(args);
    EXPECT_EQ(r.status, 2) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("simulator answers"), std::string::npos) << "no word of a simulator it then refuses: " << r.err;
  }
  EXPECT_EQ(RunCli({"help", "paths"}).out.find("--lock"), std::string::npos) << "offered only where a unit is reached";

  // Another station holds the unit: the tool waits its seconds, then says so.
  auto other = visa::MakeVxi11Visa();
  other->SetResourceName(unit);
  other->Open();
  ASSERT_EQ(other->LockExclusive(std::chrono::milliseconds(0)), visa::kVisaSuccess);
  const auto asked = std::chrono::steady_clock::now();
  CliResult r = RunCli({"--config", Empty(dir), "--lock", "0.3", "idn", "--address", unit});
  const auto waited = std::chrono::steady_clock::now() - asked;
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_NE(r.err.find("the unit at " + unit + " stayed locked: another station holds the unit's lock and did not "
                       "release it within 0.3 s"),
            std::string::npos)
      << r.err;
  EXPECT_GE(waited, std::chrono::milliseconds(290));
  EXPECT_LT(waited, std::chrono::seconds(3));
  // --timeout bounds the wait for the lock too, and is the one verdict.
  const auto given = std::chrono::steady_clock::now();
  r = RunCli({"--config", Empty(dir), "--lock", "30", "--timeout", "0.5", "idn", "--address", unit});
  EXPECT_EQ(r.status, 124) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - given, std::chrono::seconds(3));
  EXPECT_EQ(r.err.find("stayed locked"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("gave up after 0.5 s (--timeout)"), std::string::npos) << r.err;
  ASSERT_EQ(other->Unlock(), visa::kVisaSuccess);

  // Free, it is taken for the command and given back after it, also when the
  // command ends in an error or is given up (--timeout).
  r = RunCli({"--config", Empty(dir), "--lock", "idn", "-v", "--address", unit});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("locked the unit after"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("unlocked the unit"), std::string::npos) << r.err;
  EXPECT_EQ(other->LockExclusive(std::chrono::milliseconds(0)), visa::kVisaSuccess);
  EXPECT_EQ(other->Unlock(), visa::kVisaSuccess);
  r = RunCli({"--config", Empty(dir), "--lock", "scpi", ":SENS9:FREQ 1e9", "--address", unit});
  EXPECT_EQ(r.status, 4) << r.err;  // the unit refused it
  EXPECT_EQ(other->LockExclusive(std::chrono::milliseconds(0)), visa::kVisaSuccess) << "given back after an error";
  EXPECT_EQ(other->Unlock(), visa::kVisaSuccess);
  model->SetTimeScale(100);  // a measurement that takes minutes
  r = RunCli({"--config", Empty(dir), "--lock", "measure", "--timeout", "0.5", "--address", unit});
  EXPECT_EQ(r.status, 124) << r.err;
  EXPECT_EQ(other->LockExclusive(std::chrono::milliseconds(2000)), visa::kVisaSuccess) << "given back when given up";
}

// --timeout bounds a whole command, even one whose unit never completes.
TEST(QuorvelConventions, TimeoutEndsACommandTheUnitNeverCompletes) {
  CliOnDouble fx;
  fx.ExpectConnect();
  fx.visa->AcceptFurtherWrites();
  fx.visa->AnswerFurther(":SYSTEM:ERR:ALL?", "0,\"No error\"\n");
  fx.visa->AnswerFurther("*ESR?", "0\n");  // never complete
  const auto start = std::chrono::steady_clock::now();
  const CliResult r = fx.Run({"measure", "--timeout", "0.5"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(r.status, 124);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("gave up after 0.5 s (--timeout)"), std::string::npos) << r.err;
}

}  // namespace

#include "quorvel/Session.h"

namespace {

TEST(QuorvelNumbers, AtTheUnitsResolution) {
  const struct {
    double value, expected;
  } levels[] = {{-2.3449999999999998, -2.34}, {-2.345000001, -2.35}, {-40, -40}, {999, 999}, {0.005, 0.01}};
  for (const auto& c : levels) EXPECT_EQ(quorvel::Hundredths(c.value), c.expected) << c.value;
  const struct {
    double time, rate, unit, expected;
  } times[] = {
      {2001 * 1e-6 * 1000, 1e6, 1e-3, 2.001},      // 2.0010000000000003 ms at 1 µs
      {3 * 4e-9, 250e6, 1, 1.2e-8},                // 4 ns: the 9th decimal of a second
      {0.1 + 0.2, 10, 1, 0.3},                     // 0.1 s period: one decimal
      {1.0 / 3, 3e6, 1e-3, 0.3333},                // 333 ns is 0.000333 ms: four decimals in ms
      {5, 0, 1, 5},                                // no rate: as it is
  };
  for (const auto& c : times) EXPECT_EQ(quorvel::AtSamplePeriod(c.time, c.rate, c.unit), c.expected) << c.time;
  EXPECT_EQ(quorvel::Shortest(quorvel::AtSamplePeriod(2001 * 1e-6 * 1000, 1e6, 1e-3)), "2.001");
}

// Every number in the CSV and JSON outputs has at most the digits the unit
// gives: hundredths of a dB, and a time at its sample period.
TEST(QuorvelNumbers, CsvAndJsonShowNoDigitsTheUnitNeverGave) {
  const auto decimals = [](const std::string& cell) {
    const auto point = cell.find('.');
    if (point == std::string::npos || cell.find_first_of("eE") != std::string::npos) return cell.find_first_of("eE") == std::string::npos ? 0 : 99;
    return static_cast<int>(cell.size() - point - 1);
  };
  TempDir dir;
  for (const char* rate : {"1000000", "250000000"}) {
    SCOPED_TRACE(rate);
    const int timeDecimals = std::string(rate) == "1000000" ? 3 : 6;  // in ms
    CliResult r = RunCli({"burst-search", "--config", Empty(dir), "--sample-rate", rate, "--meas-time", "0.0001",
                          "--json", "--csv", dir / "b.csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream csv(TempDir::Read(dir / "b.csv"));
    std::string line;
    std::getline(csv, line);  // the header
    int rows = 0;
    while (std::getline(csv, line)) {
      std::vector<std::string> cells;
      std::istringstream split(line);
      for (std::string cell; std::getline(split, cell, ',');) cells.push_back(cell);
      ASSERT_EQ(cells.size(), 5u) << line;
      EXPECT_LE(decimals(cells[1]), timeDecimals) << line;
      EXPECT_LE(decimals(cells[2]), timeDecimals) << line;
      EXPECT_LE(decimals(cells[3]), 2) << line;
      ++rows;
    }
    EXPECT_GT(rows, 0);
    const auto j = nlohmann::json::parse(r.out);
    for (const auto& b : j["bursts"]) {
      EXPECT_EQ(b["level"].get<double>(), quorvel::Hundredths(b["level"].get<double>()));
      EXPECT_LE(decimals(b["start"].dump()), timeDecimals + 3) << b.dump();
    }
  }
  CliResult r = RunCli({"trace", "--config", Empty(dir), "--meas-time", "0.003", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto traceJson = nlohmann::json::parse(r.out);  // kept: the loop runs over a part of it
  for (const auto& v : traceJson["values"]) EXPECT_LE(decimals(v.dump()), 2) << v.dump();
}

}  // namespace

// The unit's error status, its description and the -222 overflow report.
#include <gtest/gtest.h>

#include "Probe.h"

namespace {

using P = clsQuorvelUnitProbe;

TEST(ErrorStatus, GetWithAndWithoutClearing) {
  DriverFixture fx;
  P::Link(*fx.unit).SetErrorStatus(21);
  P::SysErrOverflow(*fx.unit) = 5;
  EXPECT_EQ(fx.unit->GetErrorStatus(), 21);
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 21);
  EXPECT_EQ(fx.unit->GetErrorStatus(true), 21);
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
  EXPECT_EQ(P::SysErrOverflow(*fx.unit), 0);
}

TEST(ErrorStatus, Descriptions) {
  const struct {
    vb::Long status;
    const char* text;
  } cases[] = {{0, ""},         {1, "Overflow"},   {17, "Out of Range,Overflow"}, {6, "Timeout,Abort"},
               {22, "Out of Range,Timeout,Abort"}, {8, ""}, {23, "Out of Range,Overflow,Timeout,Abort"}};
  DriverFixture fx;
  for (const auto& c : cases) EXPECT_EQ(fx.unit->GetErrorDescription(c.status), c.text) << c.status;
}

TEST(ErrorStatus, PortListsAndMasks) {
  EXPECT_EQ(clsQuorvelUnit::ErrorPortList(5), "1;3;");
  EXPECT_EQ(clsQuorvelUnit::ErrorPortList(0), "");
  EXPECT_EQ(clsQuorvelUnit::ErrorPortList(255), "1;2;3;4;5;6;7;8;");
  EXPECT_EQ(clsQuorvelUnit::ErrorPortList(256), "");
  EXPECT_EQ(clsQuorvelUnit::PortMaskFromText("3;1"), 5);
  EXPECT_EQ(clsQuorvelUnit::PortMaskFromText("12"), 3);
  EXPECT_EQ(clsQuorvelUnit::PortMaskFromText("9;0"), 0);
  for (vb::Long mask = 0; mask < 256; ++mask)
    EXPECT_EQ(clsQuorvelUnit::PortMaskFromText(clsQuorvelUnit::ErrorPortList(mask)), mask);
}

TEST(SystemError, DoubleQuotesBecomeSingleQuotesAndSimulationSaysZero) {
  ConnectedDriver fx;
  fx.visa->Expect(":SYSTEM:ERR:ALL?", {"-109,\"Missing parameter\"\n"});
  EXPECT_EQ(fx.unit->GetSystemError(), "-109,'Missing parameter'");
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(ConnectedDriver(false).unit->GetSystemError(), "0");
}

TEST(SystemError, TheLoggingOptionCopiesTheQueueAfterCompletionAndCorruptListsAreLogged) {
  ConnectedDriver fx;
  P::LogOption(*fx.unit) = 1;
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC");
  fx.ExpectCompletion(0, "-113,\"Undefined header\"\n");
  fx.visa->Expect(":SENS1:TRAC:DATA?", {"1,x\n"});
  fx.cmd().WriteCmd("*CLS;:INIT:IMM;*OPC");
  std::vector<double> values;
  fx.cmd().RequestCmdValueList(":SENS1:TRAC:DATA?", values, 0, 1);
  EXPECT_EQ(fx.visa->Problems(), "");
  std::vector<std::string> lines;
  for (const auto& m : fx.host->messages) lines.push_back(m.text);
  EXPECT_EQ(lines, (std::vector<std::string>{"\r\n", "Zentrix8 Cmd: ", "Zentrix8 Error: -113,'Undefined header'", "\r\n",
                                             "\r\n", "Zentrix8 Cmd: :SENS1:TRAC:DATA?",
                                             "Zentrix8 Error: Corrupt value on data array", "\r\n"}));
  EXPECT_FALSE(fx.host->messages[0].isText);
  EXPECT_TRUE(fx.host->messages[1].isText);
}

TEST(SystemError, TheOverflowOfPortsTwoAndFiveIsKeptAndReportedUntilCleared) {
  ConnectedDriver fx;
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC");
  fx.visa->Expect("*ESR?", {"16\n"});  // execution error during the measurement
  fx.visa->Expect(":SYSTEM:ERR:ALL?", {"-222,\"Data out of range in trace(s);2;5\"\n"});
  fx.visa->Expect("*ESR?", {"1\n"});
  fx.visa->Expect(":SENS2:RMS?", {"12\n"});
  fx.cmd().WriteCmd("*CLS;:INIT:IMM;*OPC");
  EXPECT_EQ(fx.cmd().RequestCmdValue(":SENS2:RMS?"), 12);
  EXPECT_EQ(fx.visa->Problems(), "");  // the completion asked the unit no second time
  EXPECT_EQ(P::SysErrOverflow(*fx.unit), 18);
  EXPECT_EQ(fx.unit->GetErrorStatus() & io::kStatusExecutionError, io::kStatusExecutionError);
  EXPECT_EQ(fx.unit->GetErrorDescription(fx.unit->GetErrorStatus()), "Out of Range");
  const std::string remembered = "-222,'Data out of range in trace(s);2;5;'";
  EXPECT_EQ(fx.unit->GetSystemError(), remembered);
  ASSERT_EQ(fx.host->messages.size(), 4u);
  EXPECT_EQ(fx.host->messages[1].text, "Zentrix8 Cmd: Func: CheckSystemErrorOverflow");
  EXPECT_EQ(fx.host->messages[2].text, "Zentrix8 Error: 'Data out of range in trace(s);2;5'");

  fx.unit->GetErrorStatus(true);
  fx.visa->Expect(":SYSTEM:ERR:ALL?", {"0,\"No error\"\n"});
  EXPECT_EQ(fx.unit->GetSystemError(), "0,'No error'");
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(SystemError, OtherUnitErrorsStayInTheQueue) {
  for (const char* answer : {"-113,\"Undefined header\"\n", "-222,\"Data out of range\"\n", "\n"}) {
    ConnectedDriver fx;
    fx.visa->Expect("*CLS;:INIT:IMM;*OPC").Expect("*ESR?", {"16\n"}).Expect(":SYSTEM:ERR:ALL?", {answer});
    fx.ExpectCompletion(0);
    fx.visa->Expect(":SENS2:RMS?", {"12\n"});
    fx.cmd().WriteCmd("*CLS;:INIT:IMM;*OPC");
    EXPECT_EQ(fx.cmd().RequestCmdValue(":SENS2:RMS?"), 12);
    EXPECT_EQ(fx.visa->Problems(), "") << answer;
    EXPECT_EQ(P::SysErrOverflow(*fx.unit), 0) << answer;
    EXPECT_TRUE(fx.host->messages.empty()) << answer;
  }
}

}  // namespace

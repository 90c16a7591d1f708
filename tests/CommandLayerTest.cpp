// The command layer against the scripted VISA double.
#include <gtest/gtest.h>

#include "Errors.h"

#include "AllocationCounter.h"
#include "Probe.h"

namespace {

using P = clsQuorvelUnitProbe;

TEST(CommandLayer, WriteSendsTheCommandOnlyWhenConnectedAndNotEmpty) {
  ConnectedDriver fx;
  fx.visa->Expect(":SENS1:FREQ 2400000000");
  fx.cmd().WriteCmd(":SENS1:FREQ 2400000000");
  fx.cmd().WriteCmd("");
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(fx.host->TraceStatuses("WriteCmd"), (std::vector<std::string>{"start", "end", "start", "end"}));

  ConnectedDriver sim(false);  // named, never connected
  sim.cmd().WriteCmd(":SENS1:FREQ 1");
  EXPECT_EQ(sim.cmd().RequestCmd(":SENS1:FREQ?"), "");
  EXPECT_TRUE(sim.visa->Writes().empty());
}

TEST(CommandLayer, AnotherInterfaceCodeIsSimulationToo) {
  ConnectedDriver fx;
  P::Link(*fx.unit).SetInterface(10);
  fx.cmd().WriteCmd("*CLS");
  EXPECT_EQ(fx.cmd().RequestCmd("*IDN?"), "");
  EXPECT_TRUE(fx.visa->Writes().empty());
}

struct ValueCase {
  const char* answer;
  double value;
  vb::Long statusBefore, statusAfter;
};

TEST(CommandLayer, NumericAnswers) {
  const ValueCase cases[] = {
      {"OVERFLOW\n", 999, 0, 1},  {"0.000\n", 0, 1, 0},  {"-3.5\n", -3.5, 1, 1}, {"-3.5\n", -3.5, 0, 0},
      {"12.5,3\n", 12.5, 0, 0},   {" 7 \n", 7, 0, 0},     {"\n", 0, 1, 0},        {"abc\n", 999, 4 & 0, 1},
  };
  for (const auto& c : cases) {
    ConnectedDriver fx;
    fx.visa->Expect(":SENS1:RMS?", {c.answer});
    P::Link(*fx.unit).SetErrorStatus(c.statusBefore);
    EXPECT_EQ(fx.cmd().RequestCmdValue(":SENS1:RMS?"), c.value) << c.answer;
    EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), c.statusAfter) << c.answer;
    EXPECT_EQ(fx.visa->Problems(), "");
  }
}

TEST(CommandLayer, FlagAnswers) {
  const struct {
    const char* answer;
    bool flag;
    vb::Long before, after;
  } cases[] = {{"1\n", true, 1, 0}, {"0\n", false, 1, 0}, {"ON\n", false, 0, 1}, {" 0\n", false, 0, 1}};
  for (const auto& c : cases) {
    ConnectedDriver fx;
    fx.visa->Expect(":CONF:TRIG:MEAS?", {c.answer});
    P::Link(*fx.unit).SetErrorStatus(c.before);
    EXPECT_EQ(fx.cmd().RequestCmdFlag(":CONF:TRIG:MEAS?"), c.flag) << c.answer;
    EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), c.after) << c.answer;
  }
}

TEST(CommandLayer, SimulationResults) {
  ConnectedDriver fx(false);
  P::Link(*fx.unit).SetErrorStatus(1);
  EXPECT_EQ(fx.cmd().RequestCmdValue(":SENS1:RMS?"), 0);
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
  P::Link(*fx.unit).SetErrorStatus(1);
  EXPECT_FALSE(fx.cmd().RequestCmdFlag(":X?"));
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
  std::vector<double> values{1, 2, 3};
  fx.cmd().RequestCmdValueList(":SENS1:TRAC:DATA?", values, 0.1, 100);
  EXPECT_EQ(values, std::vector<double>{0});
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 1);
  ASSERT_EQ(fx.host->messages.size(), 4u);
  EXPECT_EQ(fx.host->messages[1].text, "Zentrix8 Cmd: :SENS1:TRAC:DATA?");
  EXPECT_EQ(fx.host->messages[2].text, "Zentrix8 Error: Corrupt value on data array");
  EXPECT_EQ(fx.cmd().ReadAnswer(), "");
  EXPECT_EQ(fx.unit->GetSystemError(), "0");
  EXPECT_TRUE(fx.visa->Writes().empty());
}

TEST(CommandLayer, IsNumericAnswer) {
  for (const char* yes : {"", "0", "-1.5E+3", "1,2,3\r\n", "."}) EXPECT_TRUE(io::ScpiLink::IsNumericAnswer(yes)) << yes;
  for (const char* no : {"1e3", " 1", "abc", "0x1", "OVERFLOW"}) EXPECT_FALSE(io::ScpiLink::IsNumericAnswer(no)) << no;
}

TEST(TrackedCommands, ALowerCaseOpcIsTrackedAndTheNextQueryWaitsForCompletion) {
  ConnectedDriver fx;
  fx.visa->Expect("*cls;*rst;*opc");
  fx.ExpectCompletion(2);
  fx.visa->Expect(":SENS1:RMS?", {"-12.5\n"});
  fx.cmd().WriteCmd("*cls;*rst;*opc");
  EXPECT_TRUE(P::Link(*fx.unit).OpcPending());
  EXPECT_FALSE(P::Link(*fx.unit).OpcDone());
  EXPECT_EQ(fx.cmd().RequestCmdValue(":SENS1:RMS?"), -12.5);
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(fx.host->waits, (std::vector<float>{100, 100}));  // two polls without completion
  EXPECT_FALSE(P::Link(*fx.unit).OpcPending());
  EXPECT_TRUE(P::Link(*fx.unit).OpcDone());
  EXPECT_TRUE(fx.host->messages.empty());  // logging option off
}

TEST(TrackedCommands, TheLoggingOptionCopiesTheUnitsErrorsAfterCompletion) {
  ConnectedDriver fx;
  P::LogOption(*fx.unit) = 1;
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC");
  fx.ExpectCompletion(0, "-113,\"Undefined header\"\n");
  fx.visa->Expect("*CLS");
  fx.cmd().WriteCmd("*CLS;:INIT:IMM;*OPC");
  fx.cmd().WriteCmd("*CLS");
  EXPECT_EQ(fx.visa->Problems(), "");
  ASSERT_EQ(fx.host->messages.size(), 4u);
  EXPECT_FALSE(fx.host->messages[0].isText);
  EXPECT_EQ(fx.host->messages[1].text, "Zentrix8 Cmd: ");
  EXPECT_EQ(fx.host->messages[2].text, "Zentrix8 Error: -113,'Undefined header'");
  EXPECT_EQ(fx.host->messages[3].text, "\r\n");
}

TEST(TrackedCommands, AnAbortedStateDropsTrackedCommandsButNotOrdinaryOnes) {
  ConnectedDriver fx;
  P::Link(*fx.unit).SetAbort(true);
  fx.cmd().WriteCmd("*CLS;:INIT:IMM;*OPC");  // dropped, abort bit set
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus() & esABORT, esABORT);
  EXPECT_TRUE(fx.visa->Writes().empty());
  fx.visa->Expect("*CLS");
  fx.cmd().WriteCmd("*CLS");  // an ordinary command clears the abort first
  EXPECT_FALSE(P::Link(*fx.unit).AbortRequested());
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(CompletionWait, AnAbortFromTheEventPumpEndsTheWaitAndTheQueryIsNotSent) {
  ConnectedDriver fx;
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC");
  fx.visa->Expect("*ESR?", {"0\n"}).Expect("*ESR?", {"0\n"});
  fx.visa->Expect(":ABORT");  // written straight to the control by the click
  fx.cmd().WriteCmd("*CLS;:INIT:IMM;*OPC");
  fx.platform.events->PostAt(2, [&] { fx.unit->MeasurementAbort(); });
  EXPECT_EQ(fx.cmd().RequestCmd(":SENS1:RMS?"), "");
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(fx.unit->GetErrorStatus() & esABORT, esABORT);
  EXPECT_FALSE(P::Link(*fx.unit).OpcPending());
  EXPECT_EQ(fx.platform.mouse->Get(), platform::vbDefault);
}

TEST(CompletionWait, TheHostsStopRequestEndsTheWait) {
  ConnectedDriver fx;
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC").Expect("*ESR?", {"0\n"});
  fx.cmd().WriteCmd("*CLS;:INIT:IMM;*OPC");
  fx.host->stopAfterQueries = 1;  // the second look at the stop request sees it
  std::vector<double> values;
  fx.cmd().RequestCmdValueList(":SENS1:TRAC:DATA?", values, 0.1, 100);
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(fx.unit->GetErrorStatus() & (esABORT | esOVERFLOW), esABORT | esOVERFLOW);
}

TEST(CompletionWait, TheBusyPointerShowsFromTheFourthPollAndIsRestored) {
  ConnectedDriver fx;
  fx.platform.mouse->Set(platform::vbHourglass);
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC");
  fx.ExpectCompletion(5);
  fx.visa->Expect("*CLS");
  fx.cmd().WriteCmd("*CLS;:INIT:IMM;*OPC");
  std::vector<long> pointerAtPoll;
  fx.host->onWait = [&](float) { pointerAtPoll.push_back(fx.platform.mouse->Get()); };
  fx.cmd().WriteCmd("*CLS");
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(pointerAtPoll, (std::vector<long>{11, 11, 11, 11, 99}));
  EXPECT_EQ(fx.platform.mouse->Get(), platform::vbHourglass);
}

TEST(CompletionWait, AUnitThatNeverCompletesTimesOutInsteadOfHoldingTheCaller) {
  ConnectedDriver fx;
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC");
  for (long i = 0; i <= io::kMaxCompletionPolls; ++i) fx.visa->Expect("*ESR?", {"0\n"});
  fx.cmd().WriteCmd("*CLS;:INIT:IMM;*OPC");
  EXPECT_EQ(fx.cmd().RequestCmd(":SENS1:RMS?"), "");  // not sent
  EXPECT_EQ(fx.host->waits.size(), static_cast<std::size_t>(io::kMaxCompletionPolls + 1));
  EXPECT_EQ(fx.unit->GetErrorStatus() & esTIMEOUT, esTIMEOUT);
  EXPECT_FALSE(P::Link(*fx.unit).OpcPending());
  // The time-out bit blocks queries until the status is cleared; then they go out again, without waiting.
  EXPECT_EQ(fx.cmd().RequestCmd(":SENS1:RMS?"), "");
  fx.unit->GetErrorStatus(true);
  fx.visa->Expect(":SENS1:RMS?", {"-3\n"});
  EXPECT_EQ(fx.cmd().RequestCmd(":SENS1:RMS?"), "-3");
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(CompletionWait, ASessionThatBreaksWhileWaitingRaises4012InsteadOfPollingOn) {
  ConnectedDriver fx;
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC").Expect("*ESR?", {"0\n"}).Expect("*ESR?");
  fx.cmd().WriteCmd("*CLS;:INIT:IMM;*OPC");
  fx.visa->FailReadAt(2);  // the second poll's read times out
  const vb::Error e = CaughtFrom([&] { fx.cmd().RequestCmd(":SENS1:RMS?"); });
  EXPECT_EQ(e.Number(), platform::ERROR_VISA_IO);
  EXPECT_EQ(e.Description(), "RequestCmdVISA Cmd: *ESR? (scripted: read 2 fails)");
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  EXPECT_FALSE(P::Link(*fx.unit).OpcPending());
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(ValueLists, TheListOfTheExampleWithAnUnreadableField) {
  ConnectedDriver fx;
  fx.visa->Expect(":SENS1:TRAC:DATA?", {"1200,0,abc,-50\n"});
  std::vector<double> values;
  fx.cmd().RequestCmdValueList(":SENS1:TRAC:DATA?", values, 0.1, 100);
  EXPECT_EQ(values, (std::vector<double>{12, 0, 999, -0.5}));
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), esOVERFLOW);
  ASSERT_EQ(fx.host->messages.size(), 4u);
  EXPECT_EQ(fx.host->messages[1].text, "Zentrix8 Cmd: :SENS1:TRAC:DATA?");
  EXPECT_EQ(fx.host->messages[2].text, "Zentrix8 Error: Corrupt value on data array");
  EXPECT_EQ(fx.host->pauses, (std::vector<float>{120}));
}

TEST(ValueLists, AnAnswerInPiecesIsReadAsOne) {
  ConnectedDriver fx;
  fx.visa->Expect(":SENS2:BURS:ONT?", {"1,2,3", "0,4,5\n"});
  std::vector<double> values;
  fx.cmd().RequestCmdValueList(":SENS2:BURS:ONT?", values, 0.05, 1);
  EXPECT_EQ(values, (std::vector<double>{1, 2, 30, 4, 5}));
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
  EXPECT_TRUE(fx.host->messages.empty());
  EXPECT_EQ(fx.host->pauses, (std::vector<float>{70}));
}

TEST(ValueLists, LongAnswersAreReadInPiecesOfAtMost10000Bytes) {
  ConnectedDriver fx;
  std::string answer;
  for (int i = 0; i < 5000; ++i) answer += (i ? "," : "") + std::to_string(i - 2500);
  answer += "\n";
  fx.visa->Expect(":SENS1:TRAC:DATA?", {answer});
  std::vector<double> values;
  fx.cmd().RequestCmdValueList(":SENS1:TRAC:DATA?", values, 0.1, 100);
  ASSERT_EQ(values.size(), 5000u);
  EXPECT_DOUBLE_EQ(values[0], -25);
  EXPECT_DOUBLE_EQ(values[4999], 24.99);
  EXPECT_EQ(values[2500], 0);
  EXPECT_EQ(fx.visa->ReadCount(), static_cast<long>((answer.size() + 9999) / 10000));
}

TEST(ValueLists, ATraceOf200000ValuesIsConvertedWithoutAnAllocationPerValue) {
  ConnectedDriver fx;
  fx.host->traceEnabled = false;
  std::string answer;
  for (int i = 0; i < 200000; ++i) answer += (i ? "," : "") + std::to_string(-13700 + i % 5000);
  fx.visa->Expect(":SENS1:TRAC:DATA?", {answer + "\n"});
  std::vector<double> values;
  std::size_t allocations = 0;
  {
    AllocationCounter counter;
    fx.cmd().RequestCmdValueList(":SENS1:TRAC:DATA?", values, 0.1, 100);
    allocations = counter.count();
  }
  ASSERT_EQ(values.size(), 200000u);
  EXPECT_DOUBLE_EQ(values[1], -136.99);
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
  EXPECT_LT(allocations, 2000u);  // per read and per growth of the answer, not per value
}

TEST(ValueLists, AnEmptyAnswerIsCorrupt) {
  ConnectedDriver fx;
  fx.visa->Expect(":SENS1:BURS:LEV?", {""});
  std::vector<double> values;
  fx.cmd().RequestCmdValueList(":SENS1:BURS:LEV?", values, 0.1, 100);
  EXPECT_EQ(values, std::vector<double>{0});
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), esOVERFLOW);
  EXPECT_EQ(fx.host->messages.size(), 4u);
}

TEST(ValueLists, AStreamWithoutLineFeedStopsAtTheBoundAndIsCorrupt) {
  ConnectedDriver fx;
  fx.visa->Expect(":SENS1:TRAC:DATA?");
  std::string piece;
  while (piece.size() < 10000) piece += "1234,";
  piece.resize(10000);
  fx.visa->StreamWithoutLineFeed(piece);
  std::vector<double> values{5, 6};
  fx.cmd().RequestCmdValueList(":SENS1:TRAC:DATA?", values, 0.1, 100);
  EXPECT_EQ(values, std::vector<double>{0});
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), esOVERFLOW);
  EXPECT_EQ(fx.unit->clsDevice_Status(), 1);  // the session stays; nothing else is lost
  EXPECT_LE(fx.visa->ReadCount(), static_cast<long>(io::kMaxListAnswerBytes / 10000 + 1));
  ASSERT_EQ(fx.host->messages.size(), 4u);
  EXPECT_EQ(fx.host->messages[2].text, "Zentrix8 Error: Corrupt value on data array");
}

TEST(TransferFailures, AFailedWriteIsReportedOnceAndRaisedAs4012WithTheProcedureName) {
  ConnectedDriver fx;
  fx.visa->Expect(":SENS1:FREQ 1");
  fx.visa->FailWriteAt(1);
  const vb::Error e = CaughtFrom([&] { fx.cmd().WriteCmd(":SENS1:FREQ 1"); });
  EXPECT_EQ(e.Number(), 4012);
  EXPECT_EQ(e.Source(), "clsQuorvelUnit");
  EXPECT_EQ(e.Description(), "WriteCmdVISA Cmd: :SENS1:FREQ 1 (scripted: write 1 fails)");
  EXPECT_EQ(fx.host->TraceStatuses("WriteCmd"), (std::vector<std::string>{"start"}));
  ASSERT_EQ(fx.host->errors.size(), 1u);
  EXPECT_EQ(fx.host->errors[0].description, "VISA Cmd: :SENS1:FREQ 1 (scripted: write 1 fails)");
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  // The unit is gone: nothing further is sent.
  fx.cmd().WriteCmd(":SENS1:FREQ 2");
  EXPECT_EQ(fx.visa->Writes().size(), 1u);
}

TEST(TransferFailures, FailedReadsOfQueriesAndListsNameTheQuery) {
  const struct {
    const char* procedure;
    std::function<void(io::ScpiLink&)> call;
  } cases[] = {
      {"RequestCmd", [](io::ScpiLink& c) { c.RequestCmd(":SENS1:RMS?"); }},
      {"RequestCmdValueRequestCmd", [](io::ScpiLink& c) { c.RequestCmdValue(":SENS1:RMS?"); }},
      {"RequestCmdValueList",
       [](io::ScpiLink& c) {
         std::vector<double> v;
         c.RequestCmdValueList(":SENS1:RMS?", v, 0, 1);
       }},
  };
  for (const auto& c : cases) {
    ConnectedDriver fx;
    fx.visa->Expect(":SENS1:RMS?");
    fx.visa->FailReadAt(1);
    const vb::Error e = CaughtFrom([&] { c.call(fx.cmd()); });
    EXPECT_EQ(e.Number(), 4012);
    EXPECT_EQ(e.Description(), std::string(c.procedure) + "VISA Cmd: :SENS1:RMS? (scripted: read 1 fails)");
    EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  }
}

TEST(TransferFailures, ReadAnswerSwallowsAFailedRead) {
  ConnectedDriver fx;
  fx.visa->FailReadAt(1);
  EXPECT_EQ(fx.cmd().ReadAnswer(), "");
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  EXPECT_TRUE(fx.host->errors.empty());
}

}  // namespace

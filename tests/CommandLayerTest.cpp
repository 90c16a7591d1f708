// The SCPI link on its own, against the scripted VISA double: what reaches
// the unit, how answers are read, the completion wait and transfer failures.
#include <gtest/gtest.h>

#include "AllocationCounter.h"
#include "Errors.h"
#include "Probe.h"

namespace {

// What the link reported to its instrument, in order.
struct Reports : io::IUnitReports {
  std::vector<std::string> seen;
  void ExecutionError(io::ScpiLink&) override { seen.push_back("execution error"); }
  void OperationComplete(io::ScpiLink&) override { seen.push_back("complete"); }
  void CorruptList(io::ScpiLink&, const std::string& query) override { seen.push_back("corrupt " + query); }
};

// A link whose session is the scripted double, opened unless told otherwise.
struct Link {
  std::shared_ptr<visa::ScriptedVisa> visa = visa::ScriptedVisa::Create();
  std::shared_ptr<host::RecordingHost> host = host::RecordingHost::Create();
  platform::HeadlessPlatform platform;
  Reports reports;
  io::ScpiLink link{host->services(), WithVisa(), "clsQuorvelUnit"};

  explicit Link(bool open = true) {
    link.SetReports(&reports);
    link.SetResourceName("SCRIPTED::L");
    link.CreateForm();
    if (open) {
      EXPECT_TRUE(link.Open());
    }
    host->traces.clear();
  }
  platform::Services WithVisa() {
    platform::Services s = platform.services();
    s.visa = [v = visa](const std::string&) { return v; };
    return s;
  }
  void Running() {  // a tracked operation is on its way
    visa->Expect("*CLS;:INIT:IMM;*OPC");
    link.WriteCmd("*CLS;:INIT:IMM;*OPC");
  }
  void Completes(int zeros) {
    for (int i = 0; i < zeros; ++i) visa->Expect("*ESR?", {"0\n"});
    visa->Expect("*ESR?", {"1\n"});
  }
};

TEST(ScpiLink, NothingReachesTheUnitUnlessConnectedOverVisa) {
  Link fx;
  fx.visa->Expect(":SENS1:FREQ 2400000000");
  fx.link.WriteCmd(":SENS1:FREQ 2400000000");
  fx.link.WriteCmd("");  // an empty command is never sent
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(fx.host->TraceStatuses("WriteCmd"), (std::vector<std::string>{"start", "end", "start", "end"}));
  for (bool otherInterface : {false, true}) {
    Link sim(otherInterface);
    if (otherInterface) sim.link.SetInterface(10);
    sim.link.WriteCmd(":SENS1:FREQ 1");
    EXPECT_EQ(sim.link.RequestCmd(":SENS1:FREQ?"), "");
    EXPECT_EQ(sim.link.ReadAnswer(), "");
    EXPECT_TRUE(sim.visa->Writes().empty());
  }
}

TEST(ScpiLink, NumbersAndFlagsFromAnswers) {
  const struct {
    bool flag;  // RequestCmdFlag, else RequestCmdValue
    const char* answer;
    double value;
    vb::Long before, after;
  } cases[] = {
      {false, "OVERFLOW\n", 999, 0, 1}, {false, "0.000\n", 0, 1, 0}, {false, "-3.5\n", -3.5, 1, 1},
      {false, "-3.5\n", -3.5, 0, 0},    {false, "12.5,3\n", 12.5, 0, 0}, {false, " 7 \n", 7, 0, 0},
      {false, "\n", 0, 1, 0},           {true, "1\n", 1, 1, 0},         {true, "0\n", 0, 1, 0},
      {true, "ON\n", 0, 0, 1},          {true, " 0\n", 0, 0, 1},
  };
  for (const auto& c : cases) {
    Link fx;
    fx.visa->Expect(":Q?", {c.answer});
    fx.link.SetErrorStatus(c.before);
    const double got = c.flag ? (fx.link.RequestCmdFlag(":Q?") ? 1 : 0) : fx.link.RequestCmdValue(":Q?");
    EXPECT_EQ(got, c.value) << c.answer;
    EXPECT_EQ(fx.link.ErrorStatus(), c.after) << c.answer;
  }
  for (const char* yes : {"", "0", "-1.5E+3", "1,2,3\r\n", "."}) EXPECT_TRUE(io::ScpiLink::IsNumericAnswer(yes)) << yes;
  for (const char* no : {"1e3", " 1", "abc", "0x1", "OVERFLOW"}) EXPECT_FALSE(io::ScpiLink::IsNumericAnswer(no)) << no;
}

TEST(ScpiLink, SimulationGivesNeutralResults) {
  Link fx(false);
  fx.link.SetErrorStatus(1);
  EXPECT_EQ(fx.link.RequestCmdValue(":SENS1:RMS?"), 0);
  EXPECT_EQ(fx.link.ErrorStatus(), 0);
  std::vector<double> values{1, 2, 3};
  fx.link.RequestCmdValueList(":SENS1:TRAC:DATA?", values, 0.1, 100);
  EXPECT_EQ(values, std::vector<double>{0});
  EXPECT_EQ(fx.link.ErrorStatus(), 1);
  EXPECT_EQ(fx.reports.seen, std::vector<std::string>{"corrupt :SENS1:TRAC:DATA?"});
}

TEST(CompletionWait, ALowerCaseOpcIsTrackedAndTheNextQueryWaitsForCompletion) {
  Link fx;
  fx.visa->Expect("*cls;*rst;*opc");
  fx.Completes(2);
  fx.visa->Expect(":SENS1:RMS?", {"-12.5\n"});
  fx.link.WriteCmd("*cls;*rst;*opc");
  EXPECT_TRUE(fx.link.OpcPending());
  EXPECT_FALSE(fx.link.OpcDone());
  EXPECT_EQ(fx.link.RequestCmdValue(":SENS1:RMS?"), -12.5);
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(fx.host->waits, (std::vector<float>{100, 100}));  // two polls without completion
  EXPECT_TRUE(fx.link.OpcDone());
  EXPECT_EQ(fx.reports.seen, std::vector<std::string>{"complete"});
}

TEST(CompletionWait, AnExecutionErrorIsMarkedAndReported) {
  Link fx;
  fx.Running();
  fx.visa->Expect("*ESR?", {"17\n"});
  fx.visa->Expect(":SENS1:RMS?", {"1\n"});
  fx.link.RequestCmd(":SENS1:RMS?");
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(fx.link.ErrorStatus(), io::kStatusExecutionError);
  EXPECT_EQ(fx.reports.seen, (std::vector<std::string>{"execution error", "complete"}));
}

TEST(CompletionWait, AnAbortedStateDropsTrackedCommandsButNotOrdinaryOnes) {
  Link fx;
  fx.link.SetAbort(true);
  fx.link.WriteCmd("*CLS;:INIT:IMM;*OPC");  // dropped, abort bit set
  EXPECT_EQ(fx.link.ErrorStatus() & io::kStatusAbort, io::kStatusAbort);
  EXPECT_TRUE(fx.visa->Writes().empty());
  fx.visa->Expect("*CLS");
  fx.link.WriteCmd("*CLS");  // an ordinary command clears the abort first
  EXPECT_FALSE(fx.link.AbortRequested());
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(CompletionWait, AnAbortOrTheHostsStopEndsTheWaitAndTheQueryIsNotSent) {
  for (bool stop : {false, true}) {
    Link fx;
    fx.Running();
    fx.visa->Expect("*ESR?", {"0\n"}).Expect("*ESR?", {"0\n"});
    if (stop)
      fx.host->stopAfterQueries = 2;
    else
      fx.platform.events->PostAt(2, [&] { fx.link.SetAbort(true); });
    EXPECT_EQ(fx.link.RequestCmd(":SENS1:RMS?"), "") << stop;
    EXPECT_EQ(fx.visa->Problems(), "") << stop;
    EXPECT_EQ(fx.link.ErrorStatus() & io::kStatusAbort, io::kStatusAbort) << stop;
    EXPECT_FALSE(fx.link.OpcPending()) << stop;
  }
}

TEST(CompletionWait, TheBusyPointerShowsFromTheFourthPollAndIsRestored) {
  Link fx;
  fx.platform.mouse->Set(platform::vbHourglass);
  fx.Running();
  fx.Completes(5);
  fx.visa->Expect("*CLS");
  std::vector<long> pointerAtPoll;
  fx.host->onWait = [&](float) { pointerAtPoll.push_back(fx.platform.mouse->Get()); };
  fx.link.WriteCmd("*CLS");
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(pointerAtPoll, (std::vector<long>{11, 11, 11, 11, 99}));
  EXPECT_EQ(fx.platform.mouse->Get(), platform::vbHourglass);
}

// The wait for an operation the unit never reports complete lasts what the
// operation needs, the allowance and the session's time-out, in 100 ms polls.
TEST(CompletionWait, GivesUpAfterWhatTheOperationNeedsPlusTheSessionTimeout) {
  struct Case {
    double expectedS;
    long timeoutMs;
    long polls;
  };
  const Case cases[] = {
      {0, 0, 70},                             // nothing said: allowance 5 s + the session's default 2 s
      {2.5, 1000, 85},                        // a 2.5 s measurement with a 1 s time-out
      {0.001, 2000, 71},                      // a part of a poll counts as a poll
      {io::kUnknownDuration, 2000, io::kMaxCompletionPolls},  // waits for a trigger: about ten minutes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "expected " << c.expectedS << " s, time-out " << c.timeoutMs << " ms");
    Link fx;
    fx.link.SetTimeout(c.timeoutMs);
    fx.link.ExpectOperation(c.expectedS);
    fx.Running();
    EXPECT_EQ(fx.link.CompletionPollBudget(), c.polls);
    for (long i = 0; i <= c.polls; ++i) fx.visa->Expect("*ESR?", {"0\n"});
    EXPECT_EQ(fx.link.RequestCmd(":SENS1:RMS?"), "");  // not sent
    EXPECT_EQ(fx.host->waits.size(), static_cast<std::size_t>(c.polls + 1));
    EXPECT_EQ(fx.link.ErrorStatus() & io::kStatusTimeout, io::kStatusTimeout);
    EXPECT_EQ(fx.visa->Problems(), "");
    // The expectation served one operation: the next has only the allowance.
    fx.Running();
    EXPECT_EQ(fx.link.CompletionPollBudget(), (c.timeoutMs > 0 ? c.timeoutMs : 2000) / 100 + 50);
  }
}

TEST(CompletionWait, AUnitThatNeverCompletesTimesOutInsteadOfHoldingTheCaller) {
  Link fx;
  fx.Running();
  const long polls = fx.link.CompletionPollBudget();
  for (long i = 0; i <= polls; ++i) fx.visa->Expect("*ESR?", {"0\n"});
  EXPECT_EQ(fx.link.RequestCmd(":SENS1:RMS?"), "");  // not sent
  EXPECT_EQ(fx.host->waits.size(), static_cast<std::size_t>(polls + 1));
  EXPECT_EQ(fx.link.ErrorStatus() & io::kStatusTimeout, io::kStatusTimeout);
  EXPECT_FALSE(fx.link.OpcPending());
  // The time-out bit blocks queries until the status is cleared; then they go out again, without waiting.
  EXPECT_EQ(fx.link.RequestCmd(":SENS1:RMS?"), "");
  fx.link.SetErrorStatus(0);
  fx.visa->Expect(":SENS1:RMS?", {"-3\n"});
  EXPECT_EQ(fx.link.RequestCmd(":SENS1:RMS?"), "-3");
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(CompletionWait, ASessionThatBreaksWhileWaitingRaises4012InsteadOfPollingOn) {
  Link fx;
  fx.Running();
  fx.visa->Expect("*ESR?", {"0\n"}).Expect("*ESR?");
  fx.visa->FailReadAt(2);  // the second poll's read times out
  const vb::Error e = CaughtFrom([&] { fx.link.RequestCmd(":SENS1:RMS?"); });
  EXPECT_EQ(e.Number(), visa::ERROR_VISA_IO);
  EXPECT_EQ(e.Description(), "RequestCmdVISA Cmd: *ESR? (scripted: read 2 fails)");
  EXPECT_EQ(fx.link.Status(), 0);
  EXPECT_FALSE(fx.link.OpcPending());
}

TEST(ValueLists, PiecesJoinUnreadableFieldsGive999AndEmptyIsCorrupt) {
  const struct {
    std::vector<std::string> pieces;
    double wait, divisor;
    std::vector<double> values;
    bool corrupt;
    float pause;
  } cases[] = {
      {{"1200,0,abc,-50\n"}, 0.1, 100, {12, 0, 999, -0.5}, true, 120},
      {{"1,2,3", "0,4,5\n"}, 0.05, 1, {1, 2, 30, 4, 5}, false, 70},
      {{""}, 0.1, 100, {0}, true, 120},
  };
  for (const auto& c : cases) {
    Link fx;
    fx.visa->Expect(":L?", c.pieces);
    std::vector<double> values;
    fx.link.RequestCmdValueList(":L?", values, c.wait, c.divisor);
    EXPECT_EQ(values, c.values) << c.pieces[0];
    EXPECT_EQ(fx.link.ErrorStatus(), c.corrupt ? io::kStatusOverflow : 0) << c.pieces[0];
    EXPECT_EQ(fx.reports.seen.size(), c.corrupt ? 1u : 0u) << c.pieces[0];
    EXPECT_EQ(fx.host->pauses, std::vector<float>{c.pause}) << c.pieces[0];
  }
}

// The quick reading of whole numbers gives what the general reading gives,
// and leaves every other form to it.
TEST(ValueLists, WholeNumbersAndEveryOtherFormReadAlike) {
  const struct {
    const char* answer;
    std::vector<double> values;
    bool corrupt;
  } cases[] = {
      {"1234,-567,0\n", {12.34, -5.67, 0}, false},
      {"-0,+7,12.5,1E3", {0, 0.07, 0.125, 10}, false},
      {"123456789012345,1234567890123456", {1234567890123.45, 12345678901234.56}, false},  // 15 digits, then 16
      {",5,\n", {0, 0.05, 0}, false},
      {"12\r\n", {0.12}, false},
      {"abc,5,7x", {999, 0.05, 0.07}, true},
  };
  for (const auto& c : cases) {
    std::vector<double> values;
    EXPECT_EQ(io::ParseValueList(c.answer, values, 100), c.corrupt) << c.answer;
    ASSERT_EQ(values.size(), c.values.size()) << c.answer;
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_DOUBLE_EQ(values[i], c.values[i]) << c.answer << " #" << i;
  }
  // A line feed inside the list is not its end: that field is read as a whole, as before.
  std::vector<double> values;
  io::ParseValueList("12\n34,5", values, 1);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0], vb::Val("12\n34"));
  EXPECT_EQ(values[1], 5);
}

TEST(ValueLists, ATraceOf200000ValuesIsReadInPiecesWithoutAnAllocationPerValue) {
  Link fx;
  fx.host->traceEnabled = false;
  std::string answer;
  for (int i = 0; i < 200000; ++i) answer += (i ? "," : "") + std::to_string(-13700 + i % 5000);
  answer += "\n";
  fx.visa->Expect(":SENS1:TRAC:DATA?", {answer});
  std::vector<double> values;
  std::size_t allocations = 0;
  {
    AllocationCounter counter;
    fx.link.RequestCmdValueList(":SENS1:TRAC:DATA?", values, 0.1, 100);
    allocations = counter.count();
  }
  ASSERT_EQ(values.size(), 200000u);
  EXPECT_DOUBLE_EQ(values[1], -136.99);
  EXPECT_EQ(fx.link.ErrorStatus(), 0);
  EXPECT_EQ(fx.visa->ReadCount(), static_cast<long>((answer.size() + 9999) / 10000));
  EXPECT_LT(allocations, 2000u);  // per read and per growth of the answer, not per value
}

TEST(ValueLists, AStreamWithoutLineFeedStopsAtTheBoundAndIsCorrupt) {
  Link fx;
  fx.visa->Expect(":SENS1:TRAC:DATA?");
  std::string piece;
  while (piece.size() < 10000) piece += "1234,";
  piece.resize(10000);
  fx.visa->StreamWithoutLineFeed(piece);
  std::vector<double> values{5, 6};
  fx.link.RequestCmdValueList(":SENS1:TRAC:DATA?", values, 0.1, 100);
  EXPECT_EQ(values, std::vector<double>{0});
  EXPECT_EQ(fx.link.ErrorStatus(), io::kStatusOverflow);
  EXPECT_EQ(fx.link.Status(), 1);  // the session stays; nothing else is lost
  EXPECT_LE(fx.visa->ReadCount(), static_cast<long>(io::kMaxListAnswerBytes / 10000 + 1));
}

TEST(TransferFailures, AFailedWriteIsReportedOnceRaised4012AndNothingFollows) {
  Link fx;
  fx.visa->Expect(":SENS1:FREQ 1");
  fx.visa->FailWriteAt(1);
  const vb::Error e = CaughtFrom([&] { fx.link.WriteCmd(":SENS1:FREQ 1"); });
  EXPECT_EQ(e.Number(), 4012);
  EXPECT_EQ(e.Source(), "clsQuorvelUnit");
  EXPECT_EQ(e.Description(), "WriteCmdVISA Cmd: :SENS1:FREQ 1 (scripted: write 1 fails)");
  EXPECT_EQ(fx.host->TraceStatuses("WriteCmd"), (std::vector<std::string>{"start"}));
  ASSERT_EQ(fx.host->errors.size(), 1u);
  EXPECT_EQ(fx.link.Status(), 0);
  fx.link.WriteCmd(":SENS1:FREQ 2");
  EXPECT_EQ(fx.visa->Writes().size(), 1u);
}

TEST(TransferFailures, FailedReadsNameTheQueryAndReadAnswerSwallowsThem) {
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
    Link fx;
    fx.visa->Expect(":SENS1:RMS?");
    fx.visa->FailReadAt(1);
    const vb::Error e = CaughtFrom([&] { c.call(fx.link); });
    EXPECT_EQ(e.Number(), 4012);
    EXPECT_EQ(e.Description(), std::string(c.procedure) + "VISA Cmd: :SENS1:RMS? (scripted: read 1 fails)");
    EXPECT_EQ(fx.link.Status(), 0);
  }
  Link fx;
  fx.visa->FailReadAt(1);
  EXPECT_EQ(fx.link.ReadAnswer(), "");
  EXPECT_EQ(fx.link.Status(), 0);
  EXPECT_TRUE(fx.host->errors.empty());
}

}  // namespace

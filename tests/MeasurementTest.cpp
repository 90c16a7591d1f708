// Measurement control and result retrieval against the scripted double.
#include <gtest/gtest.h>

#include <functional>

#include "Errors.h"
#include "Probe.h"

namespace {

using P = clsQuorvelUnitProbe;

TEST(MeasurementStarts, SendExactlyTheCommandAndClearTheStatus) {
  const struct {
    bool init;  // MeasurementInit, else BurstSearchInit
    long port;
    const char* command;  // "" = nothing sent
  } cases[] = {
      {true, ppDUT2, "*CLS;:INIT:IMM;*OPC"},         {true, -2, ""},  // no sensor: nothing sent
      {false, ppGenerator, "*CLS;:SENS7:BURS:INIT;*OPC"}, {false, ppSum, "*CLS;:SUMP:BURS:INIT;*OPC"},
      {false, ppDUTAll, "*CLS;:SENS:BURS:INIT;*OPC"},    {false, -2, ""},
  };
  for (const auto& c : cases) {
    const std::string method = c.init ? "MeasurementInit" : "BurstSearchInit";
    SCOPED_TRACE(method + "(" + std::to_string(c.port) + ")");
    ConnectedDriver fx;
    if (*c.command) fx.visa->Expect(c.command);
    P::Link(*fx.unit).SetErrorStatus(esOVERFLOW | esABORT);
    P::Link(*fx.unit).SetAbort(true);
    P::SysErrOverflow(*fx.unit) = 6;
    if (c.init)
      fx.unit->MeasurementInit(c.port);
    else
      fx.unit->BurstSearchInit(c.port);
    EXPECT_EQ(fx.visa->Problems(), "");
    EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
    EXPECT_FALSE(P::Link(*fx.unit).AbortRequested());
    EXPECT_EQ(P::SysErrOverflow(*fx.unit), c.init ? 0 : 6);  // only a measurement start clears the port mask
    EXPECT_EQ(P::Link(*fx.unit).OpcPending(), *c.command != 0);
    EXPECT_EQ(fx.host->TraceStatuses(method), (std::vector<std::string>{"start", "end"}));
  }
}

// A measurement's completion wait lasts what the stored settings make it
// take: the longest measuring time and trigger offset, plus the allowance
// and the session's time-out (2 s here); with an external trigger nobody
// can say, and the wait has its ten minutes.
TEST(MeasurementStarts, BoundTheirCompletionWaitByTheMeasuringTime) {
  const struct {
    const char* what;
    std::function<void(clsQuorvelUnit&)> set;
    long polls;
  } cases[] = {
      {"defaults (1 ms)", [](clsQuorvelUnit&) {}, 71},
      {"3 s on sensor 4", [](clsQuorvelUnit& u) { u.SetMeasTime(3, ppDUT4); }, 100},
      {"3 s and a 1.5 s trigger offset", [](clsQuorvelUnit& u) {
         u.SetSampleRate(1000000, ppDUT4);
         u.SetMeasTime(3, ppDUT4);
         u.SetTriggerOffset(1.5, ppDUT4);  // held as 1 500 000 samples
       }, 115},
      {"an external trigger", [](clsQuorvelUnit& u) { u.SetExtTrigger(true, ppDUT7); }, io::kMaxCompletionPolls},
  };
  for (const auto& c : cases) {
    for (const bool rms : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (rms ? ", GetRMS" : ", MeasurementInit"));
      ConnectedDriver fx;
      c.set(*fx.unit);
      fx.visa->Expect(rms ? "*CLS;:SENS1:RMS:INIT;*OPC" : "*CLS;:INIT:IMM;*OPC");
      if (rms) {
        for (long i = 0; i <= c.polls; ++i) fx.visa->Expect("*ESR?", {"0\n"});
        EXPECT_EQ(fx.unit->GetRMS(ppDUT1), 0);
        EXPECT_EQ(fx.unit->GetErrorStatus() & esTIMEOUT, esTIMEOUT);
        EXPECT_EQ(fx.host->waits.size(), static_cast<std::size_t>(c.polls + 1));
      } else {
        fx.unit->MeasurementInit(ppDUT1);
        EXPECT_EQ(P::Link(*fx.unit).CompletionPollBudget(), c.polls);
      }
      EXPECT_EQ(fx.visa->Problems(), "");
    }
  }
}

// Measure is the RMS of the channel as a host value in dBm.
TEST(MeasurementStarts, MeasureGivesTheRmsInDbm) {
  ConnectedDriver fx;
  fx.visa->Expect("*CLS;:SENS3:RMS:INIT;*OPC");
  fx.ExpectCompletion(0);
  fx.visa->Expect(":SENS3:RMS?", {"-12.34\n"});
  const MeasuredValue m = fx.unit->Measure(ppDUT3);
  EXPECT_EQ(m.Value, -12.34);
  EXPECT_EQ(m.Unit.Text, "dBm");
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(MeasurementAbort, SetsTheFlagsOnAConnectedUnitAndQueriesThenSendNothing) {
  ConnectedDriver fx;
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC").Expect(":ABORT");
  fx.unit->MeasurementInit(ppDUT1);
  fx.unit->MeasurementAbort();
  EXPECT_EQ(fx.unit->GetErrorStatus() & esABORT, esABORT);
  EXPECT_TRUE(P::Link(*fx.unit).AbortRequested());
  EXPECT_FALSE(P::Link(*fx.unit).OpcPending());
  EXPECT_EQ(fx.unit->GetRMS(ppDUT1), 0);  // the RMS start is dropped, the query blocked
  // A new start reaches the unit again.
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC");
  fx.unit->MeasurementInit(ppDUT1);
  EXPECT_EQ(fx.unit->GetErrorStatus(), esNONE);
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(Results, SingleValuesTheirQueriesAndConversions) {
  using Call = std::function<double(clsQuorvelUnit&)>;
  const Call burstCount = [](clsQuorvelUnit& u) { return u.GetBurstCount(2); };
  const struct {
    const char* method;
    Call call;
    const char* query;
    const char* answer;
    double result;
  } cases[] = {
      {"GetMediumUtilization", [](clsQuorvelUnit& u) { return u.GetMediumUtilization(ppCompanion); }, ":SENS6:MU?",
       "0.5\n", 0.5},
      {"GetDutyCycle", [](clsQuorvelUnit& u) { return u.GetDutyCycle(ppGenerator); }, ":SENS7:DCYC?", "25\n", 25},
      {"GetCalMinVideoLevel", [](clsQuorvelUnit& u) { return u.GetCalMinVideoLevel(); }, ":SENS8:VID:MIN?", "-3\n", -3},
      {"GetCalMaxVideoLevel", [](clsQuorvelUnit& u) { return u.GetCalMaxVideoLevel(); }, ":SENS8:VID:MAX?", "10\n", 10},
      {"GetBurstCount", burstCount, ":SENS2:BURS:COUN?", "200000\n", 200000},  // the most it reports
      {"GetBurstCount", burstCount, ":SENS2:BURS:COUN?", "12.5\n", 12},
      {"GetBurstMaxLevelIndex", [](clsQuorvelUnit& u) { return u.GetBurstMaxLevelIndex(ppVideo); }, ":SENS8:BURS:MAX?",
       "3E9\n", 2147483647},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.answer);
    ConnectedDriver fx;
    fx.visa->Expect(c.query, {c.answer});
    EXPECT_EQ(c.call(*fx.unit), c.result);
    EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
    EXPECT_EQ(fx.visa->Problems(), "");
    EXPECT_EQ(fx.host->TraceStatuses(c.method), (std::vector<std::string>{"start", "end"}));
  }
}

TEST(Results, GetBurstCountAbove200000AddsTheOverflowBit) {
  ConnectedDriver fx;
  fx.visa->Expect(":SENS2:BURS:COUN?", {"200000.5\n"});
  EXPECT_EQ(fx.unit->GetBurstCount(2), 200001);
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), esOVERFLOW);
}

TEST(Results, ListsTheirQueriesDivisorsAndWaits) {
  const struct {
    vb::Long (clsQuorvelUnit::*method)(vb::Long, std::vector<double>&);
    vb::Long port;
    const char* query;
    const char* answer;
    std::vector<double> values;
    float pause;
  } cases[] = {
      {&clsQuorvelUnit::GetTrace, 2, ":SENS2:TRAC:DATA?", "1234,-567,0\n", {12.34, -5.67, 0}, 70},
      {&clsQuorvelUnit::GetBurstStartTime, 3, ":SENS3:BURS:STAR?", "0.001,0.0035\n", {0.001, 0.0035}, 120},
      {&clsQuorvelUnit::GetBurstLevel, ppVideo, ":SENS8:BURS:LEV?", "-12.346,-20\n", {-12.346, -20}, 120},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    ConnectedDriver fx;
    fx.visa->Expect(c.query, {c.answer});
    std::vector<double> values;
    EXPECT_EQ((fx.unit.get()->*c.method)(c.port, values), 0);
    ASSERT_EQ(values.size(), c.values.size());
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_DOUBLE_EQ(values[i], c.values[i]) << i;
    EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
    EXPECT_EQ(fx.host->pauses, std::vector<float>{c.pause});
    EXPECT_EQ(fx.visa->Problems(), "");
  }
}

TEST(Results, InSimulationResultsAreNeutralAndAbortChangesNothing) {
  ConnectedDriver fx(false);
  std::vector<double> levels{1, 2, 3};
  EXPECT_EQ(fx.unit->GetBurstLevel(ppDUT1, levels), 0);
  EXPECT_EQ(levels, std::vector<double>{0});
  EXPECT_EQ(fx.unit->GetErrorStatus(), esOVERFLOW);
  EXPECT_EQ(fx.host->messages.size(), 4u);  // one report of the corrupt list
  fx.unit->MeasurementAbort();
  EXPECT_EQ(fx.unit->GetErrorStatus(), esOVERFLOW);
  EXPECT_FALSE(P::Link(*fx.unit).AbortRequested());
  EXPECT_EQ(fx.host->TraceStatuses("Abort"), (std::vector<std::string>{"start", "end"}));
  EXPECT_EQ(fx.unit->GetBurstCount(ppDUT1), 0);
  EXPECT_EQ(fx.unit->GetErrorStatus(), esNONE);  // a single value of 0 clears the overflow
  const MeasuredValue m = fx.unit->Measure(ppDUT1);
  EXPECT_EQ(m.Value, 0);
  EXPECT_EQ(m.Unit.Text, "dBm");
  EXPECT_TRUE(fx.visa->Writes().empty());
}

TEST(Results, VideoLevelSetters) {
  ConnectedDriver fx;
  fx.visa->Expect(":SENS8:VID:MAX 1.5").Expect(":SENS8:VID:MIN -20.12346").Expect(":SENS8:VID:MIN ");
  fx.unit->SetCalMaxVideoLevel(1.5);
  fx.unit->SetCalMinVideoLevel(-20.123456);
  fx.unit->SetCalMinVideoLevel(1e38);  // at or above the host's no-value marker
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(fx.host->TraceStatuses("SetCalMinVideoLevel"), (std::vector<std::string>{"start", "end", "start", "end"}));
}

TEST(Results, ATransferErrorCollectsTheMethodsName) {
  ConnectedDriver fx;
  fx.visa->Expect(":SENS1:DCYC?");
  fx.visa->FailReadAt(1);
  const vb::Error e = CaughtFrom([&] { fx.unit->GetDutyCycle(1); });
  EXPECT_EQ(e.Number(), 4012);
  EXPECT_EQ(e.Description(), "GetDutyCycleRequestCmdValueRequestCmdVISA Cmd: :SENS1:DCYC? (scripted: read 1 fails)");
}

}  // namespace

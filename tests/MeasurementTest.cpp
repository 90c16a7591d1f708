// Measurement control and result retrieval against the scripted double.
#include <gtest/gtest.h>

#include "Probe.h"

namespace {

using P = clsQuorvelUnitProbe;

struct StartCase {
  const char* method;
  long port;
  const char* command;  // "" = nothing sent
};

class MeasurementStarts : public ::testing::TestWithParam<StartCase> {};

TEST_P(MeasurementStarts, SendExactlyTheCommandAndClearTheStatus) {
  const StartCase& c = GetParam();
  ConnectedDriver fx;
  if (*c.command) fx.visa->Expect(c.command);
  P::Link(*fx.unit).SetErrorStatus(esOVERFLOW | esABORT);
  P::Link(*fx.unit).SetAbort(true);
  P::SysErrOverflow(*fx.unit) = 6;
  const bool init = std::string(c.method) == "MeasurementInit";
  if (init)
    fx.unit->MeasurementInit(c.port);
  else
    fx.unit->BurstSearchInit(c.port);
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
  EXPECT_FALSE(P::Link(*fx.unit).AbortRequested());
  EXPECT_EQ(P::SysErrOverflow(*fx.unit), init ? 0 : 6);  // only a measurement start clears the port mask
  EXPECT_EQ(P::Link(*fx.unit).OpcPending(), *c.command != 0);
  EXPECT_EQ(fx.host->TraceStatuses(c.method), (std::vector<std::string>{"start", "end"}));
}

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.method << "(" << c.port << ")"; }

INSTANTIATE_TEST_SUITE_P(Measurement, MeasurementStarts,
                         ::testing::Values(StartCase{"MeasurementInit", ppDUT2, "*CLS;:INIT:IMM;*OPC"},
                                           StartCase{"MeasurementInit", ppSum, "*CLS;:INIT:IMM;*OPC"},
                                           StartCase{"MeasurementInit", -2, ""},
                                           StartCase{"BurstSearchInit", 3, "*CLS;:SENS3:BURS:INIT;*OPC"},
                                           StartCase{"BurstSearchInit", ppGenerator, "*CLS;:SENS7:BURS:INIT;*OPC"},
                                           StartCase{"BurstSearchInit", ppCompanion, "*CLS;:SENS6:BURS:INIT;*OPC"},
                                           StartCase{"BurstSearchInit", ppVideo, "*CLS;:SENS8:BURS:INIT;*OPC"},
                                           StartCase{"BurstSearchInit", ppSum, "*CLS;:SUMP:BURS:INIT;*OPC"},
                                           StartCase{"BurstSearchInit", ppDUTAll, "*CLS;:SENS:BURS:INIT;*OPC"},
                                           StartCase{"BurstSearchInit", 12, "*CLS;:SENS:BURS:INIT;*OPC"},
                                           StartCase{"BurstSearchInit", -2, ""}));

TEST(MeasurementAbort, SetsTheFlagsOnAConnectedUnitAndQueriesThenSendNothing) {
  ConnectedDriver fx;
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC").Expect(":ABORT");
  fx.unit->MeasurementInit(ppDUT1);
  fx.unit->MeasurementAbort();
  EXPECT_EQ(fx.unit->GetErrorStatus() & esABORT, esABORT);
  EXPECT_TRUE(P::Link(*fx.unit).AbortRequested());
  EXPECT_FALSE(P::Link(*fx.unit).OpcPending());
  EXPECT_EQ(fx.unit->GetRMS(ppDUT1), 0);  // the RMS start is dropped, the query blocked
  EXPECT_EQ(fx.host->TraceStatuses("Abort"), (std::vector<std::string>{"start", "end"}));
  // A new start reaches the unit again.
  fx.visa->Expect("*CLS;:INIT:IMM;*OPC");
  fx.unit->MeasurementInit(ppDUT1);
  EXPECT_EQ(fx.unit->GetErrorStatus(), esNONE);
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(MeasurementAbort, InSimulationChangesNothing) {
  ConnectedDriver fx(false);
  P::Link(*fx.unit).SetErrorStatus(1);
  fx.unit->MeasurementAbort();
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 1);
  EXPECT_FALSE(P::Link(*fx.unit).AbortRequested());
  EXPECT_EQ(fx.host->TraceStatuses("Abort"), (std::vector<std::string>{"start", "end"}));
}

TEST(MeasurementAbort, AnAbortDuringAResultQuerysWaitEndsItWithTheEmptyAnswer) {
  ConnectedDriver fx;
  fx.visa->Expect("*CLS;:SENS1:BURS:INIT;*OPC");
  fx.visa->Expect("*ESR?", {"0\n"}).Expect(":ABORT");
  fx.unit->BurstSearchInit(ppDUT1);
  fx.platform.events->Post([&] { fx.unit->MeasurementAbort(); });
  EXPECT_EQ(fx.unit->GetBurstCount(ppDUT1), 0);
  std::vector<double> levels;
  EXPECT_EQ(fx.unit->GetBurstLevel(ppDUT1, levels), 0);  // the list query clears the abort but the bit blocks it
  EXPECT_EQ(levels, std::vector<double>{0});
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(Measure, ReturnsTheRmsInDbm) {
  ConnectedDriver fx;
  fx.visa->Expect("*CLS;:SENS4:RMS:INIT;*OPC");
  fx.ExpectCompletion(1);
  fx.visa->Expect(":SENS4:RMS?", {"-23.75\n"});
  const MeasuredValue m = fx.unit->Measure(ppDUT4);
  EXPECT_EQ(m.Value, -23.75);
  EXPECT_EQ(fx.host->UnitText(m.Unit), "dBm");
  EXPECT_EQ(fx.visa->Problems(), "");

  ConnectedDriver sim(false);
  const MeasuredValue s = sim.unit->Measure(ppDUT1);
  EXPECT_EQ(s.Value, 0);
  EXPECT_EQ(s.Unit.Text, "dBm");
  EXPECT_TRUE(sim.visa->Writes().empty());
}

struct SingleCase {
  const char* method;
  std::function<double(clsQuorvelUnit&)> call;
  const char* query;
  const char* answer;
  double result;
  vb::Long statusAfter;  // starting from esOVERFLOW set
};

TEST(Results, SingleValuesTheirQueriesAndConversions) {
  const SingleCase cases[] = {
      {"GetTraceMin", [](clsQuorvelUnit& u) { return u.GetTraceMin(3); }, ":SENS3:TRAC:MIN?", "-42.5\n", -42.5, 1},
      {"GetTraceMin", [](clsQuorvelUnit& u) { return u.GetTraceMin(3); }, ":SENS3:TRAC:MIN?", "OVER\n", 999, 1},
      {"GetTraceMin", [](clsQuorvelUnit& u) { return u.GetTraceMin(3); }, ":SENS3:TRAC:MIN?", "0\n", 0, 0},
      {"GetTraceMax", [](clsQuorvelUnit& u) { return u.GetTraceMax(ppSum); }, ":SUMP:TRAC:MAX?", "3.25\n", 3.25, 1},
      {"GetMediumUtilization", [](clsQuorvelUnit& u) { return u.GetMediumUtilization(ppCompanion); }, ":SENS6:MU?",
       "0.5\n", 0.5, 1},
      {"GetDutyCycle", [](clsQuorvelUnit& u) { return u.GetDutyCycle(ppGenerator); }, ":SENS7:DCYC?", "25\n", 25, 1},
      {"GetCalMinVideoLevel", [](clsQuorvelUnit& u) { return u.GetCalMinVideoLevel(); }, ":SENS8:VID:MIN?", "-30\n",
       -30, 1},
      {"GetCalMaxVideoLevel", [](clsQuorvelUnit& u) { return u.GetCalMaxVideoLevel(); }, ":SENS8:VID:MAX?", "10\n", 10,
       1},
      {"GetBurstCount", [](clsQuorvelUnit& u) { return u.GetBurstCount(2); }, ":SENS2:BURS:COUN?", "200000\n", 200000, 1},
      {"GetBurstCount", [](clsQuorvelUnit& u) { return u.GetBurstCount(2); }, ":SENS2:BURS:COUN?", "200000.5\n", 200001,
       1},
      {"GetBurstCount", [](clsQuorvelUnit& u) { return u.GetBurstCount(2); }, ":SENS2:BURS:COUN?", "12.5\n", 12, 1},
      {"GetBurstCount", [](clsQuorvelUnit& u) { return u.GetBurstCount(2); }, ":SENS2:BURS:COUN?", "0\n", 0, 0},
      {"GetBurstMaxLevelIndex", [](clsQuorvelUnit& u) { return u.GetBurstMaxLevelIndex(1); }, ":SENS1:BURS:MAX?",
       "3E9\n", 2147483647, 1},
      {"GetBurstMaxLevelIndex", [](clsQuorvelUnit& u) { return u.GetBurstMaxLevelIndex(ppVideo); }, ":SENS8:BURS:MAX?",
       "4\n", 4, 1},
  };
  for (const auto& c : cases) {
    ConnectedDriver fx;
    fx.visa->Expect(c.query, {c.answer});
    P::Link(*fx.unit).SetErrorStatus(esOVERFLOW);
    EXPECT_EQ(c.call(*fx.unit), c.result) << c.method << " " << c.answer;
    EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), c.statusAfter) << c.method << " " << c.answer;
    EXPECT_EQ(fx.visa->Problems(), "") << c.method;
    EXPECT_EQ(fx.host->TraceStatuses(c.method), (std::vector<std::string>{"start", "end"})) << c.method;
  }
}

TEST(Results, GetBurstCountAbove200000AddsTheOverflowBit) {
  ConnectedDriver fx;
  fx.visa->Expect(":SENS2:BURS:COUN?", {"250000\n"});
  EXPECT_EQ(fx.unit->GetBurstCount(2), 200001);
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), esOVERFLOW);
}

struct ListCase {
  const char* method;
  std::function<vb::Long(clsQuorvelUnit&, std::vector<double>&)> call;
  const char* query;
  const char* answer;
  std::vector<double> values;
  float pause;
  vb::Long status;
};

TEST(Results, ListsTheirQueriesDivisorsAndWaits) {
  const ListCase cases[] = {
      {"GetTrace", [](clsQuorvelUnit& u, std::vector<double>& v) { return u.GetTrace(2, v); }, ":SENS2:TRAC:DATA?",
       "1234,-567,0\n", {12.34, -5.67, 0}, 70, 0},
      {"GetTrace", [](clsQuorvelUnit& u, std::vector<double>& v) { return u.GetTrace(2, v); }, ":SENS2:TRAC:DATA?",
       "12,abc,5\n", {0.12, 999, 0.05}, 70, esOVERFLOW},
      {"GetTrace", [](clsQuorvelUnit& u, std::vector<double>& v) { return u.GetTrace(ppSum, v); }, ":SUMP:TRAC:DATA?",
       "1\n", {0.01}, 70, 0},
      {"GetTrace", [](clsQuorvelUnit& u, std::vector<double>& v) { return u.GetTrace(ppVideo, v); },
       ":SENS8:TRAC:DATA?", "1\n", {0.01}, 70, 0},
      {"GetTrace", [](clsQuorvelUnit& u, std::vector<double>& v) { return u.GetTrace(0, v); }, ":SENS:TRAC:DATA?", "1\n",
       {0.01}, 70, 0},
      {"GetBurstStartTime", [](clsQuorvelUnit& u, std::vector<double>& v) { return u.GetBurstStartTime(3, v); },
       ":SENS3:BURS:STAR?", "0.001,0.0035\n", {0.001, 0.0035}, 120, 0},
      {"GetBurstOnTime", [](clsQuorvelUnit& u, std::vector<double>& v) { return u.GetBurstOnTime(3, v); },
       ":SENS3:BURS:ONT?", "0.0005,0.0005\n", {0.0005, 0.0005}, 120, 0},
      {"GetBurstLevel", [](clsQuorvelUnit& u, std::vector<double>& v) { return u.GetBurstLevel(3, v); },
       ":SENS3:BURS:LEV?", "-12.346,-20\n", {-12.346, -20}, 120, 0},
  };
  for (const auto& c : cases) {
    ConnectedDriver fx;
    fx.visa->Expect(c.query, {c.answer});
    std::vector<double> values;
    EXPECT_EQ(c.call(*fx.unit, values), 0);
    ASSERT_EQ(values.size(), c.values.size()) << c.method;
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_DOUBLE_EQ(values[i], c.values[i]) << c.method << " " << i;
    EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), c.status) << c.method;
    EXPECT_EQ(fx.host->pauses, std::vector<float>{c.pause}) << c.method;
    EXPECT_EQ(fx.visa->Problems(), "");
  }
}

TEST(Results, InSimulationListsHoldOneZeroAndReportCorruptValues) {
  ConnectedDriver fx(false);
  std::vector<double> levels{1, 2, 3};
  EXPECT_EQ(fx.unit->GetBurstLevel(ppDUT1, levels), 0);
  EXPECT_EQ(levels, std::vector<double>{0});
  EXPECT_EQ(fx.unit->GetErrorStatus(), esOVERFLOW);
  EXPECT_EQ(fx.unit->GetBurstCount(ppDUT1), 0);
  EXPECT_EQ(fx.unit->GetBurstMaxLevelIndex(ppDUT1), 0);
  EXPECT_EQ(fx.unit->GetTraceMax(ppDUT1), 0);
  EXPECT_EQ(fx.unit->GetErrorStatus(), esNONE);  // a single value of 0 clears the overflow
  EXPECT_EQ(fx.host->messages.size(), 4u);
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
  try {
    fx.unit->GetDutyCycle(1);
    FAIL();
  } catch (const vb::Error& e) {
    EXPECT_EQ(e.Number(), 4012);
    EXPECT_EQ(e.Description(), "GetDutyCycleRequestCmdValueRequestCmdVISA Cmd: :SENS1:DCYC? (scripted: read 1 fails)");
  }
}

}  // namespace

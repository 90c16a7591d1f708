// End to end: the real driver and the recording host against the simulated unit.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "Errors.h"
#include "SimFixture.h"
#include "TempDir.h"

namespace {

TEST(Simulator, IdentifiesAndSendAllSettingsLeavesTheUnitAsTheDriverHoldsIt) {
  SimulatedUnit fx;
  clsQuorvelUnit& u = *fx.unit;
  ASSERT_EQ(u.clsDevice_Status(), 1);
  EXPECT_EQ(u.clsDevice_Info().SerialNumber, "Z8-000123");
  EXPECT_EQ(u.clsDevice_Info().FirmwareVersion, "2.4.1\n");  // the driver keeps the answer's line feed
  EXPECT_TRUE(fx.host->errors.empty());
  std::vector<vb::Long> sum{2, 3};
  u.SetSumPorts(sum);
  u.SetActivePort(5);
  u.SetActivePort(ppGenerator);
  u.SetFrequency(2.4e9, 0);
  u.SetFrequency(5.2e9, 5);
  u.SetMeasTime(0.004, 5);
  u.SetSampleRate(84000000, 4);
  u.SetSubSampleRate(4, 6);
  u.SetAttenuation(3.5, 2);
  u.SetGain(1.25, 8);
  u.SetBurstSearchLevel(-25, 1);
  u.SetExtTrigger(true, 7);
  u.SetTriggerOffset(0.0001, 1);
  u.SetBeamformingGain(2);
  u.SetTriggerOutWithIn(true);
  u.SendAllSettings();
  EXPECT_EQ(u.GetErrorStatus(), 0);
  EXPECT_EQ(u.GetSystemError(), "0,'No error'");
  for (int s = 1; s <= 8; ++s) {
    SCOPED_TRACE("sensor " + std::to_string(s));
    const PortSettings& d = u.StoredPortSettings(s);
    const sim::Zentrix8::Sensor m = fx.model->sensor(s);
    EXPECT_EQ(m.frequency, d.Frequency);
    EXPECT_EQ(m.attenuation, d.Attenuation);
    EXPECT_EQ(m.gain, d.Gain);
    EXPECT_EQ(m.burstSearchLevel, d.BurstSearchLevel);
    EXPECT_EQ(m.sampleCount, d.SampleCount);
    EXPECT_EQ(m.dividerFast, d.DividerFast);
    EXPECT_EQ(m.dividerSlow, d.DividerSlow);
    EXPECT_EQ(m.triggerOffset, d.TriggerOffset);
    EXPECT_EQ(m.trigger[0], d.ExtTrigger ? 1 : 0);
    EXPECT_EQ(m.operation, d.TriggerOffset == 0 ? "ONCE" : "LOOP");
    EXPECT_EQ(m.meas, (s == 2 || s == 3) ? "SUM" : (s == 5 || s == 7) ? "SING" : "OFF");
    EXPECT_EQ(u.GetFrequency(s, true), d.Frequency);
    EXPECT_EQ(u.GetSampleCount(s, true), d.SampleCount);
  }
  EXPECT_EQ(fx.model->sensor(7).mode, "PEAK");
  EXPECT_EQ(fx.model->sensor(4).dividerFast, 3);
  EXPECT_EQ(fx.model->sensor(0).burstSearchLevel, u.StoredPortSettings(2).BurstSearchLevel);
  EXPECT_EQ(u.GetBeamformingGain(true), 2);
  EXPECT_TRUE(u.GetTriggerOutWithIn(true));
  EXPECT_EQ(u.GetSampleRate(4, true), 10000000);  // the unit reports at most 10 MHz
  EXPECT_EQ(u.GetSumPorts(true), (std::vector<vb::Long>{2, 3}));
}

// Every sensor: a 1 ms burst at -20 dBm every 5 ms from 0.2 ms, -80 dBm between.
sim::Scenario Quiet() {
  sim::Scenario sc;
  sc.sensors.fill({.periodS = 0.005, .onTimeS = 0.001, .firstStartS = 0.0002, .levelDbm = -20, .floorDbm = -80,
                   .noiseDb = 0.1, .spreadDb = 0});
  return sc;
}

void Prepare(clsQuorvelUnit& u, long channel) {
  u.SetFrequency(2.4e9, 0);
  u.SetSampleRate(1000000, 0);
  u.SetMeasTime(0.02, 0);
  u.SetBurstSearchLevel(20, 0);
  u.SetActivePortClr();
  if (channel > 0) u.SetActivePort(channel);
  u.SendAllSettings();
}

TEST(SimulatorResults, ABurstSearchFindsTheScenariosBursts) {
  SimulatedUnit fx(Quiet());
  clsQuorvelUnit& u = *fx.unit;
  Prepare(u, 4);
  u.MeasurementInit(4);
  u.BurstSearchInit(4);
  EXPECT_EQ(u.GetBurstCount(4), 4);
  std::vector<double> start, on, level;
  u.GetBurstStartTime(4, start);
  u.GetBurstOnTime(4, on);
  u.GetBurstLevel(4, level);
  ASSERT_EQ(start.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_NEAR(start[i], 0.0002 + 0.005 * static_cast<double>(i), 2e-6) << i;
    EXPECT_NEAR(on[i], 0.001, 2e-6) << i;
    EXPECT_NEAR(level[i], -20, 0.1) << i;
  }
  EXPECT_NEAR(u.GetDutyCycle(4), 20, 0.1);
  EXPECT_NEAR(u.GetTraceMax(4), -20, 0.1);
  EXPECT_NEAR(u.GetTraceMin(4), -80, 0.1);
  const vb::Long strongest = u.GetBurstMaxLevelIndex(4);  // counted from 1
  EXPECT_GE(strongest, 1);
  EXPECT_LE(strongest, 4);
  EXPECT_NEAR(u.GetRMS(4), 10 * std::log10(0.2 * 1e-2 + 0.8 * 1e-8), 0.1);
  EXPECT_EQ(u.GetErrorStatus(), esNONE);
}

TEST(SimulatorResults, TheSumAddsTheMembersPower) {
  SimulatedUnit fx(Quiet());
  clsQuorvelUnit& u = *fx.unit;
  Prepare(u, 0);
  std::vector<vb::Long> sum{2, 3};
  u.SetSumPorts(sum);
  u.SendSumPorts();
  u.MeasurementInit(ppSum);
  u.BurstSearchInit(ppSum);
  std::vector<double> level, trace;
  u.GetBurstLevel(ppSum, level);
  ASSERT_EQ(level.size(), 4u);
  EXPECT_NEAR(level[0], -20 + 10 * std::log10(2.0), 0.1);  // two equal signals: +3 dB
  u.GetTrace(ppSum, trace);
  EXPECT_EQ(trace.size(), 20001u);
}

TEST(SimulatorResults, AnAbortDuringAMeasurementEndsTheWait) {
  SimulatedUnit fx;
  fx.model->SetTimeScale(1000);  // the measurement would take 20 s
  clsQuorvelUnit& u = *fx.unit;
  Prepare(u, 1);
  u.MeasurementInit(1);
  fx.platform.events->PostAt(3, [&] { u.MeasurementAbort(); });
  EXPECT_EQ(u.GetTraceMax(1), 0);  // the query waited, was aborted and sent nothing
  EXPECT_EQ(u.GetErrorStatus() & esABORT, esABORT);
  EXPECT_EQ(fx.model->commandLog().back(), ":ABORT");
  EXPECT_EQ(u.clsDevice_Status(), 1);
}

TEST(SimulatorResults, AnOverRangeTraceIsClippedAndReportedByTheUnit) {
  sim::Scenario sc = Quiet();
  sc.sensors[5].levelDbm = 25;  // above the unit's range
  SimulatedUnit fx(sc);
  clsQuorvelUnit& u = *fx.unit;
  Prepare(u, 5);
  u.MeasurementInit(5);
  EXPECT_NEAR(u.GetTraceMax(5), 20, 0.01);
  EXPECT_EQ(u.GetSystemError(), "-222,'Data out of range in trace(s);5;'");
  u.GetErrorStatus(true);
  EXPECT_EQ(u.GetSystemError(), "0,'No error'");  // the unit's queue was read out by the completion
}

TEST(SimulatorPaths, RowsAreReadInterpolatedAndSavedAndSwitchingReachesTheMatrix) {
  SimulatedUnit fx;
  fx.host->paths = std::make_shared<host::RecordingPaths>();
  clsQuorvelUnit& u = *fx.unit;
  AttTableProp prop;
  prop.FromPort = pDUT3;
  prop.ToPort = pReceiver;
  prop.Attenuator = 20;
  // Loss at 1 GHz: 1.5 + 0.3 * path 2 + 0.1 * port 3 + 1.2 * sqrt(1) + 20 dB step.
  EXPECT_NEAR(u.GetPathAttenuation(1e9, prop), -23.6, 0.01);
  EXPECT_NEAR(u.GetPathAttenuation(1.005e9, prop), (-23.6 + -(1.5 + 0.6 + 0.3 + 1.2 * std::sqrt(1.01) + 20)) / 2, 0.01);
  prop.Rx18 = true;
  prop.Attenuator = 0;
  EXPECT_NE(u.GetPathAttenuation(17e9, prop), 1000);  // the 18 GHz row reaches 18 GHz
  u.InitPathAttenuationSave();
  EXPECT_EQ(fx.host->storedDataSets.size(), 2u);
  EXPECT_EQ(fx.host->storedDataSets.at("C:\\Host\\Setups\\Zentrix8\\Zentrix DUT3 to Rx 18GHz 0dB").cells.size(), 1800u);
  u.SetPath(ptDUT5RxSum);
  u.SetPath(ptCompOff);
  EXPECT_EQ(fx.model->pathState("PORT5"), "SUM");
  EXPECT_EQ(fx.model->pathState("COMP"), "SELF");
  EXPECT_EQ(u.GetErrorStatus(), esNONE);
  EXPECT_EQ(u.GetSystemError(), "0,'No error'");
}

std::string FirmwareFile(TempDir& dir, const std::string& data, long declared) {
  const std::string length = std::to_string(declared);
  TempDir::Write(dir / "unit.fw", "SYSTEM:FWUPDATE #" + std::to_string(length.size()) + length + data);
  return dir / "unit.fw";
}

TEST(SimulatorFirmware, AWrongBlockIsRefusedAndAGoodOneRestartsTheUnitWithTheNewVersion) {
  SimulatedUnit fx;
  TempDir dir;
  clsQuorvelUnit& u = *fx.unit;
  u.clsDevice_ShowDeviceDialog(4, nullptr, "");
  EXPECT_EQ(u.Transfer_FirmwareFile(FirmwareFile(dir, std::string(1000, 'f'), 2000)), 1);  // all bytes went out
  EXPECT_EQ(fx.model->firmwareUploads(), 0);
  EXPECT_EQ(u.GetSystemError(), "-161,'Invalid block data'");

  fx.model->SetTimeScale(1);
  fx.model->SetRebootSeconds(0.3);
  EXPECT_EQ(u.Transfer_FirmwareFile(FirmwareFile(dir, std::string(40000, 'f'), 40000)), 1);
  EXPECT_EQ(fx.model->firmwareUploads(), 1);
  fx.model->SetTimeScale(0);  // the restart keeps its 0.3 s; the reset after it is instant
  u.clsDevice_Status(0);  // as the firmware tab does
  u.clsDevice_Status(1);  // too early: the unit restarts
  EXPECT_EQ(u.clsDevice_Status(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(350));
  u.clsDevice_Status(1);
  EXPECT_EQ(u.clsDevice_Status(), 1);
  EXPECT_EQ(u.clsDevice_Info().FirmwareVersion, "2.4.2\n");
}

TEST(SimulatorFaults, EachKnobGivesWhatTheDriverPromises) {
  {  // a late answer: 4012 and simulation, within the device's time-out
    SimulatedUnit fx({}, true, 100);
    fx.model->faults().answerDelayS = 1;
    const auto start = std::chrono::steady_clock::now();
    const vb::Error e = CaughtFrom([&] { fx.unit->GetFrequency(1, true); });
    EXPECT_EQ(e.Number(), 4012);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  }
  {  // garbage gives 999 and overflow; pieces are read whole; a wait that never ends is bounded
    SimulatedUnit fx;
    fx.model->faults().garbageFor = ":SENS1:RMS?";
    EXPECT_EQ(fx.unit->GetRMS(1), 999);
    EXPECT_EQ(fx.unit->GetErrorStatus(true) & esOVERFLOW, esOVERFLOW);
    fx.model->faults().splitAnswersAt = 7;
    fx.unit->SetMeasTime(0.01, 1, true);
    fx.unit->MeasurementInit(1);
    std::vector<double> trace;
    fx.unit->GetTrace(1, trace);
    EXPECT_EQ(trace.size(), 10001u);
    EXPECT_EQ(fx.unit->GetErrorStatus(), esNONE);
    fx.model->faults().neverComplete = true;
    fx.unit->MeasurementInit(1);
    EXPECT_EQ(fx.unit->GetTraceMax(1), 0);
    EXPECT_EQ(fx.unit->GetErrorStatus() & esTIMEOUT, esTIMEOUT);
    EXPECT_EQ(fx.unit->clsDevice_Status(), 1);
  }
  {  // a list that never ends: bounded, corrupt, the driver stays usable
    SimulatedUnit fx;
    fx.model->faults().streamWithoutLineFeedFor = ":SENS1:BURS:LEV?";
    std::vector<double> levels;
    fx.unit->GetBurstLevel(1, levels);
    EXPECT_EQ(levels, std::vector<double>{0});
    EXPECT_EQ(fx.unit->GetErrorStatus() & esOVERFLOW, esOVERFLOW);
    fx.model->faults().streamWithoutLineFeedFor.clear();
    EXPECT_EQ(fx.unit->GetFrequency(1, true), 10e6);  // the next message ends the stream
  }
}

TEST(SimulatorModel, UnknownHeadersAndMissingValuesGoToTheErrorQueue) {
  auto unit = sim::Zentrix8::Replace("ModelErrors");
  unit->Write(":SENS1:FROB 3");
  unit->Write(":SENS1:FREQ ");
  unit->Write(":SENS99999999999999999999:FREQ 1");
  // Not-a-number and infinity are out of every setting's range; the setting is kept.
  unit->Write(":SENS1:BURS:SEAR NAN;:SENS1:CORR:ATT inf;:SUMP:CORR:BFG nan");
  unit->Write(":SYSTEM:ERR:ALL?");
  EXPECT_EQ(unit->Read(1000), "-113,\"Undefined header\",-109,\"Missing parameter\",-100,\"Command error\",-222,\"Data out "
                              "of range\",-222,\"Data out of range\",-222,\"Data out of range\"\n");
  EXPECT_EQ(unit->sensor(1).burstSearchLevel, 30);
  EXPECT_EQ(unit->sensor(1).attenuation, 0);
  unit->Write(":SYSTEM:ERR:ALL?");
  EXPECT_EQ(unit->Read(1000), "0,\"No error\"\n");
}

// Each client has its own answers; the unit's state is shared.
TEST(SimulatorModel, AnswersGoOnlyToThePortThatAskedAndAnUnreadQueueIsBounded) {
  auto unit = sim::Zentrix8::Replace("ModelPorts");
  sim::Zentrix8::Port a(unit), b(unit);
  a.Write("*IDN?");
  b.Write(":SENS2:FREQ 2.4e9;:SENS2:FREQ?");
  sim::Zentrix8::Port late(unit);  // a new client takes nobody's answers
  unit->Reconnect();
  EXPECT_EQ(b.Read(100), "2400000000\n");
  EXPECT_EQ(a.Read(100), "Tavlor,Zentrix8,Z8-000123,2.4.1\n");
  EXPECT_EQ(late.Read(100), "");
  a.Write(":SENS2:FREQ?");
  EXPECT_EQ(a.Read(100), "2400000000\n");

  // A client that never reads loses answers (-350), not memory.
  const std::string queries = [] {
    std::string q;
    for (int i = 0; i < 20000; ++i) q += ":SENS1:FREQ?;";
    return q;
  }();
  for (int i = 0; i < 40; ++i) a.Write(queries);
  EXPECT_LE(a.QueuedBytes(), sim::Zentrix8::Port::kMaxQueuedBytes);
  b.Write(":SYSTEM:ERR:ALL?");
  EXPECT_EQ(b.Read(40).rfind("-350,\"Queue overflow\"", 0), 0u);
  a.Clear();
  EXPECT_EQ(a.QueuedBytes(), 0u);
  EXPECT_LE(unit->commandLog().size(), sim::Zentrix8::kLoggedMessages);
}

// The unit as an IEEE 488.2 / SCPI instrument: common commands and the
// status model, the error queue one entry at a time, long forms in any case,
// and one response message for a compound query.
TEST(SimulatorModel, CommonCommandsStatusErrorQueueLongFormsAndCompoundQueries) {
  auto unit = sim::Zentrix8::Replace("ModelStandard");
  unit->SetTimeScale(0);
  sim::Zentrix8::Port p(unit);
  const std::pair<const char*, const char*> exchange[] = {
      {"*ESE 32;*SRE 32", ""},
      {"*ESE?;*SRE?", "32;32\n"},
      {"*OPC?;*TST?;*OPT?", "1;0;0\n"},
      {":FROB;:SENS1:FREQ 1e99", ""},             // a command error, then an execution error
      {"*STB?", "100\n"},                          // queue not empty (4), ESB (32), RQS (64)
      {"SYST:ERR:COUN?", "2\n"},
      {"SYSTem:ERRor:NEXT?", "-113,\"Undefined header\"\n"},
      {"syst:err?", "-222,\"Data out of range\"\n"},
      {"SYST:ERR?", "0,\"No error\"\n"},
      {"*ESR?;*ESR?", "48;0\n"},                  // command (32) and execution (16) error, then cleared
      {"SENSe2:FREQuency 2.4e9;:sense2:frequency?", "2400000000\n"},
      {"*IDN?;SYST:VERS?", "Tavlor,Zentrix8,Z8-000123,2.4.1;1999.0\n"},
      {"*ESE 256", ""},
      {"SYST:ERR?", "-222,\"Data out of range\"\n"},
      // Register masks as IEEE 488.2 sends numbers: signed, with decimals (rounded), non-decimal.
      {"*ESE +5;*ESE?", "5\n"},
      {"*ESE 2.5;*ESE?;*ESE 3.7;*ESE?", "2;4\n"},
      {"*ESE #H10;*ESE?;*SRE #B101;*SRE?;*ESE #q17;*ESE?", "16;5;15\n"},
      {"*ESE #H100;*ESE #X1;*ESE 1e9", ""},
      {"SYST:ERR?;SYST:ERR?;SYST:ERR?", "-222,\"Data out of range\";-104,\"Data type error\";-222,\"Data out of range\"\n"},
      // A header after ";" without ":" continues the path of the one before it.
      {":SENS1:FREQ 1e9;FREQ?", "1000000000\n"},
      {":SENS2:CORR:ATT 1.5;GAIN 2;ATT?;GAIN?;*ESE?;ATT?", "1.5;2;15;1.5\n"},  // a common command keeps the path
      {"SENS1:FREQ?;SENS2:CORR:ATT?", "1000000000;1.5\n"},                      // a header that is whole from the root
      {":SENS1:FROB?;FREQ?", "1000000000\n"},
      {"SYST:ERR?", "-113,\"Undefined header\"\n"},
  };
  for (const auto& [message, answer] : exchange) {
    p.Write(message);
    EXPECT_EQ(p.Read(1000), answer) << message;
  }
}

// The response to one message is bounded like one answer: a compound query
// asking for more is dropped with -350, and the port serves on.
TEST(SimulatorModel, ACompoundResponseIsBoundedLikeOneAnswer) {
  auto unit = sim::Zentrix8::Replace("ModelCompound");
  unit->SetTimeScale(0);
  sim::Zentrix8::Port p(unit);
  p.Write(":SENS1:SAMP:DIVF 250;:SENS1:SAMP:COUNT 200000;*CLS;:INIT:IMM;*OPC");
  p.Write(":SENS1:TRAC:DATA?");
  const std::string one = p.Read(64u << 20);
  ASSERT_GT(one.size(), 600000u);
  ASSERT_LT(one.size(), sim::Zentrix8::Port::kMaxQueuedBytes);
  std::string many;
  for (int i = 0; i < 50; ++i) many += ":SENS1:TRAC:DATA?;";
  p.Write(many + "*IDN?");
  EXPECT_EQ(p.Read(64u << 20), "");
  EXPECT_EQ(p.QueuedBytes(), 0u);
  p.Write("SYST:ERR?;*IDN?");
  EXPECT_EQ(p.Read(1000), "-350,\"Queue overflow\";Tavlor,Zentrix8,Z8-000123,2.4.1\n");
  p.Write(":SENS1:TRAC:DATA?;:SENS1:TRAC:MAX?");  // two that fit are answered together
  const std::string two = p.Read(64u << 20);
  EXPECT_EQ(two.rfind(one.substr(0, one.size() - 1) + ";", 0), 0u);
}

}  // namespace

// The presence check, identification and reset against the scripted double.
#include <gtest/gtest.h>

#include <functional>

#include "Errors.h"
#include "Probe.h"

namespace {

using P = clsQuorvelUnitProbe;

// Sum ports set, so a reset of the caches shows as "no sum" ({-1}).
void SetSum(clsQuorvelUnit& u) {
  std::vector<vb::Long> sum{1, 2};
  u.SetSumPorts(sum);
}

TEST(PresenceCheck, OpensTheSessionAndSetsTheOptionTwice) {
  ConnectedDriver fx(false);
  fx.unit->clsDevice_Status(0);  // the status it already has: nothing happens
  EXPECT_EQ(fx.visa->OpenCount(), 0);
  EXPECT_TRUE(fx.host->TraceStatuses("clsDevice_Check").empty());
  P::CheckDevicePhysical(*fx.unit, 1);
  EXPECT_EQ(fx.unit->clsDevice_Status(), 1);
  EXPECT_TRUE(fx.visa->IsOpen());
  EXPECT_EQ(fx.visa->Transcript(), "  open SCRIPTED::Z1\n  option 10 = True\n  option 10 = True\n");
  EXPECT_EQ(fx.platform.events->Count(), 1);  // events ran once between the two
  EXPECT_EQ(fx.host->TraceStatuses("CheckDevicePhysical"), (std::vector<std::string>{"start", "end"}));
}

TEST(PresenceCheck, AnAbsentUnitIsNotPresentWithoutErrorOrIdentification) {
  const struct {
    const char* name;
    std::function<void(ConnectedDriver&)> arrange;
  } cases[] = {
      {"unavailable in the device list", [](ConnectedDriver& fx) { fx.host->devices["Z1"].available = false; }},
      {"the open fails", [](ConnectedDriver& fx) { fx.visa->FailOpen(); }},
      {"bad status after the open", [](ConnectedDriver& fx) { fx.visa->StatusAfterOpen(visa::kVisaErrorIo); }},
      {"no transport serves the resource",
       [](ConnectedDriver& fx) {
         fx.host->devices["Z1"].address = "NOTHING::HERE";
         fx.unit->clsDevice_Name("Z1");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectedDriver fx(false);
    c.arrange(fx);
    SetSum(*fx.unit);
    fx.unit->clsDevice_Status(1);  // check, and identification only if present
    EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
    EXPECT_TRUE(fx.host->errors.empty());
    EXPECT_EQ(fx.unit->GetSumPorts(false), std::vector<vb::Long>{-1});  // the caches were reset
    EXPECT_TRUE(fx.visa->Writes().empty());
    if (!fx.host->devices["Z1"].available) {
      EXPECT_EQ(fx.visa->OpenCount(), 0);  // never opened
    }
  }
}

// A device the host reaches by another interface is never opened over VISA.
TEST(PresenceCheck, AnotherInterfaceThanVisaOpensNothing) {
  ConnectedDriver fx(false);
  P::Link(*fx.unit).SetInterface(12);
  fx.unit->clsDevice_Status(1);
  EXPECT_EQ(fx.visa->OpenCount(), 0);
  EXPECT_TRUE(fx.visa->Writes().empty());
  EXPECT_TRUE(fx.host->errors.empty());
}

TEST(PresenceCheck, DisconnectClosesOnlyForVisaAndResetsTheCaches) {
  ConnectedDriver fx;
  fx.unit->clsDevice_Status(0);
  EXPECT_FALSE(fx.visa->IsOpen());
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);

  ConnectedDriver other;
  P::Link(*other.unit).SetInterface(12);
  SetSum(*other.unit);
  P::CheckDevicePhysical(*other.unit, 0);
  EXPECT_TRUE(other.visa->IsOpen());  // not touched
  EXPECT_EQ(other.unit->GetSumPorts(false), std::vector<vb::Long>{-1});
  EXPECT_EQ(other.unit->clsDevice_Status(), 0);
}

TEST(EventStatus, ReadsTheRegister) {
  const std::pair<const char*, vb::Long> cases[] = {{"33\n", 33}, {"", 0}, {"junk\n", 0}, {"1e20\n", 0}};
  for (const auto& [answer, value] : cases) {
    ConnectedDriver fx;
    fx.visa->Expect("*ESR?", {answer});
    EXPECT_EQ(fx.cmd().ReadEventStatus(), value) << answer;
  }
}

TEST(Identification, FourFieldsGiveSerialNumberAndFirmware) {
  ConnectedDriver fx(false);
  fx.visa->Expect("*CLS;*RST;*OPC");
  fx.ExpectCompletion(1);
  fx.visa->Expect("*IDN?\n", {"Tavlor, Zentrix8, SN 1234 ,  2.07 ,extra\n"});
  P::SysErrOverflow(*fx.unit) = 6;  // an earlier session's overflow is forgotten: the queue is asked
  fx.unit->clsDevice_Status(1);
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(fx.unit->clsDevice_Status(), 1);
  EXPECT_EQ(fx.unit->clsDevice_Info().SerialNumber, "SN 1234");
  EXPECT_EQ(fx.unit->clsDevice_Info().FirmwareVersion, "2.07");
}

TEST(Identification, ShortAnswersRaiseWithTheDevicePrefix) {
  const struct {
    std::vector<const char*> answers;  // one per *IDN?
    long number;
    const char* description;
    long opens;
  } cases[] = {
      // Without a comma it is asked again after one reconnect.
      {{"Zentrix8\n", "Zentrix8\n"}, 4011, "QuorvelUnit-Z1: Application-defined or object-defined error", 2},
      {{"Tavlor,Zentrix8\n"}, vb::err::SubscriptOutOfRange, "QuorvelUnit-Z1: Subscript out of range", 1},
      {{"Tavlor,Zentrix8,42\n"}, vb::err::SubscriptOutOfRange, "QuorvelUnit-Z1: Subscript out of range", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answers.back());
    ConnectedDriver fx(false);
    fx.visa->Expect("*CLS;*RST;*OPC");
    fx.ExpectCompletion(0);
    for (const char* a : c.answers) fx.visa->Expect("*IDN?\n", {a});
    const vb::Error e = CaughtFrom([&] { fx.unit->clsDevice_Status(1); });
    EXPECT_EQ(e.Number(), c.number);
    EXPECT_EQ(e.Description(), c.description);
    EXPECT_EQ(fx.visa->Problems(), "");
    EXPECT_EQ(fx.visa->OpenCount(), c.opens);
    EXPECT_EQ(fx.unit->clsDevice_Status(), 1);  // kept
  }
}

TEST(Identification, InSimulationItReopensTheNamedResourceAndFailsWith4011) {
  ConnectedDriver fx(false);  // named, never checked: nothing is sent before the reconnect
  const vb::Error e = CaughtFrom([&] { fx.unit->clsDevice_Initialize(); });
  EXPECT_EQ(e.Number(), 4011);
  EXPECT_EQ(e.Description(), "QuorvelUnit-Z1: Application-defined or object-defined error");
  EXPECT_EQ(fx.visa->OpenCount(), 1);  // the reconnect reached the device list's resource
  EXPECT_TRUE(fx.visa->Writes().empty());
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
}

TEST(Identification, AFailedWriteFallsBackToSimulationQuietly) {
  ConnectedDriver fx(false);
  fx.visa->Expect("*CLS;*RST;*OPC");
  fx.visa->FailWriteAt(1);
  fx.unit->clsDevice_Status(1);  // returns normally
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  EXPECT_FALSE(fx.visa->IsOpen());  // the check closed the session
  EXPECT_EQ(fx.host->errors.size(), 1u);  // WriteCmd's own report
}

TEST(Reset, SendsAbortThenResetOnlyWhenConnectedAndAlwaysRestoresDefaults) {
  for (bool connected : {true, false}) {
    SCOPED_TRACE(connected);
    ConnectedDriver fx(connected);
    if (connected) fx.visa->Expect(":ABORT").Expect("*CLS;*RST;*OPC");
    P::Link(*fx.unit).SetErrorStatus(3);
    for (vb::Long s = 1; s <= 8; ++s) {  // every setting away from its default
      PortSettings& p = P::Port(*fx.unit, s);
      p = {5e9, 0.5, 2000000, 1, 7, 9, 99, 12, 3.5, 3, true, 100, 4};
    }
    fx.unit->SetAttenuator(5, 3);
    std::vector<vb::Long> sum{2, 3};
    fx.unit->SetSumPorts(sum);
    fx.unit->ResetQuorvelUnit();
    EXPECT_EQ(fx.visa->Problems(), "");
    for (vb::Long s = 1; s <= 8; ++s) {
      SCOPED_TRACE(s);
      const PortSettings& p = fx.unit->StoredPortSettings(s);
      EXPECT_EQ(p.Frequency, 10e6);
      EXPECT_EQ(p.MeasTime, 0);
      EXPECT_EQ(p.SampleRate, 1000000);
      EXPECT_EQ(p.ClockMode, 0);
      EXPECT_EQ(p.DividerFast, 250);
      EXPECT_EQ(p.DividerSlow, 0);
      EXPECT_EQ(p.SampleCount, 1);
      EXPECT_EQ(p.BurstSearchLevel, 30);
      EXPECT_EQ(p.Attenuation, 0);
      EXPECT_EQ(p.Gain, 0);
      EXPECT_FALSE(p.ExtTrigger);
      EXPECT_EQ(p.TriggerOffset, 0);
      EXPECT_EQ(p.SubSampleRate, 0);
    }
    EXPECT_EQ(fx.unit->StoredAttenuator(3), 31.75);
    EXPECT_EQ(fx.unit->GetSumPorts(false), std::vector<vb::Long>{-1});
    EXPECT_EQ(fx.unit->GetErrorStatus(), 0);
    EXPECT_FALSE(P::Link(*fx.unit).AbortRequested());
    EXPECT_FALSE(P::Link(*fx.unit).OpcPending());  // the next command does not wait for the reset
  }
}

TEST(Abort, AFailedAbortWriteDropsToSimulationAndKeepsTheFlags) {
  ConnectedDriver fx;
  fx.visa->Expect(":ABORT");
  fx.visa->FailWriteAt(1);
  const vb::Error e = CaughtFrom([&] { fx.unit->MeasurementAbort(); });
  EXPECT_EQ(e.Number(), 4012);
  EXPECT_EQ(e.Description(), "AbortVISA Cmd: :ABORT (scripted: write 1 fails)");
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  EXPECT_FALSE(P::Link(*fx.unit).AbortRequested());
  EXPECT_EQ(fx.unit->GetErrorStatus(), 0);
}

}  // namespace

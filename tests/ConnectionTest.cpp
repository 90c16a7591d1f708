// The presence check, identification and reset against the scripted double.
#include <gtest/gtest.h>

#include "Errors.h"
#include "Probe.h"

namespace {

using P = clsQuorvelUnitProbe;

TEST(PresenceCheck, OpensTheSessionAndSetsTheOptionTwice) {
  ConnectedDriver fx(false);
  P::CheckDevicePhysical(*fx.unit, 1);
  EXPECT_EQ(fx.unit->clsDevice_Status(), 1);
  EXPECT_TRUE(fx.visa->IsOpen());
  EXPECT_EQ(fx.visa->ResourceName(), "SCRIPTED::Z1");
  EXPECT_EQ(fx.visa->Transcript(), "  open SCRIPTED::Z1\n  option 10 = True\n  option 10 = True\n");
  EXPECT_EQ(fx.platform.events->Count(), 1);  // events ran once between the two
  EXPECT_EQ(fx.host->TraceStatuses("CheckDevicePhysical"), (std::vector<std::string>{"start", "end"}));
}

TEST(PresenceCheck, AnUnavailableDeviceIsNeverOpened) {
  ConnectedDriver fx(false);
  fx.host->devices["Z1"].available = false;
  P::CheckDevicePhysical(*fx.unit, 1);
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  EXPECT_EQ(fx.visa->OpenCount(), 0);
}

TEST(PresenceCheck, AFailedOpenOrABadStatusMeansNotPresentWithoutError) {
  for (bool failOpen : {true, false}) {
    ConnectedDriver fx(false);
    if (failOpen)
      fx.visa->FailOpen();
    else
      fx.visa->StatusAfterOpen(platform::kVisaErrorIo);
    P::SumPortMask(*fx.unit) = 3;
    fx.unit->clsDevice_Status(1);  // check, and identification only if present
    EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
    EXPECT_TRUE(fx.host->errors.empty());
    EXPECT_EQ(P::SumPortMask(*fx.unit), 0);  // the caches were reset
    EXPECT_TRUE(fx.visa->Writes().empty());  // no identification
  }
}

TEST(PresenceCheck, AnUnknownResourceIsNotPresent) {
  DriverFixture fx;
  fx.AddDevice("Z1").address = "NOTHING::HERE";
  fx.unit->clsDevice_Name("Z1");
  fx.unit->clsDevice_Status(1);
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  EXPECT_TRUE(fx.host->errors.empty());
}

TEST(PresenceCheck, DisconnectClosesOnlyForVisaAndResetsTheCaches) {
  ConnectedDriver fx;
  fx.unit->clsDevice_Status(0);
  EXPECT_FALSE(fx.visa->IsOpen());
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);

  ConnectedDriver other;
  P::Link(*other.unit).SetInterface(12);
  P::SumPortMask(*other.unit) = 2;
  P::CheckDevicePhysical(*other.unit, 0);
  EXPECT_TRUE(other.visa->IsOpen());  // not touched
  EXPECT_EQ(P::SumPortMask(*other.unit), 0);
  EXPECT_EQ(other.unit->clsDevice_Status(), 0);
}

TEST(PresenceCheck, SettingTheStatusItAlreadyHasDoesNothing) {
  ConnectedDriver fx(false);
  fx.unit->clsDevice_Status(0);
  EXPECT_EQ(fx.visa->OpenCount(), 0);
  EXPECT_TRUE(fx.host->TraceStatuses("clsDevice_Check").empty());
}

TEST(EventStatus, ReadsTheRegister) {
  const struct {
    const char* answer;
    vb::Long value;
  } cases[] = {{"33\n", 33}, {"", 0}, {"1\n", 1}, {"junk\n", 0}, {"1e20\n", 0}};
  for (const auto& c : cases) {
    ConnectedDriver fx;
    fx.visa->Expect("*ESR?", {c.answer});
    EXPECT_EQ(P::Link(*fx.unit).ReadEventStatus(), c.value) << c.answer;
  }
}

TEST(Identification, FourFieldsGiveSerialNumberAndFirmware) {
  ConnectedDriver fx(false);
  fx.visa->Expect("*CLS;*RST;*OPC");
  fx.ExpectCompletion(1);
  fx.visa->Expect("*IDN?\n", {"Tavlor, Zentrix8, SN 1234 ,  2.07 ,extra\n"});
  fx.unit->clsDevice_Status(1);
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(fx.unit->clsDevice_Status(), 1);
  EXPECT_EQ(fx.unit->clsDevice_Info().SerialNumber, "SN 1234");
  EXPECT_EQ(fx.unit->clsDevice_Info().FirmwareVersion, "2.07");
}

TEST(Identification, AnAnswerWithoutCommaIsAskedAgainAfterAReconnectThenFailsWith4011) {
  ConnectedDriver fx(false);
  fx.visa->Expect("*CLS;*RST;*OPC");
  fx.ExpectCompletion(0);
  fx.visa->Expect("*IDN?\n", {"Zentrix8\n"});
  fx.visa->Expect("*IDN?\n", {"Zentrix8\n"});
  try {
    fx.unit->clsDevice_Status(1);
    FAIL() << "identification succeeded";
  } catch (const vb::Error& e) {
    EXPECT_EQ(e.Number(), 4011);
    EXPECT_EQ(e.Description(), "QuorvelUnit-Z1: Application-defined or object-defined error");
  }
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(fx.visa->OpenCount(), 2);  // reconnected once
  EXPECT_EQ(fx.unit->clsDevice_Status(), 1);  // kept
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

TEST(Identification, TwoOrThreeFieldsAreAnIndexErrorWithTheDevicePrefix) {
  ConnectedDriver fx(false);
  fx.visa->Expect("*CLS;*RST;*OPC");
  fx.ExpectCompletion(0);
  fx.visa->Expect("*IDN?\n", {"Tavlor,Zentrix8,42\n"});
  try {
    fx.unit->clsDevice_Status(1);
    FAIL() << "identification succeeded";
  } catch (const vb::Error& e) {
    EXPECT_EQ(e.Number(), vb::err::SubscriptOutOfRange);
    EXPECT_EQ(e.Description(), "QuorvelUnit-Z1: Subscript out of range");
  }
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

TEST(Reset, ConnectedSendsAbortThenResetAndEndsClean) {
  ConnectedDriver fx;
  fx.visa->Expect(":ABORT").Expect("*CLS;*RST;*OPC");
  P::Link(*fx.unit).SetErrorStatus(3);
  P::Port(*fx.unit, 1).MeasTime = 0.5;
  fx.unit->ResetQuorvelUnit();
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_FALSE(P::Link(*fx.unit).AbortRequested());
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
  EXPECT_FALSE(P::Link(*fx.unit).OpcPending());  // the next command does not wait for the reset
  EXPECT_EQ(fx.unit->StoredPortSettings(1).MeasTime, 0);
}

TEST(Reset, InSimulationNothingIsSentButDefaultsReturn) {
  ConnectedDriver fx(false);
  P::Port(*fx.unit, 2).Gain = 3;
  P::Link(*fx.unit).SetErrorStatus(4);
  fx.unit->ResetQuorvelUnit();
  EXPECT_TRUE(fx.visa->Writes().empty());
  EXPECT_EQ(fx.unit->StoredPortSettings(2).Gain, 0);
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
}

TEST(Abort, AFailedAbortWriteDropsToSimulationAndKeepsTheFlags) {
  ConnectedDriver fx;
  fx.visa->Expect(":ABORT");
  fx.visa->FailWriteAt(1);
  try {
    fx.unit->MeasurementAbort();
    FAIL();
  } catch (const vb::Error& e) {
    EXPECT_EQ(e.Number(), 4012);
    EXPECT_EQ(e.Description(), "AbortVISA Cmd: :ABORT (scripted: write 1 fails)");
  }
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  EXPECT_FALSE(P::Link(*fx.unit).AbortRequested());
  EXPECT_EQ(P::Link(*fx.unit).ErrorStatus(), 0);
}

}  // namespace

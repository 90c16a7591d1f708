// The service form, headless, on the real driver and the in-process simulator.
#include <gtest/gtest.h>

#include <algorithm>

#include "CommaLocale.h"
#include "Errors.h"
#include "SimFixture.h"
#include "TempDir.h"
#include "dialog/frmQuorvelUnitTest.h"
#include "platform/Desktop.h"

namespace {

using dialog::frmQuorvelUnitTest;

// The host opens the service dialog of a driver on a simulated unit.
struct Panel : SimulatedUnit {
  dialog::ServiceFormRegistration registration;  // device dialogs of type 4 make the real form
  frmQuorvelUnitTest& form;

  explicit Panel(bool connect = true, sim::Scenario scenario = {}) : SimulatedUnit(std::move(scenario), connect), form(Open()) {}
  frmQuorvelUnitTest& Open() {
    unit->clsDevice_ShowDeviceDialog(4, nullptr, "");
    auto* f = dynamic_cast<frmQuorvelUnitTest*>(unit->TestForm());
    if (!f) throw std::runtime_error("the driver made no service form");
    return *f;
  }
  std::vector<std::string> Lines(const dialog::ListControl& list) const {
    std::vector<std::string> out;
    for (const auto& e : list.Entries()) out.push_back(e.text);
    return out;
  }
  std::size_t Logged(const std::string& command) const {
    const auto log = model->commandLog();
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), command));
  }
  // How often `command` came among the messages since the unit's count stood at `since`
  // (the log keeps only the latest messages, so counts over all of it may drift).
  std::size_t LoggedSince(long since, const std::string& command) const {
    const auto log = model->commandLog();
    const auto recent = static_cast<std::size_t>(std::max(0L, model->commandCount() - since));
    return static_cast<std::size_t>(std::count(log.end() - static_cast<std::ptrdiff_t>(std::min(recent, log.size())), log.end(), command));
  }
};

// --- startup ------------------------------------------------------------------------

TEST(DialogStartup, SetParamsFillsTheListsAndTheHostGetsThreePages) {
  Panel fx;
  frmQuorvelUnitTest& f = fx.form;
  EXPECT_EQ(f.cboMeasChannel.ListCount(), 11);
  EXPECT_EQ(f.cboMeasChannel.SelectedText(), "DUT1");
  EXPECT_EQ(f.cboPaths.ListCount(), 46);
  EXPECT_EQ(f.cboPort2.SelectedItemData(), 9);  // "Generator", the item data and not the position
  EXPECT_EQ(f.cboPort2.SelectedText(), "Generator");
  EXPECT_EQ(fx.Lines(f.cboAttenuatorValue(0)), (std::vector<std::string>{"0 dB", "10 dB", "20 dB"}));
  EXPECT_EQ(fx.Lines(f.cboAttenuatorValue(1)), (std::vector<std::string>{"0 dB", "10 dB", "20 dB"}));
  EXPECT_EQ(f.cboMethods.ListCount(), 48);
  EXPECT_EQ(f.cboMethods.ListIndex(), 0);
  for (vb::Long i = 0; i <= 2; ++i) EXPECT_EQ(f.txtMeasValue(i).Text(), "---");
  EXPECT_FALSE(f.lblSimulation(0).Visible());
  EXPECT_FALSE(f.cb_Burstsearch_start.Enabled());  // no port checked yet
  EXPECT_FALSE(f.cmdStartFirwareUpdate.Enabled());
  EXPECT_FALSE(f.Ti_AutoMeasure.Enabled());
  EXPECT_EQ(f.lb_fw_version(1).Caption(), "2.4.1\n");
  EXPECT_EQ(fx.host->registeredForms, std::vector<std::string>{"frmQuorvelUnitTest"});
  // Right after SetParams (DUT1 to Generator): Sum offered, Direct and Bypass not.
  EXPECT_TRUE(f.chkSum.Enabled());
  EXPECT_FALSE(f.chkDirect.Enabled());
  EXPECT_FALSE(f.chkBypass.Enabled());
  const auto& tabs = clsQuorvelUnit::TabList();
  ASSERT_EQ(tabs.size(), 3u);
  EXPECT_EQ(tabs[1].Caption, "Burstsearch");
  EXPECT_EQ(tabs[2].Handle, f.FrameHandle(ServiceFrame::fraFWUpdate));
  EXPECT_EQ(f.HelpContextID(), 4108);
  EXPECT_EQ(ErrorNumberOf([&] { f.lblMeasValue(4); }), vb::err::SubscriptOutOfRange);
  EXPECT_EQ(ErrorNumberOf([&] { f.cb_port(0); }), vb::err::SubscriptOutOfRange);
}

TEST(DialogStartup, SimulationShowsBothLabelsAndUnloadStopsTheTest) {
  Panel fx(false);
  EXPECT_TRUE(fx.form.lblSimulation(0).Visible());
  EXPECT_TRUE(fx.form.lblSimulation(1).Visible());
  fx.form.Form_Unload();
  EXPECT_EQ(fx.host->TraceStatuses("clsDevice_StopTest"), (std::vector<std::string>{"start", "end"}));
}

// --- power measurement and switching -------------------------------------------------

TEST(DialogMeasurement, AttenuationOptionsFollowThePorts) {
  const struct {
    vb::Long port1, port2;
    bool sum, direct, bypass, steps;
    vb::Long entries;
  } cases[] = {
      {1, 9, true, false, false, true, 3},     {3, 12, true, true, false, true, 3},
      {10, 9, false, false, true, true, 31},   {9, 9, false, false, false, false, 0},
      {9, 13, false, false, false, false, 0},  {11, 10, false, false, false, true, 31},
  };
  Panel fx;
  frmQuorvelUnitTest& f = fx.form;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.port1) + " to " + std::to_string(c.port2));
    f.cboPort1.SetListIndex(c.port1 - 1);
    f.cboPort2.SetListIndex(c.port2 - 9);
    EXPECT_EQ(f.chkSum.Enabled(), c.sum);
    EXPECT_EQ(f.chkDirect.Enabled(), c.direct);
    EXPECT_EQ(f.chkBypass.Enabled(), c.bypass);
    EXPECT_EQ(f.cboAttenuatorValue(1).Visible(), c.steps);
    if (c.steps) {
      EXPECT_EQ(f.cboAttenuatorValue(1).ListCount(), c.entries);
    }
  }
  // DUT3 to Analyser/Rx: Direct clears Sum and hides the steps; at most one box is checked.
  f.cboPort1.SetListIndex(2);
  f.cboPort2.SetListIndex(3);
  f.cboAttenuatorValue(1).SetListIndex(1);  // 10 dB: checking Sum offers the same steps and keeps it
  f.chkSum.Click();
  EXPECT_EQ(f.cboAttenuatorValue(1).SelectedItemData(), 10);
  f.chkDirect.Click();
  EXPECT_EQ(f.chkSum.Value(), 0);
  EXPECT_EQ(f.chkDirect.Value(), 1);
  EXPECT_FALSE(f.cboAttenuatorValue(1).Visible());
  f.chkDirect.Click();
  EXPECT_TRUE(f.cboAttenuatorValue(1).Visible());
  f.cboAttenuator.SetListIndex(9);
  EXPECT_EQ(f.cboAttenuatorValue(0).ListCount(), 31);
  f.cboAttenuator.SetListIndex(10);
  EXPECT_EQ(f.cboAttenuatorValue(0).ListCount(), 21);
  // Equal ports: nothing is saved.
  f.cboPort1.SetListIndex(9);
  f.cboPort2.SetListIndex(1);
  f.cmdSaveAttenuation.Click();
  ASSERT_EQ(fx.platform.messageBox->History().size(), 1u);
  EXPECT_EQ(fx.platform.messageBox->History()[0].text, "Ports have to be different");
  EXPECT_EQ(fx.platform.messageBox->History()[0].style, platform::vbCritical);
}

TEST(DialogMeasurement, ASingleMeasurementShowsPointedValuesOrOver) {
  Panel fx;
  frmQuorvelUnitTest& f = fx.form;
  f.cboMeasChannel.SetListIndex(9);  // Companion: no per-port frequency, but SetFrequency for it
  f.cmdMeasure.Click();
  for (vb::Long i = 0; i <= 2; ++i) {
    const std::string v = f.txtMeasValue(i).Text();
    EXPECT_NE(v.find('.'), std::string::npos) << v;
    EXPECT_EQ(v.size() - v.find('.'), 4u) << v;  // three decimals
  }
  EXPECT_EQ(f.lblUnit(0).Caption(), "dBm");
  EXPECT_EQ(fx.host->TraceStatuses("cmdMeasure_Click"), (std::vector<std::string>{"start", "end"}));
  EXPECT_TRUE(f.fraAttenuation.Enabled());
  EXPECT_EQ(fx.Logged(":SENS6:FREQ 5000000000"), 1u);
  fx.model->faults().garbageFor = ":SENS6:TRAC:MAX?";
  f.cmdMeasure.Click();
  for (vb::Long i = 0; i <= 2; ++i) EXPECT_EQ(f.txtMeasValue(i).Text(), "OVER");
}

TEST(DialogMeasurement, ContinuousMeasurementRunsOnTheTimerUntilStop) {
  Panel fx;
  frmQuorvelUnitTest& f = fx.form;
  f.cb_automeasure.Click();
  EXPECT_EQ(f.cmdMeasure.Caption(), "Start");
  f.cboMeastime.SetListIndex(4);
  f.cmdMeasure.Click();
  EXPECT_EQ(f.Ti_AutoMeasure.Interval(), 1400);
  f.cmdMeasure.Click();
  f.cboMeastime.SetListIndex(0);
  f.cmdMeasure.Click();
  EXPECT_EQ(f.cmdMeasure.Caption(), "Stop");
  EXPECT_EQ(f.Ti_AutoMeasure.Interval(), 165);
  EXPECT_TRUE(f.Ti_AutoMeasure.Enabled());
  EXPECT_FALSE(f.fraBurstsearch.Enabled());
  EXPECT_FALSE(f.cb_automeasure.Enabled());
  // A tick measures; one that comes while that measurement waits starts no second one.
  // (A short simulated wait: the host here polls without pausing, and the unit's log keeps the latest messages.)
  fx.model->SetTimeScale(0.02);
  bool nestedTick = false;
  fx.platform.events->PostAt(1, [&] {
    nestedTick = true;
    f.Ti_AutoMeasure.Tick();
  });
  const long before = fx.model->commandCount();
  f.Ti_AutoMeasure.Tick();
  EXPECT_TRUE(nestedTick);
  EXPECT_EQ(fx.LoggedSince(before, "*CLS;:INIT:IMM;*OPC"), 1u) << [&] {
    std::string t = "since " + std::to_string(before) + " now " + std::to_string(fx.model->commandCount()) + ":";
    const auto log = fx.model->commandLog();
    for (std::size_t i = log.size() > 12 ? log.size() - 12 : 0; i < log.size(); ++i) t += "\n  " + log[i];
    return t;
  }();
  EXPECT_NE(f.txtMeasValue(0).Text(), "---");
  // Leaving the page stops the timer at its next tick; the button still reads Stop.
  f.fraTest.Visible(false);
  f.Ti_AutoMeasure.Tick();
  EXPECT_FALSE(f.Ti_AutoMeasure.Enabled());
  EXPECT_EQ(f.cmdMeasure.Caption(), "Stop");
  f.fraTest.Visible(true);
  f.cmdMeasure.Click();
  EXPECT_EQ(f.cmdMeasure.Caption(), "Start");
  EXPECT_TRUE(f.fraBurstsearch.Enabled());
  f.cb_automeasure.Click();
  EXPECT_EQ(f.cmdMeasure.Caption(), "Measure");
  EXPECT_FALSE(f.Ti_AutoMeasure.Enabled());
}

TEST(DialogMeasurement, SwitchesReachTheUnitAndStartTheTestOnce) {
  Panel fx;
  frmQuorvelUnitTest& f = fx.form;
  f.cboPaths.SetListIndex(12);
  f.cmdSwitch.Click();
  f.cboAttenuator.SetListIndex(3);
  f.cboAttenuatorValue(0).SetListIndex(2);
  f.cmdAttenuator.Click();
  EXPECT_EQ(fx.model->pathState("PORT5"), "SUM");
  EXPECT_EQ(fx.Logged(":CONF:PORT3:ATT 20"), 1u);
  EXPECT_EQ(fx.host->TraceStatuses("clsDevice_StartTest").size(), 2u);  // once per dialog
  EXPECT_TRUE(f.cmdSwitch.Enabled());
  EXPECT_TRUE(f.cboAttenuatorValue(0).Enabled());
}

// --- burst search -----------------------------------------------------------------------

sim::Scenario Bursts(double firstStartS) {
  sim::Scenario sc;
  for (auto& s : sc.sensors) {
    s.periodS = 0.005;
    s.onTimeS = 0.001;
    s.firstStartS = firstStartS;
    s.noiseDb = 0.1;
  }
  return sc;
}

TEST(DialogBurstSearch, PortBoxesAreEitherPortsOrOneAuxiliaryChannel) {
  Panel fx;
  auto& p = fx.form.cb_port;
  p(2).Click();
  p(5).Click();
  EXPECT_TRUE(fx.form.cb_Burstsearch_start.Enabled());
  p(11).Click();
  EXPECT_EQ(p(2).Value() + p(5).Value(), 0);
  p(3).Click();
  EXPECT_EQ(p(11).Value(), 0);
  p(3).Click();
  EXPECT_FALSE(fx.form.cb_Burstsearch_start.Enabled());
}

TEST(DialogBurstSearch, ASumOfTwoPortsListsItsBurstsWithTheStrongestMarked) {
  Panel fx(true, Bursts(0.0002));
  frmQuorvelUnitTest& f = fx.form;
  f.cb_port(3).Click();
  f.cb_port(2).Click();
  f.tb_BurstMeastime.Value(0.02);
  f.cb_Burstsearch_start.Click();
  const auto lines = fx.Lines(f.lb_bursts);
  ASSERT_EQ(lines.size(), 6u) << lines.size();
  EXPECT_EQ(lines[0], "Burst no.:\tStart\tOn-time\tRMS level");
  EXPECT_EQ(lines[1], " \t[ms]\t[ms]\t[dBm]");
  EXPECT_EQ(lines[2].rfind("00001:\t0.2000\t1.00", 0), 0u) << ::testing::PrintToString(lines);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.ends_with(" -> Max"); }), 1);
  EXPECT_EQ(f.lb_bursts.TabStops(), (std::vector<vb::Long>{50, 100, 150, 200}));
  EXPECT_EQ(f.txt_burstResult(0).Text(), "4");
  EXPECT_EQ(fx.unit->GetSumPorts(true), (std::vector<vb::Long>{2, 3}));
  EXPECT_TRUE(f.cb_Burstsearch_start.Enabled());
  EXPECT_FALSE(f.cb_Burstsearch_Abort.Enabled());
  EXPECT_EQ(fx.platform.mouse->Get(), platform::vbDefault);
  EXPECT_EQ(f.lb_ErrStatus.Caption(), "");
}

TEST(DialogBurstSearch, NoBurstsAbortAndSimulation) {
  {
    Panel fx;
    fx.form.cb_port(1).Click();
    fx.form.tb_BurstMeastime.Value(0);       // waits 0.001 s
    fx.form.tb_BurstSamplerate.Value(500);   // used as 1000
    fx.form.tb_BurstThreshold.Value(-15);    // used as -10: above the peak, so no burst
    fx.form.cb_Burstsearch_start.Click();
    EXPECT_EQ(fx.Lines(fx.form.lb_bursts).back(), "No Bursts found");
    EXPECT_EQ(fx.Lines(fx.form.lb_bursts).size(), 3u);
    EXPECT_EQ(fx.form.txt_burstResult(0).Text(), "0");
    EXPECT_EQ(fx.model->sensor(1).burstSearchLevel, -10);
    EXPECT_EQ(fx.unit->GetSampleRate(1, false), 1000);
  }
  {
    Panel fx;
    fx.form.cb_port(1).Click();
    fx.form.tb_BurstMeastime.Value(5);
    fx.host->onWait = [&](float) { fx.form.cb_Burstsearch_Abort.Click(); };  // the user clicks Abort while it waits
    fx.form.cb_Burstsearch_start.Click();
    EXPECT_EQ(fx.Lines(fx.form.lb_bursts), std::vector<std::string>{"cancelled!"});
    EXPECT_TRUE(fx.form.cb_Burstsearch_start.Enabled());
    EXPECT_EQ(fx.Logged(":ABORT"), 1u);
  }
  {
    Panel fx(false);
    fx.form.cb_port(1).Click();
    fx.form.cb_Burstsearch_start.Click();
    EXPECT_EQ(fx.Lines(fx.form.lb_bursts), std::vector<std::string>{"No Zentrix8 hardware present or simulation active"});
  }
}

TEST(DialogBurstSearch, LinesAndValuesAlwaysUseAPoint) {
  EXPECT_EQ(frmQuorvelUnitTest::BurstLine(3, 0.0125, 0.0005, -12.3456, true), "00003:\t12.5000\t0.5000\t-12.346 -> Max");
  EXPECT_EQ(frmQuorvelUnitTest::BurstLine(1, 1e99, 0.001, 2e99, false), "00001:\t--\t1.0000\t--");
  const CommaLocale comma;
  ASSERT_TRUE(comma.Ok()) << CommaLocale::kMissing;
  EXPECT_EQ(frmQuorvelUnitTest::FormatValue(1.5, 3), "1.500");
  EXPECT_EQ(frmQuorvelUnitTest::FormatValue(7, "00000"), "00007");
}

// --- firmware update ------------------------------------------------------------------

TEST(DialogFirmware, TheFileChoiceEnablesTheUploadOnlyForFwFiles) {
  Panel fx;
  frmQuorvelUnitTest& f = fx.form;
  for (const char* name : {"C:\\fw\\unit.bin", "unit.fw"}) fx.platform.fileDialog->ScriptAnswer(name);
  f.cmdSelFirmware.Click();
  EXPECT_FALSE(f.cmdStartFirwareUpdate.Enabled());
  EXPECT_EQ(f.lb_fw_filename(1).Caption(), "unit.bin");
  EXPECT_EQ(f.lb_fw_filename(1).ToolTipText(), "C:\\fw\\unit.bin");
  f.cmdSelFirmware.Click();
  EXPECT_TRUE(f.cmdStartFirwareUpdate.Enabled());
  EXPECT_EQ(f.lb_fw_filename(1).Caption(), "unit.fw");  // no separator: the whole path
  const auto& shown = fx.platform.fileDialog->History();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].filter, "All Files (*.*)|*.*|Zentrix Firmware (*.fw)|*.fw");
  EXPECT_EQ(shown[0].filterIndex, 2);
  EXPECT_EQ(shown[1].fileName, "C:\\fw\\unit.bin");  // the last choice is where the next one starts
  f.cmdSelFirmware.Click();  // cancelled: nothing changes
  EXPECT_EQ(f.lb_fw_filename(1).Caption(), "unit.fw");
}

// The form's filter as the system's open dialog takes it.
TEST(DialogFirmware, TheFilterReachesTheSystemDialogNulSeparated) {
  using namespace std::string_literals;
  const struct {
    std::string vb, system;
  } cases[] = {{"All Files (*.*)|*.*|Zentrix Firmware (*.fw)|*.fw", "All Files (*.*)\0*.*\0Zentrix Firmware (*.fw)\0*.fw\0\0"s},
               {"Firmware|*.fw|", "Firmware\0*.fw\0\0"s},
               {"", "\0"s}};
  for (const auto& c : cases) EXPECT_EQ(platform::NulSeparatedFilter(c.vb), c.system) << c.vb;
}

// A panel whose user has chosen a small firmware file.
struct FirmwarePanel : Panel {
  TempDir dir;
  FirmwarePanel() {
    TempDir::Write(dir / "unit.fw", "SYSTEM:FWUPDATE #15hello");
    platform.fileDialog->ScriptAnswer(dir / "unit.fw");
    form.cmdSelFirmware.Click();
  }
};

TEST(DialogFirmware, AnswersAndOutcomesOfTheUpload) {
  FirmwarePanel fx;
  frmQuorvelUnitTest& f = fx.form;
  fx.platform.messageBox->ScriptAnswer(platform::vbNo);
  f.cmdStartFirwareUpdate.Click();
  EXPECT_TRUE(f.cmdStartFirwareUpdate.Enabled());
  EXPECT_TRUE(f.fraTest.Enabled() && f.fraFWUpdate.Enabled());
  EXPECT_EQ(fx.model->firmwareUploads(), 0);

  f.cmdStartFirwareUpdate.Click();  // Yes
  EXPECT_EQ(fx.model->firmwareUploads(), 1);
  EXPECT_EQ(f.lb_fw_status.Caption(),
            "Firmware sucessfull uploaded to the Zentrix\r\n\r\nDevice now is rebooting.\r\nState is set to virtual.\r\n\r\n"
            "Please wait until the device has restarted.");
  EXPECT_EQ(f.lb_fw_version(1).Caption(), "");
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  EXPECT_TRUE(f.cmdStartFirwareUpdate.Enabled());
}

TEST(DialogFirmware, AFailedTransferLeavesTheTabUsableAndSaysSo) {
  FirmwarePanel fx;
  frmQuorvelUnitTest& f = fx.form;
  f.cmdStartFirwareUpdate.Click();  // uploaded: the session is closed, the unit restarts
  EXPECT_EQ(ErrorNumberOf([&] { f.cmdStartFirwareUpdate.Click(); }), 4012);  // a second upload fails
  EXPECT_EQ(f.lb_fw_status.Caption(), "Firmware update failed !");
  EXPECT_TRUE(f.cmdStartFirwareUpdate.Enabled());
  EXPECT_TRUE(f.fraTest.Enabled() && f.fraFWUpdate.Enabled());
}

// --- the method check ---------------------------------------------------------------------

TEST(DialogMethods, EntriesRunTheirMethodWithExtraAndChannel) {
  Panel fx;
  frmQuorvelUnitTest& f = fx.form;
  auto run = [&](const std::string& method, const std::string& extra = {}) {
    const auto& names = frmQuorvelUnitTest::MethodNames();
    f.cboMethods.SetListIndex(static_cast<vb::Long>(std::find(names.begin(), names.end(), method) - names.begin()));
    f.txtCheckExtra.Text(extra);
    f.cmdCheck.Click();
    return f.txtCheckExtraResult.Text();
  };
  f.cboMeasChannel.SetListIndex(2);  // DUT3
  EXPECT_EQ(run("SetGain", "3.5"), "");
  EXPECT_EQ(fx.model->sensor(3).gain, 3.5);
  run("SetGain", "abc");
  EXPECT_EQ(fx.model->sensor(3).gain, 0);
  {
    const CommaLocale comma;  // a German desktop: the box still takes a point
    ASSERT_TRUE(comma.Ok()) << CommaLocale::kMissing;
    run("SetGain", "3.5");
    EXPECT_EQ(fx.model->sensor(3).gain, 3.5);
  }
  EXPECT_EQ(run("GetBurstCount"), "0");
  EXPECT_EQ(run("GetFrequency"), "10000000");
  EXPECT_EQ(run("GetSumPorts"), "");
  EXPECT_EQ(run("GetExtTrigger"), "False");
  run("SetAttenuator");
  EXPECT_EQ(fx.host->TraceStatuses("cmdAttenuator_Click"), (std::vector<std::string>{"start", "end"}));

  Panel sim(false);
  sim.form.cmdCheck.Click();
  ASSERT_EQ(sim.platform.messageBox->History().size(), 1u);
  EXPECT_EQ(sim.platform.messageBox->History()[0].text, "No Data for Simulation !");
}

}  // namespace

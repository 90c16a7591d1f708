// The service form: its controls, their layout and wiring, loading and
// unloading.  Each frame's handlers are in a file of its own (fra*.cpp).
#include "dialog/frmQuorvelUnitTest.h"

#include <algorithm>

#include "driver/clsQuorvelUnit.h"
#include "driver/modMain.h"
#include "dialog/Texts.h"
#include "platform/PointerRestore.h"

namespace dialog {

namespace {

template <class T>
T& Member(ControlArray<T>& array, vb::Long index, std::string name, Kind kind, Control* container,
          std::string caption = {}) {
  auto control = std::make_unique<T>(name + "(" + std::to_string(index) + ")", kind, container);
  control->Caption(std::move(caption));
  T& made = *control;
  array.Add(index, std::move(control));
  return made;
}

}  // namespace

ServiceFormRegistration::ServiceFormRegistration()
    : previous_(SetServiceFormFactory([](const host::Services& host, const platform::Services& platform) {
        return std::make_unique<frmQuorvelUnitTest>(host, platform);
      })) {}

ServiceFormRegistration::~ServiceFormRegistration() { SetServiceFormFactory(std::move(previous_)); }

const std::vector<std::string>& frmQuorvelUnitTest::MethodNames() {
  static const std::vector<std::string> names = {
      "SetPart", "GetPart", "GetPathAttenuation", "SetAttenuator", "GetAttenuator", "SetMeasTime", "GetMeasTime",
      "SetSampleRate", "GetSampleRate", "SetBurstSearchLevel", "GetBurstSearchLevel", "SetAttenuation",
      "GetAttenuation", "SetBeamformingGain", "GetBeamformingGain", "SetGain", "GetGain", "SetFrequency",
      "GetFrequency", "GetSumPorts", "SetActivePort", "GetActivePorts", "SetExtTrigger", "GetExtTrigger",
      "SetTriggerOffset", "GetTriggerOffset", "MeasurementInit", "Measure", "SendTriggerOut", "SetTriggerOutWithIn",
      "GetTriggerOutWithIn", "SetTriggerOutWithMeasurement", "GetTriggerOutWithMeasurement", "GetTrace",
      "GetTraceMin", "GetTraceMax", "GetMediumUtilization", "GetRMS", "GetBurstCount", "GetBurstStartTime",
      "GetBurstOnTime", "GetBurstLevel", "GetBurstMaxLevelIndex", "GetDutyCycle", "SetCalMinVideoLevel",
      "GetCalMinVideoLevel", "SetCalMaxVideoLevel", "GetCalMaxVideoLevel"};
  return names;
}

frmQuorvelUnitTest::frmQuorvelUnitTest(host::Services host, platform::Services platform)
    : txtFrequency("txtFrequency", &fraPowerMeas, {"Hz", "G", 9, 3, 0, 1e12}, 5e9),
      tb_BurstMeastime("tb_BurstMeastime", &fraBurstsearch, {"s", "", 0, 3, 0.01, 1000}, 1.0),
      tb_BurstSamplerate("tb_BurstSamplerate", &fraBurstsearch, {"", "M", 6, 6, 1000, 10000000}, 1e6),
      tb_BurstThreshold("tb_BurstThreshold", &fraBurstsearch, {"dB", "", 0, 1, -20, 70}, zentrix8::kDefaultThreshold),
      host_(std::move(host)),
      platform_(std::move(platform)) {
  for (int i = 0; i < 4; ++i) frameHandles_.push_back(platform::NewWindowHandle());
  // fraTest
  fraPowerMeas.Caption("Power Measurement");
  lblFrqCorr.Caption("Measurement Channel");
  lblFrequency.Caption("Frequency");
  lblMeastime.Caption("Meastime");
  cmdMeasure.Caption("Measure");
  cb_automeasure.Caption("Continous");
  const char* measLabels[] = {"Measurement Values:", "RMS", "Max Peak", "Min Peak"};
  for (vb::Long i = 0; i <= 3; ++i) Member(lblMeasValue, i, "lblMeasValue", Kind::Label, &fraPowerMeas, measLabels[i]);
  for (vb::Long i = 0; i <= 2; ++i) Member(txtMeasValue, i, "txtMeasValue", Kind::TextBox, &fraPowerMeas, "-100.000").FontBold(true);
  for (vb::Long i = 0; i <= 2; ++i) Member(lblUnit, i, "lblUnit", Kind::Label, &fraPowerMeas, "dBm");
  fraAttenuator.Caption("Attenuator");
  Member(cboAttenuatorValue, 0, "cboAttenuatorValue", Kind::ComboBox, &fraAttenuator);
  cmdAttenuator.Caption("Switch");
  fraSwitch.Caption("Path");
  cmdSwitch.Caption("Switch");
  fraAttenuation.Caption("Path Attenuation");
  Label1.Caption("Get Attenuation for the switched path between the selected ports.");
  Label3.Caption("to");
  Label2.Caption("Attenuator :");
  Member(cboAttenuatorValue, 1, "cboAttenuatorValue", Kind::ComboBox, &fraAttenuation);
  chkSum.Caption("Sum");
  chkDirect.Caption("Direct (18 GHz)");
  chkBypass.Caption("Bypass");
  cmdSaveAttenuation.Caption("Save Attenuation Table");
  for (vb::Long i = 0; i <= 1; ++i) {
    Label& l = Member(lblSimulation, i, "lblSimulation", Kind::Label, i == 0 ? &fraTest : &fraBurstsearch, "Simulation!");
    l.ForeColor(kColorRed);
    l.FontBold(true);
    l.Visible(false);
  }
  lblSpeed.Caption("Measurement &Speed");
  // fraBurstsearch
  fraBurstPorts.Caption("Used Ports:");
  for (vb::Long i = 1; i <= 11; ++i) {
    const std::string caption = i <= 8 ? std::to_string(i) + " " : (i == 9 ? "Peak" : i == 10 ? "Comp." : "Video");
    Member(cb_port, i, "cb_port", Kind::CheckBox, &fraBurstPorts, caption);
  }
  const std::pair<vb::Long, const char*> burstLabels[] = {
      {0, "Meastime:"},      {1, "Samplerate (per secs.):"}, {2, "Threshold (below Peak):"},
      {4, "No. of Bursts:"}, {5, "DC: [%]"},                 {6, "MU: [%]"},
      {7, "RMS [dBm]:"},     {8, "Trace Max Peak [dBm]:"},   {9, "Trace Min Peak [dBm]:"}};
  for (const auto& [i, caption] : burstLabels)
    Member(lb_burst, i, "lb_burst", Kind::Label, i <= 2 ? &fraBurstsearch : &fr_BurstsearchResults, caption);
  cb_Burstsearch_start.Caption("Start");
  cb_Burstsearch_start.FontBold(true);
  cb_Burstsearch_Abort.Caption("Abort");
  cb_Burstsearch_Abort.Enabled(false);  // only while a search runs
  fr_BurstsearchResults.Caption("Results:");
  for (vb::Long i = 0; i <= 5; ++i) Member(txt_burstResult, i, "txt_burstResult", Kind::TextBox, &fr_BurstsearchResults);
  lb_ErrStatus.BackColor(kColorLightGrey);
  lb_ErrStatus.ForeColor(kColorDarkRed);
  lb_ErrStatus.FontBold(true);
  lb_BurstInfo.BackColor(kColorLightGrey);
  // fraFWUpdate
  Member(lb_fw_version, 0, "lb_fw_version", Kind::Label, &fraFWUpdate, "Actual Firmware Version installed:");
  Member(lb_fw_version, 1, "lb_fw_version", Kind::Label, &fraFWUpdate);
  cmdSelFirmware.Caption("Select Firmware File ...");
  Member(lb_fw_filename, 0, "lb_fw_filename", Kind::Label, &fraFWUpdate, "Selected Firmware File :");
  Member(lb_fw_filename, 1, "lb_fw_filename", Kind::Label, &fraFWUpdate);
  cmdStartFirwareUpdate.Caption("Start Firmware Upload ...");
  cmdStartFirwareUpdate.FontBold(true);
  // fraDebug
  cb_start_save.Caption("Start saving path tables");
  cmdDataFolder.Caption("...");
  cmdSetCalData.Caption("Send Calibration Data");
  lblCheck.Caption("Extra");
  lblCheckValue.Caption("Value");
  cmdCheck.Caption("Execute");
  // Children in the order the form arranges them.
  fraPowerMeas.OrderChildren({&lblFrqCorr, &cboMeasChannel, &lblFrequency, &txtFrequency, &lblMeastime, &cboMeastime,
                              &cmdMeasure, &cb_automeasure, &Ti_AutoMeasure, &lblMeasValue(0), &lblMeasValue(1),
                              &txtMeasValue(0), &lblUnit(0), &lblMeasValue(2), &txtMeasValue(1), &lblUnit(1),
                              &lblMeasValue(3), &txtMeasValue(2), &lblUnit(2)});
  fraAttenuator.OrderChildren({&cboAttenuator, &cboAttenuatorValue(0), &cmdAttenuator});
  fraAttenuation.OrderChildren({&Label1, &cboPort1, &Label3, &cboPort2, &Label2, &cboAttenuatorValue(1), &chkSum,
                                &chkDirect, &chkBypass, &cmdSaveAttenuation});
  fraTest.OrderChildren({&fraPowerMeas, &fraAttenuator, &fraSwitch, &fraAttenuation, &lblSimulation(0), &lblSpeed});
  fraBurstsearch.OrderChildren({&fraBurstPorts, &lb_burst(0), &tb_BurstMeastime, &lb_burst(1), &tb_BurstSamplerate,
                                &lb_burst(2), &tb_BurstThreshold, &cb_Burstsearch_start, &cb_Burstsearch_Abort,
                                &fr_BurstsearchResults, &lblSimulation(1), &lb_ErrStatus, &lb_BurstInfo});
  fr_BurstsearchResults.OrderChildren({&lb_bursts, &lb_burst(4), &txt_burstResult(0), &lb_burst(5), &txt_burstResult(1),
                                       &lb_burst(6), &txt_burstResult(2), &lb_burst(7), &txt_burstResult(3),
                                       &lb_burst(8), &txt_burstResult(4), &lb_burst(9), &txt_burstResult(5)});
  fraFWUpdate.OrderChildren({&lb_fw_version(0), &lb_fw_version(1), &cmdSelFirmware, &lb_fw_filename(0),
                             &lb_fw_filename(1), &cmdStartFirwareUpdate, &lb_fw_status});
  Wire();
}

frmQuorvelUnitTest::~frmQuorvelUnitTest() = default;

void frmQuorvelUnitTest::Wire() {
  cmdMeasure.OnClick([this] { cmdMeasure_Click(); });
  cb_automeasure.OnClick([this] { cb_automeasure_Click(); });
  Ti_AutoMeasure.OnClick([this] { Ti_AutoMeasure_Timer(); });
  cboAttenuator.OnClick([this] { cboAttenuator_Click(); });
  cmdAttenuator.OnClick([this] { cmdAttenuator_Click(); });
  cmdSwitch.OnClick([this] { cmdSwitch_Click(); });
  cboPort1.OnClick([this] { UpdateAttenuationOptions(); });
  cboPort2.OnClick([this] { UpdateAttenuationOptions(); });
  chkSum.OnClick([this] { chkExclusive_Click(chkSum, chkDirect, chkBypass); });
  chkDirect.OnClick([this] { chkExclusive_Click(chkDirect, chkSum, chkBypass); });
  chkBypass.OnClick([this] { chkExclusive_Click(chkBypass, chkSum, chkDirect); });
  cmdSaveAttenuation.OnClick([this] { cmdSaveAttenuation_Click(); });
  for (vb::Long i = 1; i <= 11; ++i) cb_port(i).OnClick([this, i] { cb_port_Click(i); });
  cb_Burstsearch_start.OnClick([this] { cb_Burstsearch_start_Click(); });
  cb_Burstsearch_Abort.OnClick([this] { cb_Burstsearch_Abort_Click(); });
  cmdSelFirmware.OnClick([this] { cmdSelFirmware_Click(); });
  cmdStartFirwareUpdate.OnClick([this] { cmdStartFirwareUpdate_Click(); });
  cmdCheck.OnClick([this] { cmdCheck_Click(); });
  cb_start_save.OnClick([this] {
    if (driver_) driver_->InitPathAttenuationSave();
  });
  // cmdSetCalData and cmdDataFolder have no action.
}

vb::Long frmQuorvelUnitTest::FrameHandle(ServiceFrame frame) const {
  return frameHandles_[static_cast<std::size_t>(frame)];
}

// --- startup and layout ---------------------------------------------------------

void frmQuorvelUnitTest::SetParams(vb::Long, clsQuorvelUnit& quorvelUnit) {
  driver_ = &quorvelUnit;
  if (!loaded_) Form_Load();  // the first touch of a control loads the form
  cboMeasChannel.Clear();
  const char* channels[] = {"DUT1", "DUT2", "DUT3", "DUT4", "DUT5", "DUT6", "DUT7", "DUT8", "(V)Generator", "Companion", "Video"};
  for (vb::Long n = 1; n <= 11; ++n) cboMeasChannel.AddItem(channels[n - 1], n);
  cboMeasChannel.SetListIndex(0);
  cboPaths.Clear();
  for (vb::Long n = 0; n < modMain::kPathCount; ++n) cboPaths.AddItem(modMain::PathDescription(n), n);
  cboPaths.SetListIndex(0);
  cboAttenuator.Clear();
  const char* attenuators[] = {"DUT1 to DUT8", "DUT1", "DUT2", "DUT3", "DUT4", "DUT5", "DUT6", "DUT7", "DUT8", "Companion", "Bypass"};
  for (vb::Long n = 0; n <= 10; ++n) cboAttenuator.AddItem(attenuators[n], n);
  cboAttenuator.SetListIndex(0);
  FillAttenuationSteps(cboAttenuatorValue(0), zentrix8::kDutAttenuator.stepDb, zentrix8::kDutAttenuator.maxDb);
  FillAttenuationSteps(cboAttenuatorValue(1), zentrix8::kDutAttenuator.stepDb, zentrix8::kDutAttenuator.maxDb);
  const char* ports[] = {"DUT1", "DUT2", "DUT3", "DUT4", "DUT5", "DUT6", "DUT7", "DUT8", "Generator", "Companion", "Vector Generator", "Analyser/Rx", "Antenna"};
  cboPort1.Clear();
  for (vb::Long n = 1; n <= 11; ++n) cboPort1.AddItem(ports[n - 1], n);
  cboPort1.SetListIndex(0);
  cboPort2.Clear();
  for (vb::Long n = 9; n <= 13; ++n) cboPort2.AddItem(ports[n - 1], n);
  cboPort2.SetListIndex(0);
  cboMeastime.Clear();
  for (vb::Long ms : {50, 100, 250, 500, 1000}) cboMeastime.AddItem(std::to_string(ms) + " ms", ms);
  cboMeastime.SetListIndex(0);
  for (vb::Long i = 0; i <= 2; ++i) txtMeasValue(i).Text("---");
  txtFrequency.Value(5000000000.0);
  SetStatus();
  cboMethods.Visible(true);
  cboMethods.Clear();
  for (std::size_t i = 0; i < MethodNames().size(); ++i) cboMethods.AddItem(MethodNames()[i], static_cast<vb::Long>(i));
  cboMethods.SetListIndex(0);
  testStarted_ = false;
}

void frmQuorvelUnitTest::SetStatus() {
  simulation_ = driver_ == nullptr || driver_->Device().clsDevice_Status() != 1;
  lblSimulation(0).Visible(simulation_);
  lblSimulation(1).Visible(simulation_);
}

void frmQuorvelUnitTest::Form_Load() {
  loaded_ = true;
  host::Require(host_.text).RegisterForm(std::string(kObjectName));
  Ti_AutoMeasure.Enabled(false);
  if (driver_) lb_fw_version(1).Caption(driver_->Device().clsDevice_Info().FirmwareVersion);
  cmdStartFirwareUpdate.Enabled(false);
  measurementBusy_ = false;
  SetComboDropHeight(cboPaths, 300);
  for (ComboBox* c : {&cboAttenuator, &cboAttenuatorValue(0), &cboAttenuatorValue(1), &cboMeasChannel, &cboPort1, &cboPort2})
    SetComboDropHeight(*c, 200);
  tb_BurstSamplerate.Value(tb_BurstSamplerate.Value());
  cb_port_Click(1);
  simulation_ = false;
  abortRequest_ = false;
  lb_BurstInfo.Visible(false);
}

void frmQuorvelUnitTest::Form_Unload() {
  Ti_AutoMeasure.Enabled(false);
  if (driver_) driver_->Device().clsDevice_StopTest();
  driver_ = nullptr;
}

void frmQuorvelUnitTest::SetComboDropHeight(ComboBox& combo, vb::Long heightPixels) { combo.SetDropHeight(heightPixels); }

void frmQuorvelUnitTest::FillAttenuationSteps(ComboBox& combo, vb::Long stepDb, vb::Long maxDb) {
  std::vector<vb::Long> steps{0};
  for (vb::Long db = stepDb; db <= maxDb; db += stepDb) steps.push_back(db);
  // The same steps again (Sum or Bypass checked on the same path) keep the
  // step the user chose: a save must not quietly read the 0 dB row instead.
  bool same = combo.ListCount() == static_cast<vb::Long>(steps.size()) && combo.ListIndex() >= 0;
  for (vb::Long i = 0; same && i < combo.ListCount(); ++i) same = combo.ItemData(i) == steps[static_cast<std::size_t>(i)];
  if (same) return;
  combo.Clear();
  for (vb::Long db : steps) combo.AddItem(std::to_string(db) + " dB", db);
  combo.SetListIndex(0);
}

void frmQuorvelUnitTest::SetPointer(long pointer) {
  if (platform_.mouse) platform_.mouse->Set(pointer);
}

void frmQuorvelUnitTest::StartTestOnce() {
  if (testStarted_) return;
  driver_->Device().clsDevice_StartTest();
  testStarted_ = true;
}

std::string frmQuorvelUnitTest::FormatValue(double value, vb::Long decimals) {
  std::string pattern = "0";
  if (decimals > 0) pattern += "." + std::string(static_cast<std::size_t>(decimals), '0');
  return FormatValue(value, pattern);
}

std::string frmQuorvelUnitTest::FormatValue(double value, std::string_view pattern) {
  return vb::Replace(vb::Format(value, pattern), ",", ".");
}

}  // namespace dialog

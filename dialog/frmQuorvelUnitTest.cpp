// The service form: layout, loading and the four frames' handlers.
#include "dialog/frmQuorvelUnitTest.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "driver/clsQuorvelUnit.h"
#include "io/modMain.h"
#include "platform/PointerRestore.h"

namespace dialog {

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kTab = '\t';
constexpr const char* kCrLf = "\r\n";

double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

template <class T>
T& Member(ControlArray<T>& array, vb::Long index, std::string name, Kind kind, Control* container,
          std::string caption = {}) {
  auto control = std::make_unique<T>(name + "(" + std::to_string(index) + ")", kind, container);
  control->Caption(std::move(caption));
  T& made = *control;
  array.Add(index, std::move(control));
  return made;
}

// A text the way the method panel reads a number: a numeric text gives its
// leading number, anything else 0.
double CheckNumber(const std::string& text) {
  const std::string t = vb::Trim(text);
  if (t.empty()) return 0;
  std::size_t used = 0;
  try {
    (void)std::stod(t, &used);
  } catch (...) {
    return 0;
  }
  return used == t.size() ? vb::Val(t) : 0;
}

std::string Shown(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.15g", v);
  return buffer;
}
std::string Shown(bool b) { return b ? "True" : "False"; }

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
      tb_BurstThreshold("tb_BurstThreshold", &fraBurstsearch, {"dB", "", 0, 1, -20, 70}, 30.0),
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
  FillAttenuationSteps(cboAttenuatorValue(0), 10, 20);
  FillAttenuationSteps(cboAttenuatorValue(1), 10, 20);
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
  combo.Clear();
  combo.AddItem("0 dB", 0);
  for (vb::Long db = stepDb; db <= maxDb; db += stepDb) combo.AddItem(std::to_string(db) + " dB", db);
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

// --- fraTest: power measurement and switching --------------------------------------

void frmQuorvelUnitTest::PrepareMeasurement() {
  vb::Long ms = cboMeastime.SelectedItemData();
  if (ms < 50) ms = 50;
  Ti_AutoMeasure.Interval(vb::CLng(ms * 1.3 + 100));
  const vb::Long channel = cboMeasChannel.SelectedItemData();
  measChannel_ = channel;
  clsQuorvelUnit& u = *driver_;
  if (channel < 9) u.Frequency(channel, txtFrequency.Value());
  u.SetActivePortClr();
  u.SetActivePort(channel, true, false);
  u.SendActivePorts();
  u.SetMeasTime(ms / 1000.0, channel, false);
  u.SetSampleRate(1000000, channel, false);
  u.SetFrequency(txtFrequency.Value(), channel, false);
  u.SetExtTrigger(false, 0, false);
  u.SendAllSettings();
}

void frmQuorvelUnitTest::MeasureOnce(vb::Long channel) {
  StartTestOnce();
  clsQuorvelUnit& u = *driver_;
  u.MeasurementInit(channel);
  const MeasuredValue result = u.Measure(channel);
  const double maximum = u.GetTraceMax(channel);
  const double minimum = u.GetTraceMin(channel);
  const vb::Long status = u.GetErrorStatus(false);
  if ((status & esOVERFLOW) == 0 && maximum < 999) {
    const std::string unit = host::Require(host_.units).UnitText(result.Unit);
    for (vb::Long i = 0; i <= 2; ++i) lblUnit(i).Caption(unit);
    txtMeasValue(0).Text(FormatValue(result.Value, "0.000"));
    txtMeasValue(1).Text(FormatValue(maximum, "0.000"));
    txtMeasValue(2).Text(FormatValue(minimum, "0.000"));
  } else {
    for (vb::Long i = 0; i <= 2; ++i) txtMeasValue(i).Text("OVER");
  }
}

void frmQuorvelUnitTest::EnableMeasurementControls(bool enabled) {
  for (Control* c : std::initializer_list<Control*>{&fraAttenuation, &fraSwitch, &fraAttenuator, &fraBurstsearch, &cboMeasChannel,
                                                    &cboMeastime, &cb_automeasure, &txtFrequency})
    c->Enabled(enabled);
}

void frmQuorvelUnitTest::EnablePathAttenuationControls(bool enabled) {
  for (Control* c : std::initializer_list<Control*>{&cboPort1, &cboPort2, &cboAttenuatorValue(1), &chkSum, &chkDirect,
                                                    &chkBypass, &cmdSaveAttenuation})
    c->Enabled(enabled);
}

void frmQuorvelUnitTest::cmdMeasure_Click() {
  Traced("cmdMeasure_Click", [&](io::ErrorFrame& f) {
    if (simulation_) return;
    if (!driver_) {
      std::mt19937 random(std::random_device{}());
      std::uniform_real_distribution<float> unit(0, 1);
      for (vb::Long i = 0; i <= 2; ++i) txtMeasValue(i).Text(Shown(static_cast<double>(unit(random))));
      return;
    }
    if (cb_automeasure.Value()) {
      if (cmdMeasure.Caption() == "Start") {
        cmdMeasure.Caption("Stop");
        f.Step([&] { PrepareMeasurement(); });
        EnableMeasurementControls(false);
        Ti_AutoMeasure.Enabled(true);
      } else {
        Ti_AutoMeasure.Enabled(false);
        EnableMeasurementControls(true);
        cmdMeasure.Caption("Start");
      }
      return;
    }
    SetPointer(platform::vbHourglass);
    EnableMeasurementControls(false);
    f.Step([&] { PrepareMeasurement(); });
    f.Step([&] { MeasureOnce(measChannel_); });
    EnableMeasurementControls(true);
    SetPointer(platform::vbDefault);
  });
}

void frmQuorvelUnitTest::cb_automeasure_Click() {
  if (cb_automeasure.Value()) {
    cmdMeasure.Caption("Start");
  } else {
    Ti_AutoMeasure.Enabled(false);
    cmdMeasure.Caption("Measure");
  }
}

void frmQuorvelUnitTest::Ti_AutoMeasure_Timer() {
  if (!fraTest.Visible()) {
    Ti_AutoMeasure.Enabled(false);
    return;
  }
  if (measurementBusy_ || !driver_) return;
  measurementBusy_ = true;
  try {
    MeasureOnce(measChannel_);
  } catch (...) {
    measurementBusy_ = false;
    throw;
  }
  measurementBusy_ = false;
}

void frmQuorvelUnitTest::cboAttenuator_Click() {
  switch (cboAttenuator.SelectedItemData()) {
    case 9: return FillAttenuationSteps(cboAttenuatorValue(0), 1, 30);
    case 10: return FillAttenuationSteps(cboAttenuatorValue(0), 1, 20);
    default: return FillAttenuationSteps(cboAttenuatorValue(0), 10, 20);
  }
}

void frmQuorvelUnitTest::cmdAttenuator_Click() {
  Traced("cmdAttenuator_Click", [&](io::ErrorFrame& f) {
    if (simulation_ || !driver_) return;
    SetPointer(platform::vbHourglass);
    for (Control* c : std::initializer_list<Control*>{&cmdAttenuator, &cboAttenuator, &cboAttenuatorValue(0)}) c->Enabled(false);
    f.Step([&] { StartTestOnce(); });
    f.Step([&] {
      driver_->SetAttenuator(static_cast<double>(cboAttenuatorValue(0).SelectedItemData()), cboAttenuator.ListIndex(), true);
    });
    for (Control* c : std::initializer_list<Control*>{&cmdAttenuator, &cboAttenuator, &cboAttenuatorValue(0)}) c->Enabled(true);
    SetPointer(platform::vbDefault);
  });
}

void frmQuorvelUnitTest::cmdSwitch_Click() {
  Traced("cmdSwitch_Click", [&](io::ErrorFrame& f) {
    if (simulation_ || !driver_) return;
    SetPointer(platform::vbHourglass);
    cmdSwitch.Enabled(false);
    cboPaths.Enabled(false);
    f.Step([&] { StartTestOnce(); });
    f.Step([&] { driver_->SetPath(cboPaths.ListIndex()); });
    cmdSwitch.Enabled(true);
    cboPaths.Enabled(true);
    SetPointer(platform::vbDefault);
  });
}

void frmQuorvelUnitTest::chkExclusive_Click(CheckBox& box, CheckBox& other1, CheckBox& other2) {
  // At most one of Sum, Direct and Bypass is checked.
  if (box.Value()) {
    other1.SetValue(0);
    other2.SetValue(0);
  }
  UpdateAttenuationOptions();
}

void frmQuorvelUnitTest::UpdateAttenuationOptions() {
  if (cboPort1.ListIndex() < 0 || cboPort2.ListIndex() < 0) return;
  const vb::Long p1 = cboPort1.SelectedItemData(), p2 = cboPort2.SelectedItemData();
  auto offer = [](CheckBox& box, bool enabled) {
    box.Enabled(enabled);
    if (!enabled) box.SetValue(0);
  };
  offer(chkSum, (p2 == 9 || p2 == 11 || p2 == 12) && p1 < 9);
  offer(chkDirect, p2 == 12 && p1 <= 8);
  offer(chkBypass, p1 == 10 && p2 != 13);
  ComboBox& steps = cboAttenuatorValue(1);
  if (p1 == p2) {
    steps.Visible(false);
  } else if (p1 < 9 && p2 != 13) {
    FillAttenuationSteps(steps, 10, 20);
    steps.Visible(true);
  } else if ((p1 == 10 || p2 == 10) && p2 != 13) {
    FillAttenuationSteps(steps, 1, 30);
    steps.Visible(true);
  } else {
    steps.Visible(false);
  }
  if (steps.Visible() && chkDirect.Value()) steps.Visible(false);
}

AttTableProp frmQuorvelUnitTest::PathRecord(bool attenuatorEvenWhenHidden) {
  AttTableProp prop;
  prop.FromPort = static_cast<QuorvelPort>(cboPort1.SelectedItemData());
  prop.ToPort = static_cast<QuorvelPort>(cboPort2.SelectedItemData());
  prop.Sum = chkSum.Value() != 0;
  prop.Rx18 = chkDirect.Value() != 0;
  prop.ByPass = chkBypass.Value() != 0;
  ComboBox& steps = cboAttenuatorValue(1);
  prop.Attenuator = (steps.Visible() || attenuatorEvenWhenHidden) ? steps.SelectedItemData() : -1;
  return prop;
}

void frmQuorvelUnitTest::cmdSaveAttenuation_Click() {
  if (cboPort1.SelectedItemData() == cboPort2.SelectedItemData()) {
    if (platform_.messageBox) platform_.messageBox->Show("Ports have to be different", platform::vbCritical, "");
    return;
  }
  if (simulation_ || !driver_) return;
  SetPointer(platform::vbHourglass);
  EnablePathAttenuationControls(false);
  AttTableProp prop = PathRecord(false);
  driver_->SavePathAttenuationTabletoDriver(prop);
  std::string none;
  driver_->SavePathAttFromDriver(prop, none);
  EnablePathAttenuationControls(true);
  UpdateAttenuationOptions();
  SetPointer(platform::vbDefault);
  const std::string file = driver_->GetPathAttenuationFilename(prop);
  if (platform_.messageBox)
    platform_.messageBox->Show(std::string("Attenuation table saved as") + kCrLf + "'" + file + "'", platform::vbInformation,
                               "Quorvel-Unit");
}

// --- fraBurstsearch ----------------------------------------------------------------

void frmQuorvelUnitTest::cb_port_Click(vb::Long index) {
  if (cb_port(index).Value()) {
    // Either any set of the ports 1 to 8, or exactly one of Peak, Comp. and Video.
    for (vb::Long i = 1; i <= 11; ++i) {
      const bool clear = index <= 8 ? i >= 9 : i != index;
      if (clear) cb_port(i).SetValue(0);
    }
  }
  vb::Long checked = 0;
  for (vb::Long i = 1; i <= 11; ++i) checked += cb_port(i).Value();
  cb_Burstsearch_start.Enabled(checked > 0);
}

void frmQuorvelUnitTest::cb_Burstsearch_Abort_Click() {
  if (!driver_ || simulation_) return;
  abortRequest_ = true;
  driver_->MeasurementAbort();
  cb_Burstsearch_Abort.Enabled(false);
}

void frmQuorvelUnitTest::cb_Burstsearch_start_Click() {
  Traced("cb_Burstsearch_start_Click", [&](io::ErrorFrame& f) {
    if (!driver_ || simulation_) {
      lb_bursts.Clear();
      lb_bursts.AddItem("No Zentrix8 hardware present or simulation active");
      lb_BurstInfo.Caption("");
    } else {
      BurstSearch(f);
    }
    cb_Burstsearch_Abort.Enabled(false);
    cb_Burstsearch_start.Enabled(true);
    SetPointer(platform::vbDefault);
  });
}

frmQuorvelUnitTest::BurstSearchPlan frmQuorvelUnitTest::PlanBurstSearch() const {
  BurstSearchPlan plan;
  plan.sampleRate = std::min(std::max(tb_BurstSamplerate.Value(), 1000.0), 10000000.0);
  plan.measTime = std::min(std::max(tb_BurstMeastime.Value(), 0.001), 1000.0);
  plan.threshold = std::min(std::max(tb_BurstThreshold.Value(), -10.0), 70.0);
  for (vb::Long aux = 9; aux <= 11; ++aux)
    if (cb_port(aux).Value()) plan.channel = aux;  // the last checked one wins
  if (plan.channel) return plan;
  for (vb::Long p = 1; p <= 8; ++p)
    if (cb_port(p).Value()) plan.ports.push_back(p);
  if (plan.ports.size() == 1) plan.channel = plan.ports.front();
  if (plan.ports.size() > 1) plan.channel = ppSum;
  return plan;
}

void frmQuorvelUnitTest::BurstSearch(io::ErrorFrame& f) {
  clsQuorvelUnit& u = *driver_;
  cb_Burstsearch_start.Enabled(false);
  cb_Burstsearch_Abort.Enabled(true);
  abortRequest_ = false;
  SetPointer(platform::vbArrowHourglass);
  if (platform_.events) platform_.events->DoEvents();
  lb_bursts.Clear();
  lb_bursts.SetTabStops({50, 100, 150, 200});
  const BurstSearchPlan plan = PlanBurstSearch();
  const double measTime = plan.measTime;
  auto cancelled = [&] {
    lb_bursts.Clear();
    lb_bursts.AddItem("cancelled!");
    lb_BurstInfo.Caption("");
  };
  f.Step([&] { u.SetActivePortClr(); });
  const vb::Long channel = plan.channel;
  if (channel == 0) return;  // no port checked
  if (channel == ppSum) {
    f.Step([&] {
      std::vector<vb::Long> ports = plan.ports;
      u.SetSumPorts(ports);
      u.SendSumPorts();
    });
  } else {
    f.Step([&] {
      u.SetActivePort(channel, true, false);
      u.SendActivePorts();
    });
  }
  f.Step([&] {
    u.SetFrequency(txtFrequency.Value(), 0, false);
    u.SetMeasTime(measTime, 0, false);
    u.SetSampleRate(vb::CLng(plan.sampleRate), 0, false);
    u.SetExtTrigger(false, 0, false);
    u.SetBurstSearchLevel(plan.threshold, 0, false);
    u.SetTriggerOffset(0, 0, false);
    u.SendAllSettings();
  });
  for (vb::Long i = 0; i <= 5; ++i) txt_burstResult(i).Text("");
  lb_ErrStatus.Caption("");
  vb::Long errors = 0;
  auto showErrors = [&] {
    errors |= u.GetErrorStatus(true);
    lb_ErrStatus.Caption(u.GetErrorDescription(errors));
  };
  lb_bursts.AddItem(std::string("Burst no.:") + kTab + "Start" + kTab + "On-time" + kTab + "RMS level");
  lb_bursts.AddItem(std::string(" ") + kTab + "[ms]" + kTab + "[ms]" + kTab + "[dBm]");
  f.Step([&] {
    u.GetErrorStatus(true);
    u.MeasurementInit(channel);
  });
  const Clock::time_point started = Clock::now();
  for (;;) {
    host::Require(host_.time).Wait(100);
    if (platform_.events) platform_.events->DoEvents();  // the Abort button is clicked in here
    if (abortRequest_) return cancelled();
    if (SecondsSince(started) >= measTime) break;
  }
  std::string timing;
  Clock::time_point noted = Clock::now();
  f.Step([&] { u.BurstSearchInit(channel); });
  showErrors();
  const vb::Long count = f.Step([&] { return u.GetBurstCount(channel); });
  showErrors();
  if (abortRequest_) return cancelled();
  timing = "GetBursts: " + FormatValue(SecondsSince(noted), 3) + " sec." + kCrLf;
  txt_burstResult(0).Text(std::to_string(count));
  const std::pair<vb::Long, double (clsQuorvelUnit::*)(vb::Long)> results[] = {
      {1, &clsQuorvelUnit::GetDutyCycle},
      {2, &clsQuorvelUnit::GetMediumUtilization},
      {4, &clsQuorvelUnit::GetTraceMax},
      {5, &clsQuorvelUnit::GetTraceMin}};
  for (const auto& entry : results) {
    const auto read = entry.second;  // a plain local: lambdas may capture it on every compiler
    txt_burstResult(entry.first).Text(FormatValue(f.Step([&] { return (u.*read)(channel); }), 3));
    showErrors();
  }
  noted = Clock::now();
  txt_burstResult(3).Text(FormatValue(f.Step([&] { return u.GetRMS(channel); }), 3));
  timing += "GetRMS: " + FormatValue(SecondsSince(noted), 3) + " sec.";
  f.Step([&] { u.GetBurstStartTime(channel, burstStart_); });
  showErrors();
  f.Step([&] { u.GetBurstOnTime(channel, burstOnTime_); });
  showErrors();
  f.Step([&] { u.GetBurstLevel(channel, burstLevel_); });
  showErrors();
  const vb::Long strongest = f.Step([&] { return u.GetBurstMaxLevelIndex(channel); });
  showErrors();
  const auto upper = [](const std::vector<double>& v) { return static_cast<vb::Long>(v.size()) - 1; };
  if (upper(burstStart_) != count - 1 || upper(burstOnTime_) != count - 1 || upper(burstLevel_) != count - 1) {
    lb_bursts.AddItem("No Bursts found");
  } else {
    for (vb::Long i = 0; i < count; ++i) {
      const std::size_t k = static_cast<std::size_t>(i);
      lb_bursts.AddItem(BurstLine(i + 1, burstStart_[k], burstOnTime_[k], burstLevel_[k], i + 1 == strongest));
    }
  }
  lb_BurstInfo.Caption(timing);
}

std::string frmQuorvelUnitTest::BurstLine(vb::Long number, double start, double onTime, double level, bool strongest) {
  // Values of 1e99 and above are the unit's "none".
  auto column = [](double v, double scale, vb::Long decimals) {
    return v < 1e99 ? FormatValue(v * scale, decimals) : std::string("--");
  };
  std::string line = FormatValue(number, "00000") + ":" + kTab + column(start, 1000, 4) + kTab + column(onTime, 1000, 4) +
                     kTab + column(level, 1, 3);
  return strongest ? line + " -> Max" : line;
}

// --- fraFWUpdate -----------------------------------------------------------------------

void frmQuorvelUnitTest::cmdSelFirmware_Click() {
  if (!simulation_ && platform_.fileDialog) {
    const std::string chosen = platform_.fileDialog->ShowOpen("All Files (*.*)|*.*|Zentrix Firmware (*.fw)|*.fw", 2, firmwarePath_);
    if (!chosen.empty()) {
      firmwarePath_ = chosen;
      const std::size_t slash = chosen.find_last_of("\\/");
      firmwareFileName_ = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
      lb_fw_filename(1).Caption(firmwareFileName_);
      lb_fw_filename(1).ToolTipText(chosen);
      if (chosen.size() >= 3 && vb::Upper(chosen.substr(chosen.size() - 3)) == ".FW") cmdStartFirwareUpdate.Enabled(true);
    }
  }
  lb_fw_status.Caption("");
}

void frmQuorvelUnitTest::cmdStartFirwareUpdate_Click() {
  cmdStartFirwareUpdate.Enabled(false);
  fraFWUpdate.Enabled(false);
  fraTest.Enabled(false);
  lb_fw_status.Caption("");
  auto reenable = [&] {
    cmdStartFirwareUpdate.Enabled(true);
    fraFWUpdate.Enabled(true);
    fraTest.Enabled(true);
  };
  const long answer = platform_.messageBox
                          ? platform_.messageBox->Show("Are you sure to perform the firmware upload to the device?",
                                                       platform::vbYesNoCancel + platform::vbExclamation, "")
                          : platform::vbNo;
  if (answer == platform::vbYes && driver_) {
    int result = 0;
    try {
      result = driver_->Transfer_FirmwareFile(firmwarePath_);
    } catch (...) {
      // A failed transfer must not leave the tab unusable: say so, then pass the error on.
      lb_fw_status.Caption("Firmware update failed !");
      reenable();
      throw;
    }
    if (result < 0) {
      lb_fw_status.Caption("Firmware update failed !");
      if (platform_.messageBox) platform_.messageBox->Show("Selected file is not a Zentrix firmware.", platform::vbCritical, "Error");
    } else if (result == 1) {
      driver_->Device().clsDevice_Status(0);
      const std::string text = std::string("Firmware sucessfull uploaded to the Zentrix") + kCrLf + kCrLf +
                               "Device now is rebooting." + kCrLf + "State is set to virtual." + kCrLf + kCrLf +
                               "Please wait until the device has restarted.";
      lb_fw_status.Caption(text);
      lb_fw_version(1).Caption("");
      if (platform_.messageBox) platform_.messageBox->Show(text, platform::vbInformation, "");
    }
  }
  reenable();
}

// --- fraDebug: the method check ---------------------------------------------------------

void frmQuorvelUnitTest::cmdCheck_Click() {
  if (simulation_) {
    checkResult_ = "No Data for Simulation !";
    if (platform_.messageBox) platform_.messageBox->Show(checkResult_, platform::vbInformation, "");
    return;
  }
  txtCheckExtraResult.Text("");
  checkResult_.clear();
  if (driver_) checkResult_ = RunMethod(cboMethods.ListIndex());
  txtCheckExtraResult.Text(checkResult_);
}

std::string frmQuorvelUnitTest::RunMethod(vb::Long index) {
  clsQuorvelUnit& u = *driver_;
  const vb::Long ch = cboMeasChannel.SelectedItemData();
  const double extra = CheckNumber(txtCheckExtra.Text());
  const double value = CheckNumber(txtCheckExtraValue.Text());
  std::vector<double> list;
  switch (index) {
    case 0: u.SetPart(vb::CLng(extra), vb::CLng(value)); return {};
    case 1: return Shown(static_cast<double>(u.GetPart(vb::CLng(extra))));
    case 2: {
      AttTableProp prop = PathRecord(true);
      return Shown(u.GetPathAttenuation(txtFrequency.Value(), prop, 0));
    }
    case 3: cmdAttenuator_Click(); return {};
    case 4: return Shown(u.GetAttenuator(cboAttenuator.ListIndex(), true));
    case 5: u.SetMeasTime(extra, ch, true); return {};
    case 6: return Shown(u.GetMeasTime(ch, true));
    case 7: u.SetSampleRate(vb::CLng(extra), ch, true); return {};
    case 8: return Shown(static_cast<double>(u.GetSampleRate(ch, true)));
    case 9: u.SetBurstSearchLevel(extra, ch, true); return {};
    case 10: return Shown(u.GetBurstSearchLevel(ch, true));
    case 11: u.SetAttenuation(extra, ch, true); return {};
    case 12: return Shown(u.GetAttenuation(ch, true));
    case 13: u.SetBeamformingGain(extra, true); return {};
    case 14: return Shown(u.GetBeamformingGain(true));
    case 15: u.SetGain(extra, ch, true); return {};
    case 16: return Shown(u.GetGain(ch, true));
    case 17: u.SetFrequency(txtFrequency.Value(), ch, true); return {};
    case 18: return Shown(u.GetFrequency(ch, true));
    case 19: u.GetSumPorts(true); return {};
    case 20: u.SetActivePort(ch, true, true); return {};
    case 21: u.GetActivePorts(true); return {};
    case 22: u.SetExtTrigger(true, ch, true); return {};
    case 23: return Shown(u.GetExtTrigger(ch, true));
    case 24: u.SetTriggerOffset(extra, ch, true); return {};
    case 25: return Shown(u.GetTriggerOffset(ch, true));
    case 26: u.MeasurementInit(ch); return {};
    case 27: return Shown(u.Measure(ch).Value);
    case 28: u.SendTriggerOut(); return {};
    case 29: u.SetTriggerOutWithIn(true, true); return {};
    case 30: return Shown(u.GetTriggerOutWithIn(true));
    case 31: u.SetTriggerOutWithMeasurement(true, true); return {};
    case 32: return Shown(u.GetTriggerOutWithMeasurement(true));
    case 33: u.GetTrace(ch, list); return {};
    case 34: return Shown(u.GetTraceMin(ch));
    case 35: return Shown(u.GetTraceMax(ch));
    case 36: return Shown(u.GetMediumUtilization(ch));
    case 37: return Shown(u.GetRMS(ch));
    case 38: return Shown(static_cast<double>(u.GetBurstCount(ch)));
    case 39: u.GetBurstStartTime(ch, list); return {};
    case 40: u.GetBurstOnTime(ch, list); return {};
    case 41: u.GetBurstLevel(ch, list); return {};
    case 42: return Shown(static_cast<double>(u.GetBurstMaxLevelIndex(ch)));
    case 43: return Shown(u.GetDutyCycle(ch));
    case 44: u.SetCalMinVideoLevel(extra); return {};
    case 45: return Shown(u.GetCalMinVideoLevel());
    case 46: u.SetCalMaxVideoLevel(extra); return {};
    case 47: return Shown(u.GetCalMaxVideoLevel());
    default: return "Method is not implemented now !";
  }
}

}  // namespace dialog

// frmQuorvelUnitTest: the driver's service form, as a model.  Four frames:
// fraTest (measurement and switching), fraBurstsearch and fraFWUpdate are
// handed to the host's device dialog as pages; fraDebug (service functions
// and the method check) stays on the form.  Every control is a public member
// under its own name, control arrays are called with their index
// (cb_port(3)); a test or a renderer acts as the user does through the
// controls (cmdMeasure.Click(), cb_port(2).Click(), cboPaths.SetListIndex(5),
// Ti_AutoMeasure.Tick()).  The form works only through the driver's public
// methods and its host device interface.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/Export.h"
#include "dialog/Controls.h"
#include "driver/BurstSearch.h"
#include "driver/ServiceForm.h"
#include "driver/Types.h"
#include "host/Services.h"
#include "io/Trace.h"
#include "platform/Platform.h"

class clsQuorvelUnit;

namespace dialog {

// While it lives, device dialogs of type 4 make this form; then the form
// that was registered before is made again.
class QUORVEL_API ServiceFormRegistration {
 public:
  ServiceFormRegistration();
  ~ServiceFormRegistration();
  ServiceFormRegistration(const ServiceFormRegistration&) = delete;
  ServiceFormRegistration& operator=(const ServiceFormRegistration&) = delete;

 private:
  ServiceFormFactory previous_;
};

class QUORVEL_API frmQuorvelUnitTest : public IServiceForm {
 public:
  static constexpr std::string_view kObjectName = "frmQuorvelUnitTest";
  static constexpr std::size_t kMethodCount = 48;
  // The method check panel's entries, index 0 to 47.
  static const std::vector<std::string>& MethodNames();

  frmQuorvelUnitTest(host::Services host, platform::Services platform);
  ~frmQuorvelUnitTest() override;

  // --- the seam to the driver ----------------------------------------------
  void SetParams(vb::Long Mode, clsQuorvelUnit& quorvelUnit) override;
  vb::Long FrameHandle(ServiceFrame frame) const override;
  void SetHelpContextID(vb::Long context) override { helpContextID_ = context; }
  vb::Long HelpContextID() const { return helpContextID_; }
  void SetFirmwareStatus(const std::string& caption) override { lb_fw_status.Caption(caption); }

  void SetStatus();
  void Form_Load();
  // The form closes: the driver's test stops and the form lets the driver go.
  void Form_Unload();
  const std::string& Caption() const { return caption_; }
  bool Simulation() const { return simulation_; }
  // All four frames, in the order of the form's layout.
  std::vector<const Control*> Frames() const { return {&fraTest, &fraBurstsearch, &fraFWUpdate, &fraDebug}; }

  // --- fraTest: power measurement and switching ------------------------------
  Frame fraTest{"fraTest", Kind::Frame};
  Frame fraPowerMeas{"fraPowerMeas", Kind::Frame, &fraTest};
  Label lblFrqCorr{"lblFrqCorr", Kind::Label, &fraPowerMeas};
  ComboBox cboMeasChannel{"cboMeasChannel", Kind::ComboBox, &fraPowerMeas};
  Label lblFrequency{"lblFrequency", Kind::Label, &fraPowerMeas};
  NumericTextBox txtFrequency;
  Label lblMeastime{"lblMeastime", Kind::Label, &fraPowerMeas};
  ComboBox cboMeastime{"cboMeastime", Kind::ComboBox, &fraPowerMeas};
  CommandButton cmdMeasure{"cmdMeasure", Kind::CommandButton, &fraPowerMeas};
  CheckBox cb_automeasure{"cb_automeasure", Kind::CheckBox, &fraPowerMeas};
  Timer Ti_AutoMeasure{"Ti_AutoMeasure", Kind::Timer, &fraPowerMeas};
  ControlArray<Label> lblMeasValue;
  ControlArray<TextBox> txtMeasValue;
  ControlArray<Label> lblUnit;
  Frame fraAttenuator{"fraAttenuator", Kind::Frame, &fraTest};
  ComboBox cboAttenuator{"cboAttenuator", Kind::ComboBox, &fraAttenuator};
  ControlArray<ComboBox> cboAttenuatorValue;  // (0) in fraAttenuator, (1) in fraAttenuation
  CommandButton cmdAttenuator{"cmdAttenuator", Kind::CommandButton, &fraAttenuator};
  Frame fraSwitch{"fraSwitch", Kind::Frame, &fraTest};
  ComboBox cboPaths{"cboPaths", Kind::ComboBox, &fraSwitch};
  CommandButton cmdSwitch{"cmdSwitch", Kind::CommandButton, &fraSwitch};
  Frame fraAttenuation{"fraAttenuation", Kind::Frame, &fraTest};
  Label Label1{"Label1", Kind::Label, &fraAttenuation};
  ComboBox cboPort1{"cboPort1", Kind::ComboBox, &fraAttenuation};
  Label Label3{"Label3", Kind::Label, &fraAttenuation};
  ComboBox cboPort2{"cboPort2", Kind::ComboBox, &fraAttenuation};
  Label Label2{"Label2", Kind::Label, &fraAttenuation};
  CheckBox chkSum{"chkSum", Kind::CheckBox, &fraAttenuation};
  CheckBox chkDirect{"chkDirect", Kind::CheckBox, &fraAttenuation};
  CheckBox chkBypass{"chkBypass", Kind::CheckBox, &fraAttenuation};
  CommandButton cmdSaveAttenuation{"cmdSaveAttenuation", Kind::CommandButton, &fraAttenuation};
  ControlArray<Label> lblSimulation;  // (0) on fraTest, (1) on fraBurstsearch
  Label lblSpeed{"lblSpeed", Kind::Label, &fraTest};

  // --- fraBurstsearch -----------------------------------------------------------
  Frame fraBurstsearch{"fraBurstsearch", Kind::Frame};
  Frame fraBurstPorts{"fraBurstPorts", Kind::Frame, &fraBurstsearch};
  ControlArray<CheckBox> cb_port;  // 1..8 ports, 9 Peak, 10 Comp., 11 Video
  ControlArray<Label> lb_burst;    // 0..2 and 4..9
  NumericTextBox tb_BurstMeastime;
  NumericTextBox tb_BurstSamplerate;
  NumericTextBox tb_BurstThreshold;
  CommandButton cb_Burstsearch_start{"cb_Burstsearch_start", Kind::CommandButton, &fraBurstsearch};
  CommandButton cb_Burstsearch_Abort{"cb_Burstsearch_Abort", Kind::CommandButton, &fraBurstsearch};
  Frame fr_BurstsearchResults{"fr_BurstsearchResults", Kind::Frame, &fraBurstsearch};
  ListBox lb_bursts{"lb_bursts", Kind::ListBox, &fr_BurstsearchResults};
  ControlArray<TextBox> txt_burstResult;
  Label lb_ErrStatus{"lb_ErrStatus", Kind::Label, &fraBurstsearch};
  Label lb_BurstInfo{"lb_BurstInfo", Kind::Label, &fraBurstsearch};

  // --- fraFWUpdate ----------------------------------------------------------------
  Frame fraFWUpdate{"fraFWUpdate", Kind::Frame};
  ControlArray<Label> lb_fw_version;
  CommandButton cmdSelFirmware{"cmdSelFirmware", Kind::CommandButton, &fraFWUpdate};
  ControlArray<Label> lb_fw_filename;
  CommandButton cmdStartFirwareUpdate{"cmdStartFirwareUpdate", Kind::CommandButton, &fraFWUpdate};
  Label lb_fw_status{"lb_fw_status", Kind::Label, &fraFWUpdate};

  // --- fraDebug: service functions and the method check ------------------------
  Frame fraDebug{"fraDebug", Kind::Frame};
  CommandButton cb_start_save{"cb_start_save", Kind::CommandButton, &fraDebug};
  TextBox txtDataFolder{"txtDataFolder", Kind::TextBox, &fraDebug};
  CommandButton cmdDataFolder{"cmdDataFolder", Kind::CommandButton, &fraDebug};
  CommandButton cmdSetCalData{"cmdSetCalData", Kind::CommandButton, &fraDebug};
  Label lblCheck{"lblCheck", Kind::Label, &fraDebug};
  Label lblCheckValue{"lblCheckValue", Kind::Label, &fraDebug};
  ComboBox cboMethods{"cboMethods", Kind::ComboBox, &fraDebug};
  CommandButton cmdCheck{"cmdCheck", Kind::CommandButton, &fraDebug};
  TextBox txtCheckExtra{"txtCheckExtra", Kind::TextBox, &fraDebug};
  TextBox txtCheckExtraValue{"txtCheckExtraValue", Kind::TextBox, &fraDebug};
  TextBox txtCheckExtraResult{"txtCheckExtraResult", Kind::TextBox, &fraDebug};

  // What the next burst search uses: the boxes' values bounded as the search
  // bounds them, the channel (1..8, 9..11, -1 for a sum, 0 when no port is
  // checked) and the checked ports 1..8.
  BurstSearchPlan PlanBurstSearch() const;
  // What the last burst search found.
  const BurstSearchResult& LastSearch() const { return lastSearch_; }

  // A number as the burst list and results show it: "0" and n decimals, or
  // a pattern ("00000"); always with a point.
  static std::string FormatValue(double value, vb::Long decimals);
  static std::string FormatValue(double value, std::string_view pattern);
  // One line of the burst list: number, start and on-time in ms, level, the strongest marked.
  static std::string BurstLine(vb::Long number, double start, double onTime, double level, bool strongest);

 private:
  template <class F>
  void Traced(std::string_view name, F&& body) {
    io::Traced(host::Require(host_.logger), {kObjectName, name}, std::forward<F>(body));
  }
  void Wire();
  void SetComboDropHeight(ComboBox& combo, vb::Long heightPixels);
  static void FillAttenuationSteps(ComboBox& combo, vb::Long stepDb, vb::Long maxDb);
  void SetPointer(long pointer);
  void StartTestOnce();

  // fraTest
  void PrepareMeasurement();
  void MeasureOnce(vb::Long channel);
  void EnableMeasurementControls(bool enabled);
  void EnablePathAttenuationControls(bool enabled);
  void UpdateAttenuationOptions();
  void cmdMeasure_Click();
  void cb_automeasure_Click();
  void Ti_AutoMeasure_Timer();
  void cboAttenuator_Click();
  void cmdAttenuator_Click();
  void cmdSwitch_Click();
  void chkExclusive_Click(CheckBox& box, CheckBox& other1, CheckBox& other2);
  void cmdSaveAttenuation_Click();
  AttTableProp PathRecord(bool attenuatorEvenWhenHidden);

  // fraBurstsearch
  void cb_port_Click(vb::Long index);
  void cb_Burstsearch_start_Click();
  void cb_Burstsearch_Abort_Click();
  void BurstSearch(io::ErrorFrame& f);

  // fraFWUpdate
  void cmdSelFirmware_Click();
  void cmdStartFirwareUpdate_Click();

  // fraDebug
  void cmdCheck_Click();
  std::string RunMethod(vb::Long index);

  host::Services host_;
  platform::Services platform_;
  std::string caption_ = "Quorvel Unit";
  std::vector<vb::Long> frameHandles_;
  vb::Long helpContextID_ = 0;
  clsQuorvelUnit* driver_ = nullptr;
  bool loaded_ = false;
  bool simulation_ = false;
  bool abortRequest_ = false;
  bool testStarted_ = false;
  bool measurementBusy_ = false;
  vb::Long measChannel_ = 0;
  BurstSearchResult lastSearch_;
  std::string firmwarePath_, firmwareFileName_;
  std::string checkResult_;
};

}  // namespace dialog

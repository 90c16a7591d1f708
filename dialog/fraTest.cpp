// The power measurement and switching frame (fraTest): measuring once or
// continuously, the attenuators, the signal paths and their tables.
#include "dialog/frmQuorvelUnitTest.h"

#include <algorithm>
#include <random>

#include "dialog/Texts.h"
#include "driver/clsQuorvelUnit.h"
#include "driver/modMain.h"
#include "platform/PointerRestore.h"

namespace dialog {

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
    case 9: return FillAttenuationSteps(cboAttenuatorValue(0), zentrix8::kCompanionAttenuator.stepDb, zentrix8::kCompanionAttenuator.maxDb);
    case 10: return FillAttenuationSteps(cboAttenuatorValue(0), zentrix8::kBypassAttenuator.stepDb, zentrix8::kBypassAttenuator.maxDb);
    default: return FillAttenuationSteps(cboAttenuatorValue(0), zentrix8::kDutAttenuator.stepDb, zentrix8::kDutAttenuator.maxDb);
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

}  // namespace dialog

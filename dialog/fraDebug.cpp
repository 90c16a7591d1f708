// The service functions frame (fraDebug): one driver method called by
// number with the values typed in, its answer shown.
#include "dialog/frmQuorvelUnitTest.h"

#include <string>

#include "dialog/Texts.h"
#include "driver/clsQuorvelUnit.h"

namespace dialog {

namespace {

// A text the way the method panel reads a number: a numeric text (with a
// point, whatever the locale) gives its number, anything else 0.
double CheckNumber(const std::string& text) { return vb::ParseNumber(vb::Trim(text)).value_or(0); }

}  // namespace

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

// The burst search frame (fraBurstsearch): the ports to search, the
// search itself (driver/BurstSearch.h) and the burst list.
#include "dialog/frmQuorvelUnitTest.h"

#include <algorithm>

#include "dialog/Texts.h"
#include "driver/BurstSearch.h"
#include "driver/clsQuorvelUnit.h"

namespace dialog {

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

BurstSearchPlan frmQuorvelUnitTest::PlanBurstSearch() const {
  BurstSearchPlan plan;
  plan.frequency = txtFrequency.Value();
  plan.sampleRate = vb::CLng(std::min(std::max(tb_BurstSamplerate.Value(), 1000.0), 10000000.0));
  plan.measTime = std::min(std::max(tb_BurstMeastime.Value(), 0.001), 1000.0);
  plan.threshold = std::clamp(tb_BurstThreshold.Value(), zentrix8::kMinThreshold, zentrix8::kMaxThreshold);
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
  cb_Burstsearch_start.Enabled(false);
  cb_Burstsearch_Abort.Enabled(true);
  abortRequest_ = false;
  SetPointer(platform::vbArrowHourglass);
  if (platform_.events) platform_.events->DoEvents();
  lb_bursts.Clear();
  lb_bursts.SetTabStops({50, 100, 150, 200});
  const BurstSearchPlan plan = PlanBurstSearch();
  std::string timing;
  BurstSearchHooks hooks;
  hooks.run = [&](BurstSearchStep, const std::function<void()>& call) { f.Step(call); };
  hooks.wait = [&] {
    host::Require(host_.time).Wait(100);
    if (platform_.events) platform_.events->DoEvents();  // the Abort button is clicked in here
    return !abortRequest_;
  };
  hooks.after = [&](BurstSearchStep step, const BurstSearchResult& r) {
    using S = BurstSearchStep;
    switch (step) {
      case S::SendSettings:
        for (vb::Long i = 0; i <= 5; ++i) txt_burstResult(i).Text("");
        lb_ErrStatus.Caption("");
        lb_bursts.AddItem(std::string("Burst no.:") + kTab + "Start" + kTab + "On-time" + kTab + "RMS level");
        lb_bursts.AddItem(std::string(" ") + kTab + "[ms]" + kTab + "[ms]" + kTab + "[dBm]");
        return true;
      case S::MeasurementInit:
      case S::Measuring:
      case S::ClearPorts:
      case S::ChoosePorts: return true;
      case S::Rms:
        txt_burstResult(3).Text(FormatValue(r.rms, 3));
        timing += "GetRMS: " + FormatValue(r.rmsSeconds, 3) + " sec.";
        return true;
      default: break;
    }
    lb_ErrStatus.Caption(driver_->GetErrorDescription(r.errorStatus));
    switch (step) {
      case S::Count:
        if (abortRequest_) return false;
        timing = "GetBursts: " + FormatValue(r.searchSeconds, 3) + " sec." + kCrLf;
        txt_burstResult(0).Text(std::to_string(r.count));
        break;
      case S::DutyCycle: txt_burstResult(1).Text(FormatValue(r.dutyCycle, 3)); break;
      case S::MediumUtilization: txt_burstResult(2).Text(FormatValue(r.mediumUtilization, 3)); break;
      case S::TraceMax: txt_burstResult(4).Text(FormatValue(r.traceMax, 3)); break;
      case S::TraceMin: txt_burstResult(5).Text(FormatValue(r.traceMin, 3)); break;
      default: break;
    }
    return true;
  };
  BurstSearchResult& r = lastSearch_;
  r = {};
  RunBurstSearch(*driver_, plan, hooks, r);
  if (plan.channel == 0) return;  // no port checked
  if (r.cancelled) {
    lb_bursts.Clear();
    lb_bursts.AddItem("cancelled!");
    lb_BurstInfo.Caption("");
    return;
  }
  if (!r.Listed()) {
    lb_bursts.AddItem("No Bursts found");
  } else {
    for (vb::Long i = 0; i < r.count; ++i) {
      const std::size_t k = static_cast<std::size_t>(i);
      lb_bursts.AddItem(BurstLine(i + 1, r.start[k], r.onTime[k], r.level[k], i + 1 == r.strongest));
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

}  // namespace dialog

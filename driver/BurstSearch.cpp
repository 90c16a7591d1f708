#include "driver/BurstSearch.h"

#include <chrono>

#include "driver/clsQuorvelUnit.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

}  // namespace

void RunBurstSearch(clsQuorvelUnit& u, const BurstSearchPlan& plan, const BurstSearchHooks& hooks,
                    BurstSearchResult& r) {
  const vb::Long channel = plan.channel;
  auto run = [&](BurstSearchStep step, const std::function<void()>& call) {
    if (hooks.run)
      hooks.run(step, call);
    else
      call();
  };
  auto after = [&](BurstSearchStep step) { return !hooks.after || hooks.after(step, r); };
  // Every result read is followed by the error status it left, kept for the caller.
  auto read = [&](BurstSearchStep step, const std::function<void()>& call) {
    run(step, call);
    r.errorStatus |= u.GetErrorStatus(true);
    return after(step);
  };

  run(BurstSearchStep::ClearPorts, [&] { u.SetActivePortClr(); });
  if (channel == 0) return;  // no port chosen
  run(BurstSearchStep::ChoosePorts, [&] {
    if (channel == ppSum) {
      std::vector<vb::Long> ports = plan.ports;
      u.SetSumPorts(ports);
      u.SendSumPorts();
    } else {
      u.SetActivePort(channel, true, false);
      u.SendActivePorts();
    }
  });
  run(BurstSearchStep::SendSettings, [&] {
    u.SetFrequency(plan.frequency, 0, false);
    u.SetMeasTime(plan.measTime, 0, false);
    u.SetSampleRate(plan.sampleRate, 0, false);
    u.SetExtTrigger(false, 0, false);
    u.SetBurstSearchLevel(plan.threshold, 0, false);
    u.SetTriggerOffset(0, 0, false);
    if (hooks.beforeSend && !hooks.beforeSend()) {
      r.refused = true;
      return;
    }
    u.SendAllSettings();
  });
  if (r.refused || !after(BurstSearchStep::SendSettings)) {
    r.refused = true;
    return;
  }
  run(BurstSearchStep::MeasurementInit, [&] {
    u.GetErrorStatus(true);
    u.MeasurementInit(channel);
  });
  after(BurstSearchStep::MeasurementInit);
  const Clock::time_point started = Clock::now();
  for (;;) {
    if (hooks.wait && !hooks.wait()) {
      r.cancelled = true;
      return;
    }
    const double elapsed = SecondsSince(started);
    if (hooks.measuring) hooks.measuring(elapsed);
    if (elapsed >= plan.measTime) break;
  }
  if (!after(BurstSearchStep::Measuring)) {
    r.cancelled = true;
    return;
  }

  Clock::time_point noted = Clock::now();
  read(BurstSearchStep::SearchInit, [&] { u.BurstSearchInit(channel); });
  run(BurstSearchStep::Count, [&] { r.count = u.GetBurstCount(channel); });
  r.errorStatus |= u.GetErrorStatus(true);
  r.searchSeconds = SecondsSince(noted);
  if (!after(BurstSearchStep::Count)) {
    r.cancelled = true;
    return;
  }
  read(BurstSearchStep::DutyCycle, [&] { r.dutyCycle = u.GetDutyCycle(channel); });
  read(BurstSearchStep::MediumUtilization, [&] { r.mediumUtilization = u.GetMediumUtilization(channel); });
  read(BurstSearchStep::TraceMax, [&] { r.traceMax = u.GetTraceMax(channel); });
  read(BurstSearchStep::TraceMin, [&] { r.traceMin = u.GetTraceMin(channel); });
  noted = Clock::now();
  run(BurstSearchStep::Rms, [&] { r.rms = u.GetRMS(channel); });  // no status read after the RMS
  r.rmsSeconds = SecondsSince(noted);
  after(BurstSearchStep::Rms);
  read(BurstSearchStep::StartTimes, [&] { u.GetBurstStartTime(channel, r.start); });
  read(BurstSearchStep::OnTimes, [&] { u.GetBurstOnTime(channel, r.onTime); });
  read(BurstSearchStep::Levels, [&] { u.GetBurstLevel(channel, r.level); });
  read(BurstSearchStep::Strongest, [&] { r.strongest = u.GetBurstMaxLevelIndex(channel); });
}

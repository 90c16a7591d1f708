// The main job: a burst search and a power measurement as a test engineer
// reads them, and the trace read-out.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <optional>
#include <fstream>
#include <sstream>

#include "driver/BurstSearch.h"
#include "quorvel/Commands.h"
#include "quorvel/CsvOut.h"
#include "quorvel/JsonResult.h"
#include "quorvel/Session.h"
#include "platform/Files.h"

#include <nlohmann/json.hpp>

namespace quorvel {

using Json = nlohmann::ordered_json;

namespace {

constexpr char TAB = '\t';

// One burst search: what was asked and what was found.
struct BurstSearch : BurstSearchResult {
  BurstSearchPlan plan;
  int verdict = 0;  // kUsage: refused before sending; kUnitErrors: the unit refused a setting
};

// The sum of two or more ports, else the single one (the first of --sum, or the channel).
void ChoosePorts(BurstSearchPlan& plan, const std::optional<std::vector<vb::Long>>& sum, long channel) {
  if (sum && sum->size() >= 2) {
    plan.ports = *sum;
    std::sort(plan.ports.begin(), plan.ports.end());
    plan.ports.erase(std::unique(plan.ports.begin(), plan.ports.end()), plan.ports.end());
    plan.channel = ppSum;
  } else {
    plan.channel = sum ? sum->front() : channel;
    plan.ports = {plan.channel};
  }
}

// The service panel's burst search: set up, measure, search, read.  While
// the unit measures, the wait goes 100 ms at a time through the host, so the
// user's Ctrl-C (the host's stop request) can end it.
BurstSearch RunBurstSearch(Session& s, const std::optional<std::vector<vb::Long>>& sum, long channel) {
  const Options& o = s.options();
  clsQuorvelUnit& u = s.unit();
  BurstSearch r;
  BurstSearchPlan& plan = r.plan;
  plan.frequency = o.frequency.value_or(2.4e9);
  plan.sampleRate = o.sampleRate.value_or(1000000);
  plan.measTime = o.measTime.value_or(0.05);
  plan.threshold = o.threshold.value_or(zentrix8::kDefaultThreshold);
  ChoosePorts(plan, sum, channel);
  const bool progress = plan.measTime >= 1 && s.Interactive();

  BurstSearchHooks hooks;
  hooks.beforeSend = [&] {
    const vb::Long lead = plan.ports.front() >= 1 && plan.ports.front() <= 8 ? plan.ports.front() : 1;
    if (CheckSampling(s, lead, plan.sampleRate) == kOk) return true;
    r.verdict = kUsage;
    return false;
  };
  hooks.after = [&](BurstSearchStep step, const BurstSearchResult&) {
    switch (step) {
      case BurstSearchStep::SendSettings:
        if (!s.UnitRefused()) return true;
        r.verdict = kUnitErrors;
        return false;
      case BurstSearchStep::Measuring:
        if (progress) s.err() << "\n";
        return true;
      case BurstSearchStep::Count: return !s.host().StopRequested();
      default: return true;
    }
  };
  hooks.wait = [&] {
    s.host().Wait(100);
    return !s.host().StopRequested();
  };
  hooks.measuring = [&](double elapsed) {
    if (progress)
      s.err() << "\rmeasuring ... " << vb::Format(std::min(elapsed, plan.measTime), "0.0") << " of "
              << Num(plan.measTime) << " s" << std::flush;
  };
  RunBurstSearch(u, plan, hooks, r);
  if (r.cancelled) u.MeasurementAbort();
  return r;
}

std::string ChannelName(long channel, const std::vector<vb::Long>& ports) {
  if (channel == ppSum) {
    std::string names;
    for (vb::Long p : ports) names += (names.empty() ? "" : " + ") + std::string("DUT") + std::to_string(p);
    return "the sum of " + names;
  }
  switch (channel) {
    case ppGenerator: return "the generator channel";
    case ppCompanion: return "the companion channel";
    case ppVideo: return "the video channel";
    default: return "DUT" + std::to_string(channel);
  }
}

// A burst value as the service panel shows it ("--" for a value it cannot show).
std::string Cell(double v, const char* pattern) { return v < 1e99 ? vb::Format(v, pattern) : std::string("--"); }

void PrintBurstSearch(Session& s, const BurstSearch& r) {
  std::ostream& out = s.out();
  out << "Burst search on " << ChannelName(r.plan.channel, r.plan.ports) << "\n"
      << "  Settings       " << Hz(r.plan.frequency) << ", " << Num(r.plan.measTime * 1000) << " ms at " << r.plan.sampleRate
      << " samples/s, bursts from " << Num(r.plan.threshold) << " dB below the peak\n";
  if (r.cancelled) {
    out << "  cancelled!\n";
    return;
  }
  out << "  Bursts         " << r.count << "\n"
      << "  Duty cycle     " << vb::Format(r.dutyCycle, "0.000") << " %\n"
      << "  Medium use     " << vb::Format(r.mediumUtilization, "0.000") << " %\n"
      << "  RMS            " << Dbm(r.rms) << "\n"
      << "  Trace max      " << Dbm(r.traceMax) << "\n"
      << "  Trace min      " << Dbm(r.traceMin) << "\n";
  if (r.errorStatus) out << "  Error status   " << s.unit().GetErrorDescription(r.errorStatus) << "\n";
  out << "Burst no.:" << TAB << "Start" << TAB << "On-time" << TAB << "RMS level\n"
      << " " << TAB << "[ms]" << TAB << "[ms]" << TAB << "[dBm]\n";
  if (!r.Listed()) {
    out << "No Bursts found\n";
    return;
  }
  for (long i = 0; i < r.count; ++i) {
    const auto k = static_cast<std::size_t>(i);
    out << vb::Format(i + 1, "00000") << ":" << TAB << Cell(r.start[k] * 1000, "0.0000") << TAB
        << Cell(r.onTime[k] * 1000, "0.0000") << TAB << Cell(r.level[k], "0.000") << (i + 1 == r.strongest ? " -> Max" : "")
        << "\n";
  }
}

Json ToJson(const BurstSearch& r) {
  Json j = {{"channel", r.plan.channel}, {"ports", r.plan.ports},          {"frequency", r.plan.frequency},
            {"measTime", r.plan.measTime}, {"sampleRate", r.plan.sampleRate}, {"threshold", r.plan.threshold},
            {"cancelled", r.cancelled}};
  if (r.cancelled) return j;
  j["count"] = r.count;
  j["dutyCycle"] = r.dutyCycle;
  j["mediumUtilization"] = r.mediumUtilization;
  j["rms"] = Hundredths(r.rms);
  j["traceMax"] = Hundredths(r.traceMax);
  j["traceMin"] = Hundredths(r.traceMin);
  j["errorStatus"] = r.errorStatus;
  j["bursts"] = Json::array();
  if (r.Listed())
    for (std::size_t i = 0; i < r.start.size(); ++i)
      j["bursts"].push_back({{"start", AtSamplePeriod(r.start[i], r.plan.sampleRate, 1)},
                             {"onTime", AtSamplePeriod(r.onTime[i], r.plan.sampleRate, 1)},
                             {"level", Hundredths(r.level[i])},
                             {"strongest", static_cast<long>(i) + 1 == r.strongest}});
  return j;
}


struct Measurement {
  long channel = 1;
  double rms = 0, traceMax = 0, traceMin = 0;
};

Measurement RunMeasurement(Session& s, long channel) {
  clsQuorvelUnit& u = s.unit();
  Measurement m;
  m.channel = channel;
  u.MeasurementInit(channel);
  m.rms = u.Measure(channel).Value;
  m.traceMax = u.GetTraceMax(channel);
  m.traceMin = u.GetTraceMin(channel);
  return m;
}

Json IdentityJson(Session& s) {
  const DeviceInfo info = s.unit().clsDevice_Info();
  return {{"device", s.unit().clsDevice_Name()}, {"address", s.unit().AddressText()}, {"serial", info.SerialNumber},
          {"firmware", FirmwareVersion(info)}};
}

void PrintIdentity(Session& s) {
  const DeviceInfo info = s.unit().clsDevice_Info();
  s.out() << "Unit " << s.unit().clsDevice_Name() << " at " << s.unit().AddressText() << ": serial " << Shown(info.SerialNumber)
          << ", firmware " << Shown(FirmwareVersion(info)) << "\n";
}

}  // namespace

int RunJob(Session& s) {
  if (!s.Connect()) return kNoUnit;
  const Options& o = s.options();
  const BurstSearch search = RunBurstSearch(s, o.sum.value_or(std::vector<vb::Long>{2, 3}), ppDUT1);
  if (search.verdict != kOk) return search.verdict;
  Measurement m;
  if (!search.cancelled) m = RunMeasurement(s, o.Channel());
  if (o.json) {
    Json j = {{"unit", IdentityJson(s)}, {"burstSearch", ToJson(search)}};
    if (!search.cancelled)
      j["measurement"] = {{"channel", m.channel},
                          {"rms", Hundredths(m.rms)},
                          {"traceMax", Hundredths(m.traceMax)},
                          {"traceMin", Hundredths(m.traceMin)}};
    s.out() << JsonResult(s, j) << "\n";
  } else {
    PrintIdentity(s);
    PrintBurstSearch(s, search);
    if (!search.cancelled)
      s.out() << "Power measurement on DUT" << m.channel << "\n"
              << "  RMS            " << Dbm(m.rms) << "\n"
              << "  Trace max      " << Dbm(m.traceMax) << "\n"
              << "  Trace min      " << Dbm(m.traceMin) << "\n";
  }
  const int verdict = s.ErrorStatusVerdict();  // 130 when the user stopped it
  return verdict != kOk ? verdict : (search.errorStatus ? kUnitErrors : kOk);
}

int BurstSearchJob(Session& s) {
  if (!s.Connect()) return kNoUnit;
  const Options& o = s.options();
  CsvOut csv(s, std::string(o.repeated ? "time," : "") + "burst,start_ms,on_time_ms,level_dBm,strongest");
  const int status = s.Repeat([&](const std::string& time, long) {
    const BurstSearch r = RunBurstSearch(s, o.sum, o.Channel());
    if (r.verdict != kOk) return r.verdict;
    if (r.cancelled) return kInterrupted;
    const std::string stamp = o.repeated ? time + "," : "";
    if (o.json && !csv.OnStandardOutput()) {
      Json j = ToJson(r);
      if (o.repeated) j = Stamped(time, j);
      s.out() << JsonResult(s, j) << "\n";
    } else if (!csv.OnStandardOutput()) {
      if (o.repeated) s.out() << "Time           " << time << "\n";
      PrintBurstSearch(s, r);
    }
    if (r.Listed())
      for (long i = 0; i < r.count; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const double rate = r.plan.sampleRate;
        csv.Row(stamp + std::to_string(i + 1) + "," + Shortest(AtSamplePeriod(r.start[k] * 1000, rate, 1e-3)) + "," +
                Shortest(AtSamplePeriod(r.onTime[k] * 1000, rate, 1e-3)) + "," + Shortest(Hundredths(r.level[k])) + "," +
                (i + 1 == r.strongest ? "yes" : "no"));
      }
    const int verdict = s.ErrorStatusVerdict();  // 130 when the user stopped it
    return verdict != kOk ? verdict : (r.errorStatus ? kUnitErrors : kOk);
  });
  if (!csv.Finish()) return kFailed;
  return status;
}

int TraceJob(Session& s) {
  if (!s.Connect()) return kNoUnit;
  clsQuorvelUnit& u = s.unit();
  const Options& o = s.options();
  const long channel = o.Channel();
  if (const int status = ApplySettings(s); status != kOk) return status;
  if (s.UnitRefused()) return kUnitErrors;
  const vb::Long rate = u.GetSampleRate(channel >= 1 ? channel : 1, false);
  CsvOut csv(s, std::string(o.repeated ? "time," : "") + "index,time_s,level_dBm");
  std::vector<double> trace;
  const int status = s.Repeat([&](const std::string& time, long) {
    u.MeasurementInit(channel);
    u.GetTrace(channel, trace);
    if (const int verdict = s.ErrorStatusVerdict(); verdict != kOk) return verdict;
    double lo = 0, hi = 0;
    if (!trace.empty()) {
      const auto [mn, mx] = std::minmax_element(trace.begin(), trace.end());
      lo = *mn;
      hi = *mx;
    }
    if (csv.OnStandardOutput()) {
      // standard output carries the CSV alone
    } else if (o.json) {
      Json values = Json::array();
      for (const double v : trace) values.push_back(Hundredths(v));
      Json j = {{"channel", channel}, {"sampleRate", rate}, {"values", std::move(values)}};
      s.out() << JsonResult(s, o.repeated ? Stamped(time, j) : j) << "\n";
    } else {
      if (o.repeated) s.out() << "Time           " << time << "\n";
      s.out() << "Trace of channel " << channel << ": " << trace.size() << " values at " << rate << " samples/s\n"
              << "  Max            " << Dbm(hi) << "\n"
              << "  Min            " << Dbm(lo) << "\n";
    }
    const std::string stamp = o.repeated ? time + "," : "";
    for (std::size_t i = 0; i < trace.size(); ++i)
      csv.Row(stamp + std::to_string(i) + "," + Shortest(AtSamplePeriod(static_cast<double>(i) / rate, rate, 1)) + "," +
              Shortest(Hundredths(trace[i])));
    return kOk;
  });
  if (!csv.Finish()) return kFailed;
  return status;
}

}  // namespace quorvel

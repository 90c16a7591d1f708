// The main job: a burst search and a power measurement as a test engineer
// reads them, and the trace read-out.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <optional>
#include <fstream>
#include <sstream>

#include "quorvel/Commands.h"
#include "quorvel/Session.h"
#include "refhost/Files.h"

#include <nlohmann/json.hpp>

namespace quorvel {

using Json = nlohmann::ordered_json;

namespace {

constexpr char TAB = '\t';

// What one burst search found.
struct BurstSearch {
  vb::Long channel = 0;
  std::vector<vb::Long> ports;  // the summed ports, or the single one
  double frequency = 0, measTime = 0, threshold = 0;
  vb::Long sampleRate = 0;
  vb::Long count = 0, strongest = 0, status = 0;
  double dutyCycle = 0, mediumUtilization = 0, rms = 0, traceMax = 0, traceMin = 0;
  std::vector<double> start, onTime, level;
  bool cancelled = false;
  int verdict = 0;  // kUsage: refused before sending; kUnitErrors: the unit refused a setting
  bool listed() const { return static_cast<long>(start.size()) == count && static_cast<long>(onTime.size()) == count &&
                               static_cast<long>(level.size()) == count; }
};

// Waits while the unit measures, 100 ms at a time through the host, so the
// user's Ctrl-C (the host's stop request) can end it; false when stopped.
bool WaitMeasuring(Session& s, double seconds) {
  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  const bool progress = seconds >= 1 && s.Interactive();
  for (;;) {
    s.host().Wait(100);
    if (s.host().StopRequested()) return false;
    const double elapsed = std::chrono::duration<double>(clock::now() - start).count();
    if (progress) s.err() << "\rmeasuring ... " << vb::Format(std::min(elapsed, seconds), "0.0") << " of " << Num(seconds) << " s" << std::flush;
    if (elapsed >= seconds) break;
  }
  if (progress) s.err() << "\n";
  return true;
}

// The sum of two or more ports, else the single one (the first of --sum, or the channel).
void ChoosePorts(clsQuorvelUnit& u, BurstSearch& r, const std::optional<std::vector<vb::Long>>& sum, long channel) {
  if (sum && sum->size() >= 2) {
    std::vector<vb::Long> ports = *sum;
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    r.ports = ports;
    u.SetSumPorts(ports);
    u.SendSumPorts();
    r.channel = ppSum;
  } else {
    r.channel = sum ? sum->front() : channel;
    r.ports = {r.channel};
    u.SetActivePort(r.channel, true, false);
    u.SendActivePorts();
  }
}

// What the search found, each read's error status added to r.status.
void ReadBurstSearch(clsQuorvelUnit& u, BurstSearch& r) {
  auto accumulate = [&] { r.status |= u.GetErrorStatus(true); };
  r.dutyCycle = u.GetDutyCycle(r.channel);
  accumulate();
  r.mediumUtilization = u.GetMediumUtilization(r.channel);
  accumulate();
  r.traceMax = u.GetTraceMax(r.channel);
  accumulate();
  r.traceMin = u.GetTraceMin(r.channel);
  accumulate();
  r.rms = u.GetRMS(r.channel);
  u.GetBurstStartTime(r.channel, r.start);
  accumulate();
  u.GetBurstOnTime(r.channel, r.onTime);
  accumulate();
  u.GetBurstLevel(r.channel, r.level);
  accumulate();
  r.strongest = u.GetBurstMaxLevelIndex(r.channel);
  accumulate();
}

// The service panel's burst search: set up, measure, search, read.
BurstSearch RunBurstSearch(Session& s, const std::optional<std::vector<vb::Long>>& sum, long channel) {
  const Options& o = s.options();
  clsQuorvelUnit& u = s.unit();
  BurstSearch r;
  r.frequency = o.frequency.value_or(2.4e9);
  r.sampleRate = o.sampleRate.value_or(1000000);
  r.measTime = o.measTime.value_or(0.05);
  r.threshold = o.threshold.value_or(20.0);
  auto accumulate = [&] { r.status |= u.GetErrorStatus(true); };

  u.SetActivePortClr();
  ChoosePorts(u, r, sum, channel);
  u.SetFrequency(r.frequency, 0, false);
  u.SetMeasTime(r.measTime, 0, false);
  u.SetSampleRate(r.sampleRate, 0, false);
  u.SetExtTrigger(false, 0, false);
  u.SetBurstSearchLevel(r.threshold, 0, false);
  u.SetTriggerOffset(0, 0, false);
  const PortSettings& lead = u.StoredPortSettings(r.ports.front() >= 1 && r.ports.front() <= 8 ? r.ports.front() : 1);
  if (lead.SampleRate != r.sampleRate) {
    s.err() << "quorvel: --sample-rate " << r.sampleRate << " is not a rate the sampler makes (250 or 252 MHz divided "
            << "by a whole number); the nearest it makes is " << lead.SampleRate << "\n";
    r.verdict = kUsage;
    return r;
  }
  if (lead.SampleCount > kMaxSamples) {
    s.err() << "quorvel: " << Num(r.measTime) << " s at " << r.sampleRate << " samples/s takes " << lead.SampleCount
            << " samples; the unit records at most " << kMaxSamples << " (shorten --meas-time or lower --sample-rate)\n";
    r.verdict = kUsage;
    return r;
  }
  u.SendAllSettings();
  if (s.UnitRefused()) {
    r.verdict = kUnitErrors;
    return r;
  }
  u.GetErrorStatus(true);
  u.MeasurementInit(r.channel);
  if (!WaitMeasuring(s, r.measTime)) {
    u.MeasurementAbort();
    r.cancelled = true;
    return r;
  }
  u.BurstSearchInit(r.channel);
  accumulate();
  r.count = u.GetBurstCount(r.channel);
  accumulate();
  if (s.host().StopRequested()) {
    u.MeasurementAbort();
    r.cancelled = true;
    return r;
  }
  ReadBurstSearch(u, r);
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
  out << "Burst search on " << ChannelName(r.channel, r.ports) << "\n"
      << "  Settings       " << Hz(r.frequency) << ", " << Num(r.measTime * 1000) << " ms at " << r.sampleRate
      << " samples/s, bursts from " << Num(r.threshold) << " dB below the peak\n";
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
  if (r.status) out << "  Error status   " << s.unit().GetErrorDescription(r.status) << "\n";
  out << "Burst no.:" << TAB << "Start" << TAB << "On-time" << TAB << "RMS level\n"
      << " " << TAB << "[ms]" << TAB << "[ms]" << TAB << "[dBm]\n";
  if (!r.listed()) {
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
  Json j = {{"channel", r.channel}, {"ports", r.ports},          {"frequency", r.frequency},
            {"measTime", r.measTime}, {"sampleRate", r.sampleRate}, {"threshold", r.threshold},
            {"cancelled", r.cancelled}};
  if (r.cancelled) return j;
  j["count"] = r.count;
  j["dutyCycle"] = r.dutyCycle;
  j["mediumUtilization"] = r.mediumUtilization;
  j["rms"] = r.rms;
  j["traceMax"] = r.traceMax;
  j["traceMin"] = r.traceMin;
  j["errorStatus"] = r.status;
  j["bursts"] = Json::array();
  if (r.listed())
    for (std::size_t i = 0; i < r.start.size(); ++i)
      j["bursts"].push_back({{"start", r.start[i]},
                             {"onTime", r.onTime[i]},
                             {"level", r.level[i]},
                             {"strongest", static_cast<long>(i) + 1 == r.strongest}});
  return j;
}

// A number in a CSV file: every digit it has (a sample time at 1 MHz is 1e-06, not 0).
std::string CsvNum(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// Writes the CSV: "-" is standard output; a file is replaced whole or not at
// all (a link's target is written, a FIFO or device written in place).
bool WriteCsv(Session& s, const std::string& file, const std::string& text) {
  if (file == "-") {
    s.out() << text;
    return true;
  }
  try {
    host::files::WriteFile(file, text, "quorvel");
    return true;
  } catch (const vb::Error& e) {
    s.err() << "quorvel: cannot write the CSV to " << e.Description() << "\n";
    return false;
  }
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
  s.out() << "Unit " << s.unit().clsDevice_Name() << " at " << s.unit().AddressText() << ": serial " << info.SerialNumber
          << ", firmware " << FirmwareVersion(info) << "\n";
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
      j["measurement"] = {{"channel", m.channel}, {"rms", m.rms}, {"traceMax", m.traceMax}, {"traceMin", m.traceMin}};
    s.out() << j.dump() << "\n";
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
  return verdict != kOk ? verdict : (search.status ? kUnitErrors : kOk);
}

int BurstSearchJob(Session& s) {
  if (!s.Connect()) return kNoUnit;
  const BurstSearch r = RunBurstSearch(s, s.options().sum, s.options().Channel());
  if (r.verdict != kOk) return r.verdict;
  const bool csvOnly = s.options().csv == "-";  // standard output carries the CSV alone
  if (s.options().json && !csvOnly)
    s.out() << ToJson(r).dump() << "\n";
  else if (!csvOnly)
    PrintBurstSearch(s, r);
  if (s.options().csv && !r.cancelled) {
    std::string csv = "burst,start_ms,on_time_ms,level_dBm,strongest\n";
    if (r.listed())
      for (long i = 0; i < r.count; ++i) {
        const auto k = static_cast<std::size_t>(i);
        csv += std::to_string(i + 1) + "," + CsvNum(r.start[k] * 1000) + "," + CsvNum(r.onTime[k] * 1000) + "," + CsvNum(r.level[k]) +
               "," + (i + 1 == r.strongest ? "yes" : "no") + "\n";
      }
    if (!WriteCsv(s, *s.options().csv, csv)) return kFailed;
  }
  const int verdict = s.ErrorStatusVerdict();  // 130 when the user stopped it
  return verdict != kOk ? verdict : (r.status ? kUnitErrors : kOk);
}

int TraceJob(Session& s) {
  if (!s.Connect()) return kNoUnit;
  clsQuorvelUnit& u = s.unit();
  const Options& o = s.options();
  const long channel = o.Channel();
  if (const int status = ApplySettings(s); status != kOk) return status;
  if (s.UnitRefused()) return kUnitErrors;
  u.MeasurementInit(channel);
  std::vector<double> trace;
  u.GetTrace(channel, trace);
  const vb::Long rate = u.GetSampleRate(channel >= 1 ? channel : 1, false);
  const int verdict = s.ErrorStatusVerdict();
  double lo = 0, hi = 0;
  if (!trace.empty()) {
    const auto [mn, mx] = std::minmax_element(trace.begin(), trace.end());
    lo = *mn;
    hi = *mx;
  }
  if (o.csv == "-") {
    // standard output carries the CSV alone
  } else if (o.json) {
    s.out() << Json{{"channel", channel}, {"sampleRate", rate}, {"values", trace}}.dump() << "\n";
  } else {
    s.out() << "Trace of channel " << channel << ": " << trace.size() << " values at " << rate << " samples/s\n"
            << "  Max            " << Dbm(hi) << "\n"
            << "  Min            " << Dbm(lo) << "\n";
  }
  if (o.csv) {
    std::string csv = "index,time_s,level_dBm\n";
    for (std::size_t i = 0; i < trace.size(); ++i)
      csv += std::to_string(i) + "," + CsvNum(static_cast<double>(i) / rate) + "," + CsvNum(trace[i]) + "\n";
    if (!WriteCsv(s, *o.csv, csv)) return kFailed;
  }
  return verdict;
}

}  // namespace quorvel

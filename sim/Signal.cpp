#include "sim/Signal.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "sim/ModelChoices.h"

namespace sim::detail {

namespace {

using Result = Zentrix8::Result;

double Db(double linear) { return 10 * std::log10(std::max(linear, 1e-30)); }
double Linear(double dbm) { return std::pow(10.0, dbm / 10); }

// A small repeatable noise source.
struct Noise {
  unsigned state;
  double Next() {  // uniform in [-0.5, 0.5)
    state = state * 1664525u + 1013904223u;
    return (state >> 8) / 16777216.0 - 0.5;
  }
};

// Minimum, maximum and RMS of a trace whose samples' linear power adds up to `power`.
void Summarize(Result& r, double power) {
  if (r.trace.empty()) return;
  r.rmsDbm = Db(power / static_cast<double>(r.trace.size()));
  const auto [mn, mx] = std::minmax_element(r.trace.begin(), r.trace.end());
  r.minDbm = *mn / 100.0;
  r.maxDbm = *mx / 100.0;
}

}  // namespace

unsigned NoiseSeed(unsigned scenarioSeed, int sensor, unsigned measurement) {
  return scenarioSeed * 7919u + static_cast<unsigned>(sensor) * 104729u + measurement;
}

bool RecordSensor(Result& r, const SensorSignal& sig, const Zentrix8::Sensor& set, double rate, double overRangeDbm,
                  unsigned seed) {
  r = {};
  const long n = std::clamp(set.sampleCount, 1L, kMaxSamples);
  Noise noise{seed};
  bool clipped = false;
  r.trace.resize(static_cast<std::size_t>(n));
  double sum = 0;
  for (long i = 0; i < n; ++i) {
    const double t = (i + set.triggerOffset) / rate;
    bool on = !sig.bursts;
    double spread = 0;
    if (sig.bursts && t >= sig.firstStartS) {
      on = std::fmod(t - sig.firstStartS, sig.periodS) < sig.onTimeS;
      const long k = static_cast<long>((t - sig.firstStartS) / sig.periodS);
      spread = sig.spreadDb * (((k * 3) % 5) - 2) / 4.0;  // -1/2 .. +1/2 of the spread, repeating
    }
    // The unit adds the attenuation it is told precedes the port and takes off the gain.
    double level = (on ? sig.levelDbm + spread : sig.floorDbm) + sig.offsetDb + noise.Next() * sig.noiseDb + set.attenuation - set.gain;
    if (level > overRangeDbm) {
      clipped = true;
      level = overRangeDbm;
    }
    r.trace[static_cast<std::size_t>(i)] = std::lround(level * 100);
    sum += Linear(level);
  }
  Summarize(r, sum);
  return clipped;
}

void RecordSum(Result& r, const std::vector<const Result*>& members, double gainDb) {
  r = {};
  std::size_t n = 0;
  for (const Result* m : members) n = n ? std::min(n, m->trace.size()) : m->trace.size();
  r.trace.resize(n);
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double p = 0;
    for (const Result* m : members) p += Linear(m->trace[i] / 100.0);
    const double level = Db(p) + gainDb;
    r.trace[i] = std::lround(level * 100);
    sum += Linear(level);
  }
  Summarize(r, sum);
}

void FindBursts(Result& r, double searchLevelDb, double rate) {
  r.burstStart.clear();
  r.burstOnTime.clear();
  r.burstLevel.clear();
  r.searched = true;
  if (r.trace.empty()) return;
  // The search level is how far below the trace's peak a sample still belongs to a burst.
  const long peak = *std::max_element(r.trace.begin(), r.trace.end());
  const long threshold = peak - std::lround(searchLevelDb * 100);
  const long floor = *std::min_element(r.trace.begin(), r.trace.end());
  const std::size_t n = r.trace.size();
  for (std::size_t i = 0; i < n;) {
    if (r.trace[i] < threshold) {
      ++i;
      continue;
    }
    std::size_t j = i;
    double power = 0;
    for (; j < n && r.trace[j] >= threshold; ++j) power += Linear(r.trace[j] / 100.0);
    r.burstStart.push_back(i / rate);
    r.burstOnTime.push_back((j - i) / rate);
    r.burstLevel.push_back(Db(power / static_cast<double>(j - i)));
    i = j;
  }
  const double onTotal = std::accumulate(r.burstOnTime.begin(), r.burstOnTime.end(), 0.0);
  r.dutyCycle = onTotal / (n / rate) * 100;
  // The medium is busy while anything stands 10 dB above the floor.
  const auto busy = std::count_if(r.trace.begin(), r.trace.end(), [&](long v) { return v > floor + 1000; });
  r.mediumUtilization = static_cast<double>(busy) / static_cast<double>(n) * 100;
}

}  // namespace sim::detail

// The unit's operations and what they leave: a measurement's traces and a
// burst search of them, each done when its time has passed.
#include "sim/Zentrix8.h"

#include "sim/Signal.h"

#include <algorithm>
#include <set>

namespace sim {

using namespace detail;

void Zentrix8::StartOperation(Operation::Kind kind, int channel, double seconds) {
  op_.kind = kind;
  op_.channel = channel;
  op_.due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds * timeScale_));
}

void Zentrix8::CompleteIfDue() {
  if (op_.kind == Operation::kNone || faults_.neverComplete || Clock::now() < op_.due) return;
  op_ = {};
  if (opcArmed_) esr_ |= 1;
  opcArmed_ = false;
}

double Zentrix8::SampleRate(const Sensor& s) const {
  const double clock = clock_ == "C252" ? 252e6 : 250e6;
  return clock / std::max(1L, s.dividerFast) / std::max(1L, s.dividerSlow);
}

std::vector<int> Zentrix8::SumMembers() const {
  std::vector<int> members;
  for (int s = 1; s <= 8; ++s)
    if (sensors_[static_cast<std::size_t>(s)].meas == "SUM") members.push_back(s);
  return members;
}

void Zentrix8::Measure(const std::vector<int>& channels) {
  ++measurements_;
  std::set<int> overRange;
  std::vector<int> sensors;
  for (int c : channels) {
    if (c == 0) {
      for (int m : SumMembers()) sensors.push_back(m);
    } else {
      sensors.push_back(c);
    }
  }
  std::sort(sensors.begin(), sensors.end());
  sensors.erase(std::unique(sensors.begin(), sensors.end()), sensors.end());
  for (int s : sensors) {
    const auto i = static_cast<std::size_t>(s);
    if (RecordSensor(results_[i], scenario_.sensors[i], sensors_[i], SampleRate(sensors_[i]), scenario_.overRangeDbm,
                     NoiseSeed(scenario_.seed, s, measurements_)))
      overRange.insert(s);
  }
  if (std::find(channels.begin(), channels.end(), 0) != channels.end()) {
    std::vector<const Result*> members;
    for (int m : SumMembers()) members.push_back(&results_[static_cast<std::size_t>(m)]);
    RecordSum(results_[0], members, beamformingGain_);
  }
  if (!overRange.empty()) {
    std::string ports;
    for (int s : overRange) ports += (ports.empty() ? "" : ";") + std::to_string(s);
    QueueError(-222, "Data out of range in trace(s);" + ports);
    esr_ |= 16;  // an execution error during the operation
  }
}

void Zentrix8::SearchBursts(int channel) {
  const Sensor& set = sensors_[static_cast<std::size_t>(channel)];
  // The sum's samples come at its first member's rate.
  const Sensor& timing = channel == 0 && !SumMembers().empty() ? sensors_[static_cast<std::size_t>(SumMembers().front())] : set;
  FindBursts(results_[static_cast<std::size_t>(channel)], set.burstSearchLevel, SampleRate(timing));
}

}  // namespace sim

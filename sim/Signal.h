// The unit's signal model: the trace a sensor records from its scenario and
// settings, the summing path's trace, and what a burst search derives from a
// trace.  No state of the unit here: the same inputs give the same trace.
#pragma once

#include <vector>

#include "sim/Scenario.h"
#include "sim/Zentrix8.h"

namespace sim::detail {

// The noise of one sensor in one measurement: repeatable, yet new every time.
unsigned NoiseSeed(unsigned scenarioSeed, int sensor, unsigned measurement);

// Records a sensor's trace into `r` (what was there goes) with its minimum,
// maximum and RMS; true when a sample was clipped at `overRangeDbm`.
bool RecordSensor(Zentrix8::Result& r, const SensorSignal& signal, const Zentrix8::Sensor& set, double rate,
                  double overRangeDbm, unsigned seed);

// The summing path's trace: the members' power added, then the beamforming gain.
void RecordSum(Zentrix8::Result& r, const std::vector<const Zentrix8::Result*>& members, double gainDb);

// Bursts (runs of samples within `searchLevelDb` of the trace's peak), duty
// cycle and medium utilization of a recorded trace.
void FindBursts(Zentrix8::Result& r, double searchLevelDb, double rate);

}  // namespace sim::detail

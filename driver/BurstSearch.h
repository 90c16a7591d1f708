// One burst search, as the service form and the quorvel tool run it: clear
// and choose the ports, store and send the settings, measure for the
// measuring time, search, and read what was found.  The caller's hooks run
// each driver call (the form under its error frame), wait while the unit
// measures and see each step done; any of them may cancel.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "core/Export.h"
#include "core/Vb.h"

class clsQuorvelUnit;

// What to search: one channel, or the sum of ports (channel ppSum).
struct BurstSearchPlan {
  vb::Long channel = 0;         // 0: no port chosen; nothing follows clearing the ports
  std::vector<vb::Long> ports;  // the summed ports (channel ppSum), else the channel alone
  double frequency = 0;         // Hz
  double measTime = 0;          // s
  vb::Long sampleRate = 0;      // samples per second
  double threshold = 0;         // dB below the peak where a burst begins
};

// The steps in the order they run.
enum class BurstSearchStep {
  ClearPorts,         // SetActivePortClr
  ChoosePorts,        // the sum or the single port, sent
  SendSettings,       // frequency, measuring time, rate, no trigger, threshold, offset 0; SendAllSettings
  MeasurementInit,    // the error status cleared, the measurement started
  Measuring,          // the measuring time waited out
  SearchInit,         // BurstSearchInit
  Count,              // GetBurstCount
  DutyCycle,
  MediumUtilization,
  TraceMax,
  TraceMin,
  Rms,
  StartTimes,
  OnTimes,
  Levels,
  Strongest,          // GetBurstMaxLevelIndex
};

struct BurstSearchResult {
  vb::Long count = 0;
  double dutyCycle = 0, mediumUtilization = 0, traceMax = 0, traceMin = 0, rms = 0;
  std::vector<double> start, onTime, level;  // s, s, dBm per burst
  vb::Long strongest = 0;                    // number of the strongest burst, from 1
  vb::Long errorStatus = 0;                  // the error status after each read, accumulated
  bool cancelled = false;                    // a hook cancelled after the measurement began
  bool refused = false;                      // a hook stopped it before anything was measured
  double searchSeconds = 0;                  // from the search's start to its count
  double rmsSeconds = 0;                     // the RMS read
  // Each burst has its start, on-time and level.
  bool Listed() const {
    const auto n = static_cast<std::size_t>(count);
    return count >= 0 && start.size() == n && onTime.size() == n && level.size() == n;
  }
};

struct BurstSearchHooks {
  // Runs one driver call; without it the call is simply made.
  std::function<void(BurstSearchStep, const std::function<void()>&)> run;
  // After the settings are stored and before they are sent: false stops the
  // search there (the values are not ones the unit can take).
  std::function<bool()> beforeSend;
  // While the unit measures: waits a moment (100 ms) and lets events run;
  // false cancels.  Called until the measuring time has passed.
  std::function<bool()> wait;
  // After the wait, with the seconds measured so far.
  std::function<void(double elapsed)> measuring;
  // After a step (and the error status read that follows a result): false
  // cancels after SendSettings (refused), Measuring or Count; elsewhere the
  // answer is ignored.
  std::function<bool(BurstSearchStep, const BurstSearchResult&)> after;
};

// Runs the search into `result` (partly filled when a driver call raises).
QUORVEL_API void RunBurstSearch(clsQuorvelUnit& unit, const BurstSearchPlan& plan, const BurstSearchHooks& hooks,
                                BurstSearchResult& result);

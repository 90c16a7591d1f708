// What the simulated unit "sees" on its ports, and the faults it can show.
// Every choice the simulator makes about the real unit's behaviour where the
// driver does not tell is kept here or in Zentrix8.cpp, with the reason.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace sim {

// The signal at one sensor: bursts of `levelDbm` repeating every `periodS`,
// `onTimeS` long, the first starting at `firstStartS`, over a noise floor.
struct SensorSignal {
  double periodS = 0.010;
  double onTimeS = 0.002;
  double firstStartS = 0.0005;
  double levelDbm = -10;
  double floorDbm = -70;
  double noiseDb = 0.2;    // peak-to-peak spread of the level, dB
  double offsetDb = 0;     // a per-port offset (cable, coupler), dB
  double spreadDb = 1.5;   // bursts differ in level by up to this much, so one is the strongest
  bool bursts = true;      // false: a continuous carrier at levelDbm
};

struct Scenario {
  // Index 1..8: the sensors (generator = 7, companion = 6, video = 8).
  std::array<SensorSignal, 9> sensors{};
  // Above this level a sensor's trace is out of range (-222).
  double overRangeDbm = 20;
  unsigned seed = 1;  // the noise is pseudo-random but repeatable
};

// Fault knobs, for tests of what the driver promises when the unit misbehaves.
struct Faults {
  double answerDelayS = 0;                 // every answer becomes readable this late
  std::optional<long> dropAfterCommands;   // the connection breaks after this many messages
  std::string garbageFor;                  // a query (e.g. ":SENS1:RMS?") answered with garbage
  bool neverComplete = false;              // operations never set the OPC bit
  std::size_t splitAnswersAt = 0;          // >0: answers come in pieces of at most this many bytes
  std::string streamWithoutLineFeedFor;    // a query whose answer streams on and never ends
};

}  // namespace sim

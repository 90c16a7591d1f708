// The command catalogue and the number format of commands.  Every SCPI
// command the driver sends, apart from a few fixed texts, is built here
// from one numbered template.  A template is the query form; the setting
// is the same text with "?" turned into a blank and the value filled in.
#pragma once

#include <string>
#include <string_view>

#include "core/Export.h"

namespace modMain {

// CommandKind: anything else fills in only port and mode.
inline constexpr long ckSetting = 0;
inline constexpr long ckQuery = 1;

// Catalogue indices, named after what they reach in the unit.
enum Cmd : long {
  cmdSampleTime = 0,
  cmdBurstSearchLevel = 2,
  cmdAttenuation = 3,
  cmdBeamformingGain = 4,
  cmdGain = 5,
  cmdFrequency = 6,
  cmdMeasMode = 7,
  cmdSensorMode = 9,
  cmdExtTrigger = 10,
  cmdVideoMin = 11,
  cmdVideoMax = 12,
  cmdTriggerOffset = 13,
  cmdTriggerOut = 14,
  cmdTriggerOutWithIn = 15,
  cmdTriggerOutWithMeasurement = 16,
  cmdClear = 17,
  cmdMeasurementInit = 18,
  cmdEventStatus = 19,
  cmdTraceData = 20,
  cmdTraceMin = 21,
  cmdTraceMax = 22,
  cmdMediumUtilization = 23,
  cmdRms = 24,
  cmdBurstCount = 25,
  cmdBurstOnTime = 26,
  cmdBurstStartTime = 27,
  cmdBurstLevel = 28,
  cmdBurstMaxLevelIndex = 29,
  cmdDutyCycle = 30,
  cmdAttenuator = 32,
  cmdClock = 33,
  cmdDividerFast = 34,
  cmdDividerSlow = 35,
  cmdSampleCount = 36,
  cmdSampleRate = 37,
  cmdSampleMode = 38,
  cmdPart = 39,
  cmdBurstSearchInit = 40,
  cmdRmsInit = 41,
  cmdReset = 42,
  cmdAbort = 43,
  cmdSampleOperation = 44,
  cmdSystemErrorAll = 45,
  cmdDeviceHfb = 46,
};
inline constexpr long kCatalogueSize = 47;

// The template of an index for a port, as the catalogue holds it
// ("" for an unused index, an index outside the table or a port that has
// no command there).
QUORVEL_API std::string_view CommandTemplate(long index, long port);

// Builds a command: index and kind select the template and its form, port
// goes into ":SENS<Port>:" (-1 selects ":SUMP:", 0 leaves the digits out,
// below -1 gives ""), mode replaces "<Mode>", value (for a setting below
// noValue) replaces "<Value>", unit replaces "<Unit>".  Never fails.
QUORVEL_API std::string BuildCommand(long index, long kind, long port, double value, std::string_view mode,
                                     std::string_view unit, double noValue);

// A setting value as commands carry it: "0.#####", always a ".", no
// trailing point (10 gives "10", 0.1234567 gives "0.12346").
QUORVEL_API std::string FormatCommandNumber(double value);

// The text without its last character when that is ".".
QUORVEL_API std::string StripTrailingPoint(std::string_view text);

// --- signal paths and ports ------------------------------------------------------

inline constexpr long kPathCount = 46;  // paths 0 to 45; 46 marks the end

// The command that switches a path ("" for any other number).
QUORVEL_API std::string PathCommand(long path);
// The text a path is offered under ("" for any other number).
QUORVEL_API std::string PathDescription(long path);
// The enumeration name of a path ("ptDUT5RxSum"; "ptEnd" for 46, "" otherwise).
QUORVEL_API std::string PathName(long path);
// Short name of a switch port: "DUT1".."DUT8", "GEN", "COMP", "VGEN", "Rx", "ANT"; "" otherwise.
QUORVEL_API std::string PortShortName(long port);
// The calibration row query: ":CAL:PATH<Nr>:PORT<Port>:ROW<Value>?".
QUORVEL_API std::string CalRowQuery(long pathNr, long port, long row);

}  // namespace modMain

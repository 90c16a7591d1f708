// The command catalogue and the number format of commands.  Every SCPI
// command the driver sends, apart from a few fixed texts, is built here
// from one numbered template.  A template is the query form; the setting
// is the same text with "?" turned into a blank and the value filled in.
#pragma once

#include <string>
#include <string_view>

#include "core/Export.h"
#include "core/Vb.h"

namespace modMain {

// CommandKind: anything else fills in only port and mode.
inline constexpr vb::Long ckSetting = 0;
inline constexpr vb::Long ckQuery = 1;

// Catalogue indices, named after what they reach in the unit.
enum Cmd : vb::Long {
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
inline constexpr vb::Long kCatalogueSize = 47;

// The template of an index for a port, as the catalogue holds it
// ("" for an unused index, an index outside the table or a port that has
// no command there).
QUORVEL_API std::string_view CommandTemplate(vb::Long index, vb::Long port);

// Builds a command: index and kind select the template and its form, port
// goes into ":SENS<Port>:" (-1 selects ":SUMP:", 0 leaves the digits out,
// below -1 gives ""), mode replaces "<Mode>", value (for a setting below
// noValue) replaces "<Value>", unit replaces "<Unit>".  Never fails.
QUORVEL_API std::string BuildCommand(vb::Long index, vb::Long kind, vb::Long port, double value, std::string_view mode,
                                     std::string_view unit, double noValue);

// A setting value as commands carry it: "0.#####", always a ".", no
// trailing point (10 gives "10", 0.1234567 gives "0.12346").
QUORVEL_API std::string FormatCommandNumber(double value);

// The text without its last character when that is ".".
QUORVEL_API std::string StripTrailingPoint(std::string_view text);

// --- signal paths and ports ------------------------------------------------------

inline constexpr vb::Long kPathCount = 46;  // paths 0 to 45; 46 marks the end

// The command that switches a path ("" for any other number).
QUORVEL_API std::string PathCommand(vb::Long path);
// The text a path is offered under ("" for any other number).
QUORVEL_API std::string PathDescription(vb::Long path);
// The enumeration name of a path ("ptDUT5RxSum"; "ptEnd" for 46, "" otherwise).
QUORVEL_API std::string PathName(vb::Long path);
// Short name of a switch port: "DUT1".."DUT8", "GEN", "COMP", "VGEN", "Rx", "ANT"; "" otherwise.
QUORVEL_API std::string PortShortName(vb::Long port);
// The calibration row query: ":CAL:PATH<Nr>:PORT<Port>:ROW<Value>?".
QUORVEL_API std::string CalRowQuery(vb::Long pathNr, vb::Long port, vb::Long row);

}  // namespace modMain

#include "driver/modMain.h"

#include <array>
#include <iterator>
#include <limits>

#include "core/Vb.h"

namespace modMain {

namespace {

// The catalogue, written as query forms.  Indices 1, 8 and 31 are unused.
// Indices 14 and 15 share a template but belong to different operations.
constexpr std::array<std::string_view, kCatalogueSize> kCatalogue = {
    ":SENS<Port>:SAMP:TIME?",                // 0
    "",                                      // 1
    ":SENS<Port>:BURS:SEAR?<Value><Unit>",   // 2
    ":SENS<Port>:CORR:ATT?<Value><Unit>",    // 3
    ":SUMP:CORR:BFG?<Value><Unit>",          // 4
    ":SENS<Port>:CORR:GAIN?<Value><Unit>",   // 5
    ":SENS<Port>:FREQ?<Value>",              // 6
    ":SENS<Port>:MEAS?<Mode>",               // 7
    "",                                      // 8
    ":SENS<Port>:MODE PDET",                 // 9  (auxiliary ports below)
    ":SENS<Port>:TRIG4:SET?<Value>,<Value>,0",  // 10
    ":SENS<Port>:VID:MIN?<Value>",           // 11
    ":SENS<Port>:VID:MAX?<Value>",           // 12
    ":SENS<Port>:SAMP:PREC?<Value>",         // 13
    ":CONF:TRIG:OUTP<Port>?<Value>",         // 14
    ":CONF:TRIG:OUTP<Port>?<Value>",         // 15
    ":CONF:TRIG:MEAS<Port>?<Value>",         // 16
    "*CLS",                                  // 17
    "*CLS;:INIT:IMM;*OPC",                   // 18
    "*ESR?",                                 // 19
    ":SENS<Port>:TRAC:DATA?",                // 20
    ":SENS<Port>:TRAC:MIN?",                 // 21
    ":SENS<Port>:TRAC:MAX?",                 // 22
    ":SENS<Port>:MU?",                       // 23
    ":SENS<Port>:RMS?",                      // 24
    ":SENS<Port>:BURS:COUN?",                // 25
    ":SENS<Port>:BURS:ONT?",                 // 26
    ":SENS<Port>:BURS:STAR?",                // 27
    ":SENS<Port>:BURS:LEV?",                 // 28
    ":SENS<Port>:BURS:MAX?",                 // 29
    ":SENS<Port>:DCYC?",                     // 30
    "",                                      // 31
    ":CONF:PORT<Port>:ATT?<Value>",          // 32 (ports 9 and up below)
    ":CONF:CLOC?<Mode>",                     // 33
    ":SENS<Port>:SAMP:DIVF?<Value>",         // 34
    ":SENS<Port>:SAMP:DIVS?<Value>",         // 35
    ":SENS<Port>:SAMP:COUNT?<Value>",        // 36
    ":SENS<Port>:SAMP:RATE?",                // 37
    ":SENS<Port>:SAMP:MODE?<Mode>",          // 38
    ":CONF:PART<Mode>?<Value>",              // 39
    "*CLS;:SENS<Port>:BURS:INIT;*OPC",       // 40
    "*CLS;:SENS<Port>:RMS:INIT;*OPC",        // 41
    "*CLS;*RST;*OPC",                        // 42
    ":ABORT",                                // 43
    ":SENS<Port>:SAMP:OPER?<Mode>",          // 44
    ":SYSTEM:ERR:ALL?",                      // 45
    ":SYSTEM:DEV:HFB?",                      // 46
};

// Templates that depend on the port.  The auxiliary channels switch their
// sensor (7, 6, 8) into its own mode and name it themselves; the companion
// and bypass attenuators have commands of their own.
struct PortVariant {
  vb::Long index;
  vb::Long firstPort;
  vb::Long lastPort;
  std::string_view text;
};
constexpr PortVariant kPortVariants[] = {
    {cmdSensorMode, 9, 9, ":SENS7:MODE PEAK"},
    {cmdSensorMode, 10, 10, ":SENS6:MODE COMP"},
    {cmdSensorMode, 11, 11, ":SENS8:MODE VID"},
    {cmdAttenuator, 9, 9, ":CONF:COMP:ATT?<Value>"},
    {cmdAttenuator, 10, 10, ":CONF:BYP:ATT?<Value>"},
    {cmdAttenuator, 11, std::numeric_limits<vb::Long>::max(), ""},
};

void ReplaceAll(std::string& s, std::string_view find, std::string_view with) {
  for (std::size_t pos = s.find(find); pos != std::string::npos; pos = s.find(find, pos + with.size()))
    s.replace(pos, find.size(), with);
}

}  // namespace

std::string_view CommandTemplate(vb::Long index, vb::Long port) {
  if (index < 0 || index >= kCatalogueSize) return {};
  for (const auto& v : kPortVariants)
    if (v.index == index && port >= v.firstPort && port <= v.lastPort) return v.text;
  return kCatalogue[static_cast<std::size_t>(index)];
}

std::string BuildCommand(vb::Long index, vb::Long kind, vb::Long port, double value, std::string_view mode,
                         std::string_view unit, double noValue) {
  std::string cmd(CommandTemplate(index, port));
  // The auxiliary channels' mode commands already name their sensor.
  if (index == cmdSensorMode && port >= 9 && port <= 11) port = 0;
  if (port == -1) {
    ReplaceAll(cmd, ":SENS<Port>:", ":SUMP:");
    port = 0;
  }
  if (port < -1) return {};
  ReplaceAll(cmd, "<Port>", port == 0 ? std::string() : std::to_string(port));
  ReplaceAll(cmd, "<Mode>", mode);
  if (kind == ckSetting) {
    ReplaceAll(cmd, "?", " ");
    ReplaceAll(cmd, "<Value>", value < noValue ? FormatCommandNumber(value) : std::string());
    ReplaceAll(cmd, "<Unit>", unit);
  } else if (kind == ckQuery) {
    ReplaceAll(cmd, "<Value>", "");
    ReplaceAll(cmd, "<Unit>", "");
  }
  return cmd;
}

std::string FormatCommandNumber(double value) {
  return StripTrailingPoint(vb::Replace(vb::Format(value, "0.#####"), ",", "."));
}

namespace {

// The four port modes of paths 0 to 31, eight DUT ports each.
struct PortMode {
  const char* mode;         // sent as ":CONF:PORT<n>:MODE <mode>"
  const char* description;  // "Path DUT<n> to <description>"
  const char* name;         // "ptDUT<n><name>"
};
constexpr PortMode kPortModes[] = {
    {"ANA", "Receiver", "Rx"},
    {"SUM", "Receiver (Sum)", "RxSum"},
    {"ADI", "Receiver (18GHz)", "Rx18G"},
    {"PDI", "Powermeter", "Power"},
};

// Paths 32 to 45.
struct FixedPath {
  const char* command;
  const char* description;
  const char* name;
};
constexpr FixedPath kFixedPaths[] = {
    {":CONF:GEN ON", "Path Generator ON", "ptGenOn"},
    {":CONF:GEN OFF", "Path Generator OFF", "ptGenOff"},
    {":CONF:GENS:MODE ABY", "Path Generator Bypass to Receiver (Cal)", "ptGenRx"},
    {":CONF:GENS:MODE ANA", "Path Generator to DUT", "ptGenDUT"},
    {":CONF:VGEN ON", "Path Vector Generator ON", "ptVGenOn"},
    {":CONF:VGEN OFF", "Path Vector Generator OFF", "ptVGenOff"},
    {":CONF:BYP:MODE ANA", "Path Companion Bypass to Receiver", "ptCompBypassRx"},
    {":CONF:BYP:MODE GEN", "Path Companion Bypass to Generator", "ptCompBypassGen"},
    {":CONF:BYP:MODE OFF", "Path Companion Bypass OFF", "ptCompBypassOff"},
    {":CONF:COMP:MODE ON", "Path Companion ON", "ptCompOn"},
    {":CONF:COMP:MODE SELF", "Path Companion OFF", "ptCompOff"},
    {":CONF:EXTC EXT", "Path Companion Extension ON", "ptCompExtensionOn"},
    {":CONF:EXTC OFF", "Path Companion Extension OFF", "ptCompExtensionOff"},
    {":CONF:EXTC DUT4", "Path Companion to DUT4", "ptCompExtensionDUT4"},
};
static_assert(32 + std::size(kFixedPaths) == kPathCount);

constexpr const char* kPortShortNames[] = {"",    "DUT1", "DUT2", "DUT3", "DUT4", "DUT5", "DUT6", "DUT7",
                                           "DUT8", "GEN",  "COMP", "VGEN", "Rx",   "ANT"};

}  // namespace

std::string PathCommand(vb::Long path) {
  if (path >= 0 && path < 32)
    return ":CONF:PORT" + std::to_string(path % 8 + 1) + ":MODE " + kPortModes[path / 8].mode;
  if (path >= 32 && path < kPathCount) return kFixedPaths[path - 32].command;
  return {};
}

std::string PathDescription(vb::Long path) {
  if (path >= 0 && path < 32)
    return "Path DUT" + std::to_string(path % 8 + 1) + " to " + kPortModes[path / 8].description;
  if (path >= 32 && path < kPathCount) return kFixedPaths[path - 32].description;
  return {};
}

std::string PathName(vb::Long path) {
  if (path >= 0 && path < 32) return "ptDUT" + std::to_string(path % 8 + 1) + kPortModes[path / 8].name;
  if (path >= 32 && path < kPathCount) return kFixedPaths[path - 32].name;
  return path == kPathCount ? "ptEnd" : "";
}

std::string PortShortName(vb::Long port) {
  return (port >= 1 && port < static_cast<vb::Long>(std::size(kPortShortNames))) ? kPortShortNames[port] : "";
}

std::string CalRowQuery(vb::Long pathNr, vb::Long port, vb::Long row) {
  return ":CAL:PATH" + std::to_string(pathNr) + ":PORT" + std::to_string(port) + ":ROW" + std::to_string(row) + "?";
}

std::string StripTrailingPoint(std::string_view text) {
  if (!text.empty() && text.back() == '.') text.remove_suffix(1);
  return std::string(text);
}

}  // namespace modMain

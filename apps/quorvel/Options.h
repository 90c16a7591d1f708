// The quorvel tool's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Vb.h"

namespace quorvel {

// Exit statuses.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;      // the driver raised an error
inline constexpr int kUsage = 2;       // bad command line or input file
inline constexpr int kNoUnit = 3;      // no unit answered: simulation
inline constexpr int kUnitErrors = 4;  // the unit's error status was not clean
inline constexpr int kInterrupted = 130;

struct Options {
  std::string config;
  std::string device;
  std::string address;
  std::string command = "run";
  std::vector<std::string> arguments;  // positional arguments of the command
  std::optional<long> channel;
  std::optional<double> frequency, measTime, attenuation;
  std::optional<vb::Long> sampleRate;
  std::optional<std::vector<vb::Long>> sum;
  // A signal path, for attenuation and save-table.
  std::optional<long> fromPort, toPort;
  std::optional<vb::Long> att;
  bool rx18 = false, sumPath = false, bypass = false, logarithmic = false;
  std::optional<std::string> folder;
  std::optional<double> threshold;
  std::optional<std::string> csv;
  bool json = false;
  bool dump = false;  // panel: print the service form as text

  long defaultChannel = 0;  // the command's own (Parse sets it)

  // The channel settings and measurements address.
  long Channel() const { return channel.value_or(defaultChannel); }
};

// Reads the arguments (without the program name); false with a message.
bool Parse(const std::vector<std::string>& args, Options& o, std::string& error);

// A switch port by its short name ("DUT3", "Rx", "comp") or number; -1 if none.
long PortFromText(const std::string& text);
// A path by number ("12") or enumeration name ("ptDUT5RxSum"); -1 if none.
long PathFromText(const std::string& text);

}  // namespace quorvel

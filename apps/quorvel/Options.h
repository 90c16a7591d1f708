// The quorvel tool's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Vb.h"
#include "driver/Limits.h"

namespace quorvel {

// Exit statuses.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;      // the driver raised an error
inline constexpr int kUsage = 2;       // bad command line or input file
inline constexpr int kNoUnit = 3;      // no unit answered: simulation
inline constexpr int kUnitErrors = 4;  // the unit's error status was not clean
inline constexpr int kTimedOut = 124;   // --timeout ran out
inline constexpr int kInterrupted = 130;

struct Options {
  std::string program = "quorvel";  // the name messages begin with
  std::string config;
  std::string device;
  std::string address;
  // The command, or "help" (arguments: the topic), "version", "completion", "man".
  std::string command = "run";
  std::vector<std::string> arguments;  // positional arguments of the command
  bool verbose = false;                // -v: the SCPI exchange on stderr
  bool noSim = false;                  // --no-sim or QUORVEL_NO_SIM=1: no embedded simulator for a device without a unit
  std::optional<double> timeout;       // --timeout: seconds for the whole command
  // --lock [S]: hold the unit exclusively (VXI-11 lock) for the whole command,
  // waiting up to S seconds for another station's lock.
  std::optional<double> lock;
  static constexpr double kDefaultLockWait = 10;
  bool force = false;                  // firmware: skip the block header check
  double wait = 60;                    // firmware: seconds for the unit to come back
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
  // --count N --interval S: measure N times, a measurement starting every S
  // seconds; each result then carries its time.
  long count = 1;
  double interval = 0;
  bool repeated = false;  // --count or --interval given
  std::string interfaceName;  // discover: only this network interface
  bool dump = false;  // panel: print the service form as text
  // What the command does with the unit (Parse sets them from the command table).
  bool connects = true;  // talks to it
  bool resets = true;    // resets it first

  long defaultChannel = 0;  // the command's own (Parse sets it)

  // The channel settings and measurements address.
  long Channel() const { return channel.value_or(defaultChannel); }
};

// Reads the arguments (without the program name); false with a message.
// Values are checked here: nothing out of range reaches the unit.
bool Parse(const std::vector<std::string>& args, Options& o, std::string& error);

// The unit's limits, checked before anything is sent.
using zentrix8::kMaxFrequency;
using zentrix8::kMaxSamples;
using zentrix8::kMaxThreshold;
using zentrix8::kMinFrequency;
using zentrix8::kMinThreshold;

// A resource the tool can reach: "" when it is, else why not and what is.
std::string CheckResource(const std::string& resource);

// A switch port by its short name ("DUT3", "Rx", "comp") or number; -1 if none.
long PortFromText(const std::string& text);
// A path by number from 0 ("12") or name, with or without "pt" ("ptDUT5RxSum",
// "DUT5RxSum"); -1 if none.
long PathFromText(const std::string& text);

}  // namespace quorvel

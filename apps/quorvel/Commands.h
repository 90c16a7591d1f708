// The commands of the quorvel tool: one table, read by the parser, by the
// help, by the man page and by the shell completion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/Vb.h"
#include "driver/Limits.h"

namespace quorvel {

class Session;

// Options a command takes (Command::takes, OptionInfo::group).
inline constexpr unsigned kChannel = 1u << 0;
inline constexpr unsigned kFrequency = 1u << 1;
inline constexpr unsigned kMeasTime = 1u << 2;
inline constexpr unsigned kSampleRate = 1u << 3;
inline constexpr unsigned kAttenuationOption = 1u << 4;
inline constexpr unsigned kSumList = 1u << 5;      // --sum LIST
inline constexpr unsigned kThreshold = 1u << 6;
inline constexpr unsigned kCsvFile = 1u << 7;
inline constexpr unsigned kJson = 1u << 8;
inline constexpr unsigned kPathOptions = 1u << 9;  // --from, --to, --att, --rx18, --sum, --bypass
inline constexpr unsigned kLog = 1u << 10;
inline constexpr unsigned kFolder = 1u << 11;
inline constexpr unsigned kFirmwareOptions = 1u << 12;  // --force, --wait
inline constexpr unsigned kDump = 1u << 13;
inline constexpr unsigned kGlobal = 1u << 14;  // before or after the command
inline constexpr unsigned kDiscoverWait = 1u << 15;
inline constexpr unsigned kRepeat = 1u << 16;  // --count, --interval
inline constexpr unsigned kSettings = kChannel | kFrequency | kMeasTime | kSampleRate | kAttenuationOption;

// Options a command cannot do without (Command::needs).
inline constexpr unsigned kNeedsFromTo = 1u << 0;
inline constexpr unsigned kNeedsFrequency = 1u << 1;

struct Command {
  std::string_view name = {};
  int (*run)(Session&) = nullptr;
  std::string_view argument = {};  // the positional argument's name, when it takes one
  std::string_view help = {};      // what it does; '\n' between the lines
  unsigned takes = 0;
  unsigned needs = 0;
  long channel = 0;       // what settings and measurements address without --channel
  bool connects = false;  // talks to the unit
  bool resets = false;    // resets the unit first (*CLS;*RST): its error queue is cleared
};

struct OptionInfo {
  std::string_view flag;
  std::string_view value;  // empty for a flag
  std::string_view help;
  unsigned group;
};

std::span<const Command> Commands();
std::span<const OptionInfo> OptionInfos();
const Command* FindCommand(std::string_view name);

// Texts made from the tables.
std::string UsageText();                       // quorvel --help
std::string CommandHelp(const Command& c);     // quorvel help CMD, CMD --help
std::string ManPage();                         // quorvel man
std::string BashCompletion();                  // quorvel completion
inline constexpr std::string_view kVersion = "quorvel 24.0 (Tavlor_QuorvelUnit 24.0)";

using zentrix8::kMaxFirmwareBytes;

// Stores the settings options and sends them when connected; kUsage (said
// why) for a rate the sampler does not make or more samples than the unit
// records, before anything is sent.
int ApplySettings(Session& s);
// The sensor's stored rate is the one asked for (when one was) and its
// sample count fits the unit; else says why on stderr and gives kUsage.
int CheckSampling(Session& s, vb::Long sensor, std::optional<vb::Long> asked);

// The handlers (Commands.cpp, MainJob.cpp).
int RunJob(Session& s);
int BurstSearchJob(Session& s);
int TraceJob(Session& s);
int Info(Session& s);
int Idn(Session& s);
int Measure(Session& s);
int Errors(Session& s);
int Scpi(Session& s);
int Reset(Session& s);
int Config(Session& s);
int SendAll(Session& s);
int Paths(Session& s);
int Path(Session& s);
int Attenuation(Session& s);
int SaveTable(Session& s);
int Firmware(Session& s);
int Panel(Session& s);
int Discover(Session& s);

}  // namespace quorvel

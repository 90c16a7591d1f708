// The commands of the quorvel tool: one table, read by the dispatch, by
// --help and by the option check.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace quorvel {

class Session;

// Option groups a command may take (Command::takes); every command accepts
// the other options, and those it has no use for change nothing.
inline constexpr unsigned kSumList = 1u << 0;      // --sum LIST
inline constexpr unsigned kCsvFile = 1u << 1;      // --csv FILE
inline constexpr unsigned kPathOptions = 1u << 2;  // --from, --to, --att, --rx18, --sum, --bypass

// Options a command cannot do without (Command::needs).
inline constexpr unsigned kNeedsFromTo = 1u << 0;
inline constexpr unsigned kNeedsFrequency = 1u << 1;

struct Command {
  std::string_view name = {};
  int (*run)(Session&) = nullptr;
  std::string_view usage = {};  // what --help shows after the name
  std::string_view help = {};   // what it does; '\n' between the lines
  unsigned takes = 0;           // option groups, above
  unsigned needs = 0;
  std::size_t arguments = 0;    // positional arguments, exactly
  long channel = 0;             // what settings and measurements address without --channel
};

// Every command, in the order --help lists them.
std::span<const Command> Commands();
// The command of that name; nullptr when there is none.
const Command* FindCommand(std::string_view name);
// The --help text.
std::string UsageText();

// The handlers (Commands.cpp, MainJob.cpp).
int RunJob(Session& s);
int BurstSearchJob(Session& s);
int TraceJob(Session& s);
int Info(Session& s);
int Idn(Session& s);
int Measure(Session& s);
int Errors(Session& s);
int Reset(Session& s);
int Config(Session& s);
int SendAll(Session& s);
int Paths(Session& s);
int Path(Session& s);
int Attenuation(Session& s);
int SaveTable(Session& s);
int Firmware(Session& s);
int Panel(Session& s);

}  // namespace quorvel

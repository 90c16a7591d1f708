#include "quorvel/Options.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include "io/modMain.h"
#include "quorvel/Commands.h"

namespace quorvel {

namespace {

bool ParseLong(const std::string& text, long& out) {
  const char* first = text.data();
  const char* last = first + text.size();
  const auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last && first != last;
}

// A number as the whole text, "." as decimal point (2.4e9, 0.01, -3).
bool ParseNumber(const std::string& text, double& out) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  const auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last && first != last && std::isfinite(out);
}

bool SameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// The arguments as Parse walks them, and the first complaint.
class Reader {
 public:
  explicit Reader(const std::vector<std::string>& args) : args_(args) {}

  bool AtEnd() const { return i_ >= args_.size(); }
  const std::string& Current() const { return args_[i_]; }
  void Advance() { ++i_; }
  // The argument after the current one; nullptr at the end.
  const std::string* Peek() const { return i_ + 1 < args_.size() ? &args_[i_ + 1] : nullptr; }

  // The current option's value: the next argument, whatever it looks like.
  bool Value(std::string& target) {
    if (!Peek()) return Fail("option " + Current() + " needs a value");
    target = args_[++i_];
    return true;
  }
  bool Number(double& v) {
    const std::string option = Current();
    std::string text;
    if (!Value(text)) return false;
    if (!ParseNumber(text, v)) return Fail(option + " takes a number, not '" + text + "'");
    return true;
  }
  bool Port(std::optional<long>& target) {
    const std::string option = Current();
    std::string text;
    if (!Value(text)) return false;
    const long p = PortFromText(text);
    if (p < 1) return Fail(option + " takes a port (DUT1..DUT8, GEN, COMP, VGEN, Rx, ANT), not '" + text + "'");
    target = p;
    return true;
  }

  bool Fail(std::string message) {
    error_ = std::move(message);
    return false;
  }
  const std::string& error() const { return error_; }

 private:
  const std::vector<std::string>& args_;
  std::size_t i_ = 0;
  std::string error_;
};

// What an option parser made of the current argument.
enum class Step { kNotMine, kTaken, kRefused };

Step Taken(bool ok) { return ok ? Step::kTaken : Step::kRefused; }
Step Refused(Reader& r, std::string message) {
  r.Fail(std::move(message));
  return Step::kRefused;
}

// --config, --device, --address: which unit, and where.
Step UnitOption(Reader& r, Options& o) {
  const std::string& a = r.Current();
  if (a == "--config") return Taken(r.Value(o.config));
  if (a == "--device") return Taken(r.Value(o.device));
  if (a != "--address") return Step::kNotMine;
  if (!r.Value(o.address)) return Step::kRefused;
  return o.address.empty() ? Refused(r, "option --address needs a VISA resource") : Step::kTaken;
}

// "--sum 2,3" names the sensors of the sum; a bare "--sum" marks a path
// through the summing network.
bool SumListFollows(const Reader& r) {
  const std::string* next = r.Peek();
  return next && !next->empty() && (*next)[0] != '-' && !FindCommand(*next);
}

bool SumList(Reader& r, Options& o) {
  std::string text;
  if (!r.Value(text)) return false;
  std::vector<vb::Long> ports;
  for (const std::string& part : vb::Split(text, ",")) {
    long p = 0;
    if (!ParseLong(part, p) || p < 1 || p > 11)
      return r.Fail("--sum takes channels 1 to 11 separated by commas, not '" + text + "'");
    ports.push_back(static_cast<vb::Long>(p));
  }
  o.sum = ports;
  return true;
}

bool ChannelValue(Reader& r, Options& o) {
  std::string text;
  long channel = 0;
  if (!r.Value(text)) return false;
  if (!ParseLong(text, channel) || channel < -1 || channel > 11)
    return r.Fail("--channel takes -1 (sum) or 0 to 11, not '" + text + "'");
  o.channel = channel;
  return true;
}

// --channel, --sum LIST, --frequency, --meas-time, --sample-rate, --attenuation, --threshold.
Step SettingOption(Reader& r, Options& o) {
  const std::string& a = r.Current();
  if (a == "--channel") return Taken(ChannelValue(r, o));
  if (a == "--sum" && SumListFollows(r)) return Taken(SumList(r, o));
  if (a != "--frequency" && a != "--meas-time" && a != "--sample-rate" && a != "--attenuation" && a != "--threshold")
    return Step::kNotMine;
  double v = 0;
  if (!r.Number(v)) return Step::kRefused;
  if (a == "--frequency") {
    if (v <= 0) return Refused(r, "--frequency must be above 0 Hz");
    o.frequency = v;
  } else if (a == "--meas-time") {
    if (v <= 0 || v > 100) return Refused(r, "--meas-time takes seconds above 0 and at most 100");
    o.measTime = v;
  } else if (a == "--sample-rate") {
    if (v < 1 || v > 252e6 || v != std::floor(v))
      return Refused(r, "--sample-rate takes whole samples per second from 1 to 252000000");
    o.sampleRate = static_cast<vb::Long>(v);
  } else if (a == "--attenuation") {
    o.attenuation = v;
  } else {
    o.threshold = v;
  }
  return Step::kTaken;
}

// --from, --to, --att, --rx18, --sum (bare), --bypass, --log, --folder: a signal path.
Step PathOption(Reader& r, Options& o) {
  const std::string& a = r.Current();
  if (a == "--from") return Taken(r.Port(o.fromPort));
  if (a == "--to") return Taken(r.Port(o.toPort));
  if (a == "--folder") return Taken(r.Value(o.folder.emplace()));
  if (a == "--att") {
    double v = 0;
    if (!r.Number(v)) return Step::kRefused;
    if (v != std::floor(v) || v < -1 || v > 1000)
      return Refused(r, "--att takes whole dB from 0 to 1000 (or -1 for none)");
    o.att = static_cast<vb::Long>(v);
    return Step::kTaken;
  }
  if (a == "--rx18") {
    o.rx18 = true;
  } else if (a == "--bypass") {
    o.bypass = true;
  } else if (a == "--log") {
    o.logarithmic = true;
  } else if (a == "--sum" && !SumListFollows(r)) {
    o.sumPath = true;
  } else {
    return Step::kNotMine;
  }
  return Step::kTaken;
}

// --csv, --json, --dump: how results are written.
Step OutputOption(Reader& r, Options& o) {
  const std::string& a = r.Current();
  if (a == "--json" || a == "--dump") {
    (a == "--json" ? o.json : o.dump) = true;
    return Step::kTaken;
  }
  if (a != "--csv") return Step::kNotMine;
  std::string& file = o.csv.emplace();
  if (!r.Value(file)) return Step::kRefused;
  return file.empty() ? Refused(r, "--csv needs a file name") : Step::kTaken;
}

using OptionKind = Step (*)(Reader&, Options&);
constexpr OptionKind kOptionKinds[] = {UnitOption, SettingOption, PathOption, OutputOption};

// Any other argument: the help, the command, or an argument of the command
// (which may be a negative number).
bool Word(Reader& r, Options& o, bool& commandSeen) {
  const std::string& a = r.Current();
  if (a == "-h" || a == "--help") {
    o.command = "help";
    commandSeen = true;
    return true;
  }
  const bool negativeNumber = a.size() > 1 && std::isdigit(static_cast<unsigned char>(a[1]));
  if (!a.empty() && a[0] == '-' && !(commandSeen && negativeNumber)) return r.Fail("unknown option " + a);
  if (commandSeen) {
    o.arguments.push_back(a);
    return true;
  }
  if (!FindCommand(a)) return r.Fail("unknown command '" + a + "'");
  o.command = a;
  commandSeen = true;
  return true;
}

// The option groups given, as Command::takes counts them.
unsigned GroupsGiven(const Options& o) {
  unsigned given = 0;
  if (o.sum) given |= kSumList;
  if (o.csv) given |= kCsvFile;
  if (o.sumPath || o.rx18 || o.bypass || o.fromPort || o.toPort || o.att) given |= kPathOptions;
  return given;
}

struct Group {
  unsigned bit;
  std::string_view belongs;
};
constexpr Group kGroups[] = {
    {kSumList, "--sum LIST belongs to "},
    {kCsvFile, "--csv belongs to "},
    {kPathOptions, "--from, --to, --att, --rx18, --sum and --bypass belong to "},
};

// "a, b and c": the commands that take a group.
std::string CommandsTaking(unsigned group) {
  std::vector<std::string_view> names;
  for (const Command& c : Commands())
    if (c.takes & group) names.push_back(c.name);
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i)
    text += std::string(i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + std::string(names[i]);
  return text;
}

// Arguments and options that belong to other commands are mistakes, not silently ignored.
bool Check(Options& o, std::string& error) {
  static constexpr Command kHelp{.name = "help"};
  const Command& c = o.command == kHelp.name ? kHelp : *FindCommand(o.command);
  auto fail = [&](std::string message) {
    error = std::move(message);
    return false;
  };
  if (o.arguments.size() != c.arguments)
    return fail(c.arguments ? o.command + " needs one argument" : "unexpected argument " + o.arguments.front());
  const unsigned given = GroupsGiven(o);
  for (const Group& g : kGroups)
    if ((given & g.bit) && !(c.takes & g.bit)) return fail(std::string(g.belongs) + CommandsTaking(g.bit));
  if ((c.needs & kNeedsFromTo) && (!o.fromPort || !o.toPort)) return fail(o.command + " needs --from and --to");
  if ((c.needs & kNeedsFrequency) && !o.frequency) return fail(o.command + " needs --frequency");
  o.defaultChannel = c.channel;
  return true;
}

}  // namespace

long PortFromText(const std::string& text) {
  long n = 0;
  if (ParseLong(text, n)) return (n >= 1 && n <= 13) ? n : -1;
  for (long p = 1; p <= 13; ++p)
    if (SameNoCase(text, modMain::PortShortName(p))) return p;
  return -1;
}

long PathFromText(const std::string& text) {
  long n = 0;
  if (ParseLong(text, n)) return (n >= 0 && n < modMain::kPathCount) ? n : -1;
  for (long p = 0; p < modMain::kPathCount; ++p)
    if (SameNoCase(text, modMain::PathName(p))) return p;
  return -1;
}

bool Parse(const std::vector<std::string>& args, Options& o, std::string& error) {
  Reader r(args);
  bool commandSeen = false;
  for (; !r.AtEnd(); r.Advance()) {
    Step step = Step::kNotMine;
    for (OptionKind kind : kOptionKinds)
      if (step == Step::kNotMine) step = kind(r, o);
    if (step == Step::kNotMine) step = Taken(Word(r, o, commandSeen));
    if (step == Step::kRefused) {
      error = r.error();
      return false;
    }
  }
  return Check(o, error);
}

}  // namespace quorvel

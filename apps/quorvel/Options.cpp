#include "quorvel/Options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <charconv>
#include <cmath>
#include <map>

#include "driver/modMain.h"
#include "platform/Files.h"
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

struct Failure {
  std::string message;
};
[[noreturn]] void Fail(std::string message) { throw Failure{std::move(message)}; }

double Number(const std::string& flag, const std::string& text) {
  double v = 0;
  if (!ParseNumber(text, v)) Fail(flag + " takes a number, not '" + text + "'");
  return v;
}

// The texts of the value options one command line gave.
class Given {
 public:
  void Add(CLI::App* app, const std::string& flag, const std::string& value, const std::string& help) {
    CLI::Option* opt = app->add_option(flag, values_[flag], help)->type_name(value);
    options_[flag].push_back(opt);
  }
  const std::string* Get(const std::string& flag) const {
    const auto it = options_.find(flag);
    if (it == options_.end()) return nullptr;
    for (const CLI::Option* opt : it->second)
      if (opt->count() > 0) return &values_.at(flag);
    return nullptr;
  }

 private:
  std::map<std::string, std::string> values_;
  std::map<std::string, std::vector<CLI::Option*>> options_;
};

// What the pre-scan found: a command name (and where), -h/--help, --version.
struct Scan {
  std::string command;
  std::size_t at = 0;
  bool help = false, version = false;
};

// Options that take a value, wherever they stand ("--sum" may be a flag: it
// takes one unless a command name follows).
bool TakesValue(const std::string& a) {
  if (a.find('=') != std::string::npos) return false;
  for (const OptionInfo& o : OptionInfos())
    if (o.flag == a && !o.value.empty()) return true;
  return false;
}

Scan Prescan(const std::vector<std::string>& args) {
  Scan s;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") break;
    if (a == "-h" || a == "--help") {
      s.help = true;
    } else if (a == "--version") {
      s.version = true;
    } else if (!a.empty() && a[0] == '-' && !(a.size() > 1 && std::isdigit(static_cast<unsigned char>(a[1])))) {
      if (TakesValue(a) && i + 1 < args.size() && !(a == "--sum" && FindCommand(args[i + 1]))) ++i;  // its value
    } else if (s.command.empty()) {
      s.command = a;
      s.at = i;
    }
  }
  return s;
}

void Apply(const Given& g, const Command& c, Options& o) {
  if (const std::string* v = g.Get("--channel")) {
    long ch = 0;
    if (!ParseLong(*v, ch) || ch < -1 || ch > 11) Fail("--channel takes -1 (sum) or 0 to 11, not '" + *v + "'");
    o.channel = ch;
  }
  if (const std::string* v = g.Get("--frequency")) {
    const double f = Number("--frequency", *v);
    if (f < kMinFrequency || f > kMaxFrequency)
      Fail("--frequency " + *v + " is outside the unit's " + vb::Format(kMinFrequency / 1e6, "0") + " MHz to " +
           vb::Format(kMaxFrequency / 1e9, "0") + " GHz (" + vb::Format(kMinFrequency / 1e6, "0") + "e6 to " +
           vb::Format(kMaxFrequency / 1e9, "0") + "e9)");
    o.frequency = f;
  }
  if (const std::string* v = g.Get("--meas-time")) {
    const double t = Number("--meas-time", *v);
    if (t <= 0 || t > 100) Fail("--meas-time takes seconds above 0 and at most 100");
    o.measTime = t;
  }
  if (const std::string* v = g.Get("--sample-rate")) {
    const double r = Number("--sample-rate", *v);
    if (r < 1 || r > zentrix8::kClock252 || r != std::floor(r))
      Fail("--sample-rate takes whole samples per second from 1 to " + std::to_string(zentrix8::kClock252));
    o.sampleRate = static_cast<vb::Long>(r);
  }
  if (const std::string* v = g.Get("--attenuation")) o.attenuation = Number("--attenuation", *v);
  if (const std::string* v = g.Get("--threshold")) {
    const double t = Number("--threshold", *v);
    if (t < kMinThreshold || t > kMaxThreshold) Fail("--threshold takes " + vb::Format(kMinThreshold, "0") + " to " + vb::Format(kMaxThreshold, "0") +
                                                       " dB below the peak, not " + *v);
    o.threshold = t;
  }
  if ((c.takes & kSumList) && g.Get("--sum")) {
    const std::string& text = *g.Get("--sum");
    std::vector<vb::Long> ports;
    for (const std::string& part : vb::Split(text, ",")) {
      long p = 0;
      if (!ParseLong(part, p) || p < 1 || p > 11) Fail("--sum takes channels 1 to 11 separated by commas, not '" + text + "'");
      if (std::find(ports.begin(), ports.end(), p) != ports.end())
        Fail("--sum names channel " + part + " twice ('" + text + "')");
      ports.push_back(static_cast<vb::Long>(p));
    }
    o.sum = ports;
    // A command that measures one channel measures the sum: a channel beside it would be ignored.
    if (const std::string* v = g.Get("--channel"); v && c.channel != 0 && o.channel != -1)
      Fail("--channel " + *v + " and --sum " + text + " both say what to measure: give one (the sum is channel -1)");
  }
  for (const char* flag : {"--from", "--to"})
    if (const std::string* v = g.Get(flag)) {
      const long p = PortFromText(*v);
      if (p < 1) Fail(std::string(flag) + " takes a port (DUT1..DUT8, GEN, COMP, VGEN, Rx, ANT), not '" + *v + "'");
      (flag[2] == 'f' ? o.fromPort : o.toPort) = p;
    }
  if (const std::string* v = g.Get("--att")) {
    const double a = Number("--att", *v);
    if (a != std::floor(a) || a < 0 || a > 1000) Fail("--att takes whole dB from 0 to 1000, not " + *v);
    o.att = static_cast<vb::Long>(a);
  }
  if (const std::string* v = g.Get("--csv")) {
    if (v->empty()) Fail("--csv needs a file name (or - for standard output)");
    // Checked before the unit is touched, so that no measurement is made for nowhere.
    if (*v != "-") {
      using Kind = platform::files::FileStatus::Kind;
      const std::string folder = std::filesystem::path(*v).parent_path().string();
      if (platform::files::Status(*v).kind == Kind::kDirectory) Fail("--csv " + *v + " is a folder, not a file");
      if (platform::files::Status(folder.empty() ? "." : folder).kind != Kind::kDirectory)
        Fail("--csv " + *v + ": there is no folder " + folder);
    }
    o.csv = *v;
  }
  if (const std::string* v = g.Get("--count")) {
    long n = 0;
    if (!ParseLong(*v, n) || n < 1 || n > 1000000) Fail("--count takes 1 to 1000000 measurements, not '" + *v + "'");
    o.count = n;
    o.repeated = true;
  }
  if (const std::string* v = g.Get("--interval")) {
    o.interval = Number("--interval", *v);
    if (o.interval < 0 || o.interval > 86400) Fail("--interval takes 0 to 86400 seconds between measurements");
    o.repeated = true;
  }
  if (o.csv == "-" && o.json) Fail("--csv - and --json both want standard output: choose one");
  if (const std::string* v = g.Get("--folder")) o.folder = *v;
  if (const std::string* v = g.Get("--interface")) {
    if (v->empty()) Fail("--interface needs a network interface's name (ip link lists them)");
    o.interfaceName = *v;
  }
  if (c.takes & kDiscoverWait) o.wait = 1;
  if (const std::string* v = g.Get("--wait")) {
    o.wait = Number("--wait", *v);
    if (o.wait < 0 || o.wait > 3600) Fail("--wait takes 0 to 3600 seconds");
  }
  if (const std::string* v = g.Get("--timeout")) {
    const double t = Number("--timeout", *v);
    if (t <= 0 || t > 86400) Fail("--timeout takes seconds above 0 and at most 86400");
    o.timeout = t;
  }
  if (const std::string* v = g.Get("--lock")) {
    const double t = Number("--lock", *v);
    if (!(t >= 0 && t <= 3600)) Fail("--lock waits 0 to 3600 seconds for another station's lock, not " + *v);
    if (!c.connects) Fail("--lock holds a unit, and " + std::string(c.name) + " does not reach one");
    o.lock = t;
  }
  if (const std::string* v = g.Get("--address")) {
    if (v->empty()) Fail("option --address needs a VISA resource");
    if (const std::string why = CheckResource(*v); !why.empty()) Fail("--address " + why);
    o.address = *v;
  }
  if (static_cast<int>(o.rx18) + static_cast<int>(o.sumPath) + static_cast<int>(o.bypass) > 1)
    Fail("a path is one of --rx18, --sum or --bypass, not several");
  if ((c.needs & kNeedsFromTo) && (!o.fromPort || !o.toPort)) Fail(std::string(c.name) + " needs --from and --to");
  if ((c.needs & kNeedsFrequency) && !o.frequency) Fail(std::string(c.name) + " needs --frequency");
}

}  // namespace

long PortFromText(const std::string& text) {
  long n = 0;
  if (ParseLong(text, n)) return (n >= 1 && n <= 13) ? n : -1;
  for (long p = 1; p <= 13; ++p)
    if (vb::EqualsNoCase(text, modMain::PortShortName(p))) return p;
  return -1;
}

long PathFromText(const std::string& text) {
  long n = 0;
  if (ParseLong(text, n)) return (n >= 0 && n < modMain::kPathCount) ? n : -1;
  for (long p = 0; p < modMain::kPathCount; ++p) {
    const std::string name = modMain::PathName(p);
    if (vb::EqualsNoCase(text, name) || vb::EqualsNoCase(text, std::string_view(name).substr(2))) return p;
  }
  return -1;
}

namespace {

// Whether a word after --lock is meant as its seconds: a number, or what
// could only have been meant as one ("5s", "nan"), which the check then names.
bool MeantAsSeconds(const std::string& word) {
  double seconds = 0;
  if (ParseNumber(word, seconds)) return true;
  std::string lower;
  for (char c : word) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return !word.empty() && (std::isdigit(static_cast<unsigned char>(word[0])) || word[0] == '.' || word[0] == '+' ||
                           lower == "nan" || lower == "inf" || lower == "infinity");
}

// "--lock" may stand without its seconds: then it waits the default.
std::vector<std::string> LockWithItsWait(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--") {
      out.insert(out.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
      break;
    }
    if (args[i] != "--lock") out.push_back(args[i]);
    else if (i + 1 < args.size() && MeantAsSeconds(args[i + 1])) out.push_back("--lock=" + args[++i]);
    else out.push_back("--lock=" + vb::Format(Options::kDefaultLockWait, "0"));
  }
  return out;
}

}  // namespace

bool Parse(const std::vector<std::string>& typed, Options& o, std::string& error) {
  const std::vector<std::string> argsIn = LockWithItsWait(typed);
  const Scan scan = Prescan(argsIn);
  if (scan.command == "help" || scan.help) {
    o.command = "help";
    const std::string topic = scan.command == "help" ? [&] {
      for (std::size_t i = 0; i + 1 < argsIn.size(); ++i)
        if (argsIn[i] == "help") return argsIn[i + 1];
      return std::string();
    }() : scan.command;
    if (!topic.empty() && !FindCommand(topic)) {
      error = "unknown command '" + topic + "'";
      return false;
    }
    if (!topic.empty()) o.arguments = {topic};
    return true;
  }
  if (scan.version) {
    o.command = "version";
    return true;
  }
  if (scan.command == "completion" || scan.command == "man") {
    o.command = scan.command;
    return true;
  }
  // The command first, then every option, whether it came before or after it.
  std::vector<std::string> args;
  if (scan.command.empty()) {
    args.push_back("run");  // the main job
    args.insert(args.end(), argsIn.begin(), argsIn.end());
  } else if (!FindCommand(scan.command)) {
    error = "unknown command '" + scan.command + "'";
    return false;
  } else {
    args.push_back(scan.command);
    args.insert(args.end(), argsIn.begin(), argsIn.begin() + static_cast<std::ptrdiff_t>(scan.at));
    args.insert(args.end(), argsIn.begin() + static_cast<std::ptrdiff_t>(scan.at) + 1, argsIn.end());
  }
  const Command& command = *FindCommand(scan.command.empty() ? "run" : scan.command);
  o.connects = command.connects;
  o.resets = command.resets;

  CLI::App app{"", "quorvel"};
  app.set_help_flag();
  app.require_subcommand(1, 1);
  Given given;
  for (const OptionInfo& info : OptionInfos()) {
    if (info.group != kGlobal) continue;
    if (info.flag == "-v") app.add_flag("-v,--verbose", o.verbose, std::string(info.help));
    else if (info.flag == "--no-sim") app.add_flag("--no-sim", o.noSim, std::string(info.help));
    else if (info.flag == "--config") app.add_option("--config", o.config, std::string(info.help));
    else if (info.flag == "--device") app.add_option("--device", o.device, std::string(info.help));
    else given.Add(&app, std::string(info.flag), std::string(info.value), std::string(info.help));
  }
  CLI::App* sub = app.add_subcommand(std::string(command.name), std::string(command.help));
  sub->fallthrough();
  for (const OptionInfo& info : OptionInfos()) {
    if (!(info.group & command.takes)) continue;
    const std::string flag(info.flag), help(info.help);
    if (info.value.empty()) {
      bool* target = flag == "--json"     ? &o.json
                     : flag == "--rx18"   ? &o.rx18
                     : flag == "--sum"    ? &o.sumPath
                     : flag == "--bypass" ? &o.bypass
                     : flag == "--log"    ? &o.logarithmic
                     : flag == "--force"  ? &o.force
                                          : &o.dump;
      sub->add_flag(flag, *target, help);
    } else {
      given.Add(sub, flag, std::string(info.value), help);
    }
  }
  if (!command.argument.empty())
    sub->add_option(std::string(command.argument), o.arguments, "the " + std::string(command.argument))->required();
  try {
    std::vector<const char*> argv{"quorvel"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    app.parse(static_cast<int>(argv.size()), argv.data());
    o.command = std::string(command.name);
    Apply(given, command, o);
  } catch (const CLI::ParseError& e) {
    error = e.what();
    // CLI11 lists the unexpected arguments last first: put them in the order given.
    if (const std::size_t colon = error.find("not expected: "); colon != std::string::npos) {
      std::istringstream words(error.substr(colon + 14));
      std::vector<std::string> extra{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
      std::string ordered;
      for (auto it = extra.rbegin(); it != extra.rend(); ++it) ordered += (ordered.empty() ? "" : " ") + *it;
      error = error.substr(0, colon + 14) + ordered;
    }
    if (error.find("not expected") != std::string::npos || error.find("unknown") != std::string::npos ||
        error.find("Extra") != std::string::npos)
      error += " (quorvel help " + std::string(command.name) + " lists its options)";
    return false;
  } catch (const Failure& f) {
    error = f.message;
    return false;
  }
  o.defaultChannel = command.channel;
  return true;
}

}  // namespace quorvel

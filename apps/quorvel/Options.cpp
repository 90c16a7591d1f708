#include "quorvel/Options.h"

#include <charconv>
#include <cmath>
#include <set>

#include "io/modMain.h"

namespace quorvel {

const char* const kUsageText =
    "usage: quorvel [options] [command [arguments]]\n"
    "\n"
    "commands:\n"
    "  run                  the main job (default): identify the unit, run a burst search\n"
    "                       on a sum of ports (--sum, default 2,3) and a power measurement\n"
    "                       on one (--channel, default 1)\n"
    "  burst-search [--sum LIST | --channel N] [--threshold DB] [--csv FILE]\n"
    "                       a burst search as the service panel runs it, with its burst list\n"
    "  trace [--channel N] [--csv FILE]\n"
    "                       measure and read the power trace\n"
    "  info                 show the unit's settings as the driver holds them (does not\n"
    "                       connect)\n"
    "  idn                  connect and show serial number and firmware version\n"
    "  measure [--channel N]\n"
    "                       connect, measure and show RMS, trace maximum and minimum in dBm\n"
    "                       (channel 1-8 DUT, 9 generator, 10 companion, 11 video, -1 sum;\n"
    "                       default 1)\n"
    "  errors               connect and show the error status and the unit's error queue\n"
    "  reset                connect and reset the unit\n"
    "  config [--json]      show every stored setting: sensors, sum and active masks,\n"
    "                       attenuators, trigger flags (does not connect)\n"
    "  send-all             connect and send the stored configuration to the unit\n"
    "  paths                list the signal paths (does not connect)\n"
    "  path N|NAME          connect and switch a path, by number or name (ptDUT5RxSum)\n"
    "  attenuation --from PORT --to PORT --att DB --frequency HZ [--rx18|--sum|--bypass] [--log]\n"
    "                       connect and show a path's attenuation at a frequency\n"
    "  save-table --from PORT --to PORT --att DB [--rx18|--sum|--bypass] [--folder DIR]\n"
    "                       connect, read a path's calibration row and save it as a data set\n"
    "  firmware FILE        connect and upload a firmware file (*.fw)\n"
    "\n"
    "settings (for measure, config and send-all; they address --channel, which is\n"
    "1 for measure and 0, every sensor, otherwise):\n"
    "  --frequency HZ       measuring frequency, e.g. 2.4e9\n"
    "  --meas-time S        measuring time in seconds\n"
    "  --sample-rate N      samples per second (moved to a rate the sampler can make)\n"
    "  --attenuation DB     attenuation correction\n"
    "  --sum LIST           sensors to sum, e.g. 2,3 (the first one leads)\n"
    "\n"
    "ports: DUT1..DUT8, GEN, COMP, VGEN, Rx, ANT\n"
    "\n"
    "  --threshold DB       burst search: how far below the peak a burst begins (-10 to 70)\n"
    "  --csv FILE           burst-search, trace: also write what was read as CSV\n"
    "  --json               run, burst-search, trace, config: machine-readable output\n"
    "\n"
    "Without a unit in the device list (or --address) the embedded simulator answers.\n"
    "\n"
    "options:\n"
    "  --config FILE        device list and settings (default: $QUORVEL_CONFIG or\n"
    "                       ~/.config/quorvel/quorvel.ini; a missing file means one\n"
    "                       default device entry)\n"
    "  --device NAME        device of the list to use (default: the first)\n"
    "  --address RESOURCE   VISA resource of the unit for this run, e.g.\n"
    "                       TCPIP::192.0.2.10::inst0::INSTR\n"
    "  -h, --help           this text\n"
    "\n"
    "exit status: 0 done, 1 the driver reported an error, 2 bad command line,\n"
    "3 no unit answered (simulation), 4 the unit reported errors, 130 interrupted\n";

namespace {

const std::set<std::string> kCommands = {"run",      "burst-search", "trace",      "info",       "idn",
                                         "measure",  "errors",       "reset",      "config",     "send-all",
                                         "paths",    "path",         "attenuation", "save-table", "firmware"};

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
  bool commandSeen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& target) {
      if (i + 1 >= args.size()) {
        error = "option " + a + " needs a value";
        return false;
      }
      target = args[++i];
      return true;
    };
    auto number = [&](double& v) {
      std::string text;
      if (!value(text)) return false;
      if (!ParseNumber(text, v)) {
        error = a + " takes a number, not '" + text + "'";
        return false;
      }
      return true;
    };
    auto port = [&](std::optional<long>& target) {
      std::string text;
      if (!value(text)) return false;
      const long p = PortFromText(text);
      if (p < 1) {
        error = a + " takes a port (DUT1..DUT8, GEN, COMP, VGEN, Rx, ANT), not '" + text + "'";
        return false;
      }
      target = p;
      return true;
    };
    double v = 0;
    if (a == "--config") {
      if (!value(o.config)) return false;
    } else if (a == "--device") {
      if (!value(o.device)) return false;
    } else if (a == "--address") {
      if (!value(o.address)) return false;
      if (o.address.empty()) {
        error = "option --address needs a VISA resource";
        return false;
      }
    } else if (a == "--channel") {
      std::string text;
      long channel = 0;
      if (!value(text)) return false;
      if (!ParseLong(text, channel) || channel < -1 || channel > 11) {
        error = "--channel takes -1 (sum) or 0 to 11, not '" + text + "'";
        return false;
      }
      o.channel = channel;
    } else if (a == "--frequency") {
      if (!number(v)) return false;
      if (v <= 0) {
        error = "--frequency must be above 0 Hz";
        return false;
      }
      o.frequency = v;
    } else if (a == "--meas-time") {
      if (!number(v)) return false;
      if (v <= 0 || v > 100) {
        error = "--meas-time takes seconds above 0 and at most 100";
        return false;
      }
      o.measTime = v;
    } else if (a == "--attenuation") {
      if (!number(v)) return false;
      o.attenuation = v;
    } else if (a == "--sample-rate") {
      if (!number(v)) return false;
      if (v < 1 || v > 252e6 || v != std::floor(v)) {
        error = "--sample-rate takes whole samples per second from 1 to 252000000";
        return false;
      }
      o.sampleRate = static_cast<vb::Long>(v);
    } else if (a == "--sum") {
      // "--sum 2,3" names the sensors of the sum; a bare "--sum" marks a path
      // through the summing network.
      if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1][0] == '-' || kCommands.count(args[i + 1])) {
        o.sumPath = true;
        continue;
      }
      const std::string text = args[++i];
      std::vector<long> ports;
      for (const std::string& part : vb::Split(text, ",")) {
        long p = 0;
        if (!ParseLong(part, p) || p < 1 || p > 11) {
          error = "--sum takes channels 1 to 11 separated by commas, not '" + text + "'";
          return false;
        }
        ports.push_back(p);
      }
      o.sum = ports;
    } else if (a == "--from") {
      if (!port(o.fromPort)) return false;
    } else if (a == "--to") {
      if (!port(o.toPort)) return false;
    } else if (a == "--att") {
      if (!number(v)) return false;
      if (v != std::floor(v) || v < -1 || v > 1000) {
        error = "--att takes whole dB from 0 to 1000 (or -1 for none)";
        return false;
      }
      o.att = static_cast<vb::Long>(v);
    } else if (a == "--rx18") {
      o.rx18 = true;
    } else if (a == "--bypass") {
      o.bypass = true;
    } else if (a == "--log") {
      o.logarithmic = true;
    } else if (a == "--folder") {
      std::string text;
      if (!value(text)) return false;
      o.folder = text;
    } else if (a == "--threshold") {
      if (!number(v)) return false;
      o.threshold = v;
    } else if (a == "--csv") {
      std::string text;
      if (!value(text)) return false;
      if (text.empty()) {
        error = "--csv needs a file name";
        return false;
      }
      o.csv = text;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "-h" || a == "--help") {
      o.command = "help";
      commandSeen = true;
    } else if (!a.empty() && a[0] == '-' && !(commandSeen && a.size() > 1 && std::isdigit(static_cast<unsigned char>(a[1])))) {
      error = "unknown option " + a;
      return false;
    } else if (!commandSeen) {
      if (!kCommands.count(a)) {
        error = "unknown command '" + a + "'";
        return false;
      }
      o.command = a;
      commandSeen = true;
    } else {
      o.arguments.push_back(a);
    }
  }
  // Arguments and options that belong to other commands are mistakes, not silently ignored.
  const bool pathCommand = o.command == "attenuation" || o.command == "save-table";
  const std::size_t wanted = (o.command == "path" || o.command == "firmware") ? 1 : 0;
  if (o.arguments.size() != wanted) {
    error = wanted ? o.command + " needs one argument" : "unexpected argument " + o.arguments.front();
    return false;
  }
  static const std::set<std::string> kSumCommands = {"measure", "config", "send-all", "run", "burst-search"};
  if (o.sum && !kSumCommands.count(o.command)) {
    error = "--sum LIST belongs to run, burst-search, measure, config and send-all";
    return false;
  }
  if (o.csv && o.command != "burst-search" && o.command != "trace") {
    error = "--csv belongs to burst-search and trace";
    return false;
  }
  if ((o.sumPath || o.rx18 || o.bypass || o.fromPort || o.toPort || o.att) && !pathCommand) {
    error = "--from, --to, --att, --rx18, --sum and --bypass belong to attenuation and save-table";
    return false;
  }
  if (pathCommand && (!o.fromPort || !o.toPort)) {
    error = o.command + " needs --from and --to";
    return false;
  }
  if (o.command == "attenuation" && !o.frequency) {
    error = "attenuation needs --frequency";
    return false;
  }
  return true;
}

}  // namespace quorvel

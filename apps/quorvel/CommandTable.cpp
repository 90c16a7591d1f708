// The command table, and the --help text made from it.
#include <algorithm>

#include "quorvel/Commands.h"

namespace quorvel {

namespace {

// In the order --help lists them.
constexpr Command kCommands[] = {
    {.name = "run",
     .run = RunJob,
     .help = "the main job (default): identify the unit, run a burst search\n"
             "on a sum of ports (--sum, default 2,3) and a power measurement\n"
             "on one (--channel, default 1)",
     .takes = kSumList,
     .channel = 1},
    {.name = "burst-search",
     .run = BurstSearchJob,
     .usage = "[--sum LIST | --channel N] [--threshold DB] [--csv FILE]",
     .help = "a burst search as the service panel runs it, with its burst list",
     .takes = kSumList | kCsvFile,
     .channel = 1},
    {.name = "trace",
     .run = TraceJob,
     .usage = "[--channel N] [--csv FILE]",
     .help = "measure and read the power trace",
     .takes = kCsvFile,
     .channel = 1},
    {.name = "info",
     .run = Info,
     .help = "show the unit's settings as the driver holds them (does not\n"
             "connect)"},
    {.name = "idn", .run = Idn, .help = "connect and show serial number and firmware version"},
    {.name = "measure",
     .run = Measure,
     .usage = "[--channel N]",
     .help = "connect, measure and show RMS, trace maximum and minimum in dBm\n"
             "(channel 1-8 DUT, 9 generator, 10 companion, 11 video, -1 sum;\n"
             "default 1)",
     .takes = kSumList,
     .channel = 1},
    {.name = "errors", .run = Errors, .help = "connect and show the error status and the unit's error queue"},
    {.name = "reset", .run = Reset, .help = "connect and reset the unit"},
    {.name = "config",
     .run = Config,
     .usage = "[--json]",
     .help = "show every stored setting: sensors, sum and active masks,\n"
             "attenuators, trigger flags (does not connect)",
     .takes = kSumList},
    {.name = "send-all",
     .run = SendAll,
     .help = "connect and send the stored configuration to the unit",
     .takes = kSumList},
    {.name = "paths", .run = Paths, .help = "list the signal paths (does not connect)"},
    {.name = "path",
     .run = Path,
     .usage = "N|NAME",
     .help = "connect and switch a path, by number or name (ptDUT5RxSum)",
     .arguments = 1},
    {.name = "attenuation",
     .run = Attenuation,
     .usage = "--from PORT --to PORT --att DB --frequency HZ [--rx18|--sum|--bypass] [--log]",
     .help = "connect and show a path's attenuation at a frequency",
     .takes = kPathOptions,
     .needs = kNeedsFromTo | kNeedsFrequency},
    {.name = "save-table",
     .run = SaveTable,
     .usage = "--from PORT --to PORT --att DB [--rx18|--sum|--bypass] [--folder DIR]",
     .help = "connect, read a path's calibration row and save it as a data set",
     .takes = kPathOptions,
     .needs = kNeedsFromTo},
    {.name = "firmware",
     .run = Firmware,
     .usage = "FILE",
     .help = "connect and upload a firmware file (*.fw)",
     .arguments = 1},
    {.name = "panel",
     .run = Panel,
     .usage = "--dump",
     .help = "connect, open the service dialog as the host does and print\n"
             "its pages' controls (caption, enabled, visible, list entries)"},
};

constexpr std::string_view kHead =
    "usage: quorvel [options] [command [arguments]]\n"
    "\n"
    "commands:\n";

constexpr std::string_view kOptions =
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
    "  --dump               panel: print the service form as text\n"
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

// A command in --help: name and usage, its help beside them from this
// column on, or below them when they are too wide.
constexpr std::size_t kHelpColumn = 23;

void AddCommand(std::string& text, const Command& c) {
  std::string line = "  " + std::string(c.name) + (c.usage.empty() ? "" : " ") + std::string(c.usage);
  if (line.size() + 2 > kHelpColumn) {
    text += line + "\n";
    line.clear();
  }
  std::string_view rest = c.help;
  for (;;) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    line.resize(kHelpColumn, ' ');
    text += line + std::string(rest.substr(0, end)) + "\n";
    line.clear();
    if (end == rest.size()) break;
    rest.remove_prefix(end + 1);
  }
}

}  // namespace

std::span<const Command> Commands() { return kCommands; }

const Command* FindCommand(std::string_view name) {
  for (const Command& c : kCommands)
    if (c.name == name) return &c;
  return nullptr;
}

std::string UsageText() {
  std::string text(kHead);
  for (const Command& c : kCommands) AddCommand(text, c);
  return text + std::string(kOptions);
}

}  // namespace quorvel

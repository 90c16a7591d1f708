// The command and option tables, and every text made from them.
#include <algorithm>
#include <sstream>

#include "quorvel/Commands.h"

#include "driver/modMain.h"

namespace quorvel {

namespace {

// In the order the help lists them.
constexpr Command kCommands[] = {
    {.name = "run",
     .run = RunJob,
     .help = "the main job (default): identify the unit, run a burst search on a\n"
             "sum of ports (--sum, default 2,3) and a power measurement on one\n"
             "(--channel, default 1)",
     .takes = kSettings | kSumList | kThreshold | kJson,
     .channel = 1,
     .connects = true,
     .resets = true},
    {.name = "burst-search",
     .run = BurstSearchJob,
     .help = "a burst search as the service panel runs it, with its burst list",
     .takes = kSettings | kSumList | kThreshold | kCsvFile | kJson | kRepeat,
     .channel = 1,
     .connects = true,
     .resets = true},
    {.name = "trace",
     .run = TraceJob,
     .help = "measure and read the power trace",
     .takes = kSettings | kSumList | kCsvFile | kJson | kRepeat,
     .channel = 1,
     .connects = true,
     .resets = true},
    {.name = "measure",
     .run = Measure,
     .help = "measure and show RMS, trace maximum and minimum in dBm\n"
             "(channel 1-8 DUT, 9 generator, 10 companion, 11 video, -1 sum)",
     .takes = kSettings | kSumList | kCsvFile | kJson | kRepeat,
     .channel = 1,
     .connects = true,
     .resets = true},
    {.name = "idn", .run = Idn, .help = "show serial number and firmware version", .takes = kJson, .connects = true},
    {.name = "errors",
     .run = Errors,
     .help = "show the unit's error queue (read first, nothing cleared before)",
     .takes = kJson,
     .connects = true},
    {.name = "scpi",
     .run = Scpi,
     .argument = "COMMAND",
     .help = "send a command or a query (text with a \"?\") as typed, print the\n"
             "answer and check the unit's error queue (control characters shown escaped)",
     .takes = kJson,
     .connects = true},
    {.name = "info",
     .run = Info,
     .help = "show the unit's settings as the driver holds them (does not connect)",
     .takes = kJson},
    {.name = "config",
     .run = Config,
     .help = "show every stored setting with the options applied: sensors, sum\n"
             "and active masks, attenuators, trigger flags (does not connect)",
     .takes = kSettings | kSumList | kJson},
    {.name = "send-all",
     .run = SendAll,
     .help = "send the stored configuration with the options applied",
     .takes = kSettings | kSumList,
     .connects = true,
     .resets = true},
    {.name = "reset", .run = Reset, .help = "reset the unit", .connects = true, .resets = true},
    {.name = "paths",
     .run = Paths,
     .help = "list the signal paths, numbered from 0 (does not connect)",
     .takes = kJson},
    {.name = "path",
     .run = Path,
     .argument = "PATH",
     .help = "switch a path, by number (from 0) or name (ptDUT5RxSum or DUT5RxSum)",
     .connects = true,
     .resets = true},
    {.name = "attenuation",
     .run = Attenuation,
     .help = "show a path's attenuation at a frequency, from the unit's calibration",
     .takes = kFrequency | kPathOptions | kLog | kJson,
     .needs = kNeedsFromTo | kNeedsFrequency,
     .connects = true},
    {.name = "save-table",
     .run = SaveTable,
     .help = "read a path's calibration row and save it as a data set",
     .takes = kPathOptions | kFolder,
     .needs = kNeedsFromTo,
     .connects = true,
     .resets = true},
    {.name = "firmware",
     .run = Firmware,
     .argument = "FILE",
     .help = "upload a firmware file (*.fw) after checking it, then wait for the\n"
             "unit to come back and show its firmware version",
     .takes = kFirmwareOptions,
     .connects = true,
     .resets = true},
    {.name = "discover",
     .run = Discover,
     .help = "find VXI-11 units on the local networks (a broadcast to their\n"
             "portmappers, then *IDN? to each, all within --wait) and list their\n"
             "resource strings; on the loopback when no other interface is up",
     .takes = kDiscoverWait | kJson},
    {.name = "panel",
     .run = Panel,
     .help = "open the service dialog as the host does and print its pages'\n"
             "controls (caption, enabled, visible, list entries)",
     .takes = kDump,
     .connects = true,
     .resets = true},
};

constexpr OptionInfo kOptions[] = {
    {"--config", "FILE", "device list and settings (default: $QUORVEL_CONFIG or ~/.config/quorvel/quorvel.ini)", kGlobal},
    {"--device", "NAME", "device of the list to use, its section name in any case (default: the first)", kGlobal},
    {"--address", "RESOURCE",
     "the unit for this run: TCPIP::<host>[::inst0]::INSTR (VXI-11), TCPIP::<host>::<port>::SOCKET (raw SCPI) or "
     "SIM::<name>::INSTR (the embedded simulator)",
     kGlobal},
    {"--timeout", "SECONDS", "give the whole command up after this long (exit status 124)", kGlobal},
    {"--lock", "[S]", "hold the unit exclusively for the whole command (a VXI-11 lock, released on every way out), "
                      "waiting up to S seconds (default 10) for another station's lock; status 3 when it is not released",
     kGlobal},
    {"-v", "", "log every command and answer with its time to stderr (--verbose)", kGlobal},
    {"--no-sim", "", "a device without a unit is an error (status 3), not the embedded simulator (also QUORVEL_NO_SIM=1)",
     kGlobal},
    {"--channel", "N", "channel the settings and the measurement address: -1 sum, 0 every sensor, 1-8 DUT, 9 generator, "
                       "10 companion, 11 video",
     kChannel},
    {"--frequency", "HZ", "measuring frequency, 10e6 to 18e9 Hz", kFrequency},
    {"--meas-time", "S", "measuring time in seconds (the samples it takes must fit the unit's 200000)", kMeasTime},
    {"--sample-rate", "N", "samples per second, a rate the sampler makes (250 or 252 MHz divided by a whole number)",
     kSampleRate},
    {"--attenuation", "DB", "attenuation correction the unit applies to its readings (a number of dB; the unit checks "
                            "its range, and a value it refuses ends the command with status 4 before measuring; a "
                            "path's attenuator is --att)",
     kAttenuationOption},
    {"--sum", "LIST", "sensors to sum, e.g. 2,3 (the first one leads)", kSumList},
    {"--threshold", "DB", "how far below the peak a burst begins, -10 to 70 (default 30, as the service form)", kThreshold},
    {"--csv", "FILE", "also write what was read as CSV (- for standard output, instead of the report)", kCsvFile},
    {"--json", "", "machine-readable output", kJson},
    {"--count", "N", "measure N times (default 1); each result then carries its time (UTC), and JSON comes one "
                     "object per line",
     kRepeat},
    {"--interval", "S", "seconds from the start of one measurement to the next (default 0: one after the other)",
     kRepeat},
    {"--from", "PORT", "path start: DUT1..DUT8, GEN, COMP, VGEN, Rx, ANT", kPathOptions},
    {"--to", "PORT", "path end: DUT1..DUT8, GEN, COMP, VGEN, Rx, ANT", kPathOptions},
    {"--att", "DB", "attenuator setting of the path, in its steps (default 0)", kPathOptions},
    {"--rx18", "", "the path through the 18 GHz receiver (one of --rx18, --sum, --bypass)", kPathOptions},
    {"--sum", "", "the path through the summing network", kPathOptions},
    {"--bypass", "", "the companion's bypass", kPathOptions},
    {"--log", "", "interpolate logarithmically", kLog},
    {"--folder", "DIR", "where the data set goes, from the current folder (default: the host's setups folder)", kFolder},
    {"--force", "", "upload even when the file's block header does not match its size", kFirmwareOptions},
    {"--wait", "SECONDS", "how long to wait for the unit to come back (default 60)", kFirmwareOptions},
    {"--dump", "", "print the service form as text (needed: the tool has no window)", kDump},
    {"--wait", "SECONDS", "how long the whole search takes: answers to the broadcast and their identities (default 1)",
     kDiscoverWait},
    {"--interface", "NAME", "broadcast on this network interface only (lo: the machine's own units)", kDiscoverWait},
};

constexpr std::string_view kExitStatus =
    "exit status: 0 done, 1 the driver reported an error, 2 bad command line or\n"
    "input file, 3 no unit answered (simulation), 4 the unit reported errors (no\n"
    "values are printed), 124 --timeout ran out, 130 interrupted (Ctrl-C)\n";

// "  name VALUE" with the help beside it from column 26, wrapped at 79.
void AddLine(std::string& text, const std::string& head, std::string_view help) {
  constexpr std::size_t kColumn = 26, kWidth = 79;
  std::string line = head;
  if (line.size() + 2 > kColumn) {
    text += line + "\n";
    line.clear();
  }
  std::istringstream words{std::string(help)};
  std::string word;
  bool first = true;
  while (words >> word) {
    if (!first && line.size() + 1 + word.size() > kWidth) {
      text += line + "\n";
      line.clear();
      first = true;
    }
    if (first) line.resize(kColumn, ' ');
    line += (first ? "" : " ") + word;
    first = false;
  }
  text += line + "\n";
}

std::string FlagHead(const OptionInfo& o) {
  return "  " + std::string(o.flag) + (o.value.empty() ? "" : " " + std::string(o.value));
}

std::string Joined(std::string_view help) {
  std::string s(help);
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

// Roff text: backslashes and leading dots or quotes escaped.
std::string Roff(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '\\' ? std::string("\\e") : c == '-' ? std::string("\\-") : std::string(1, c);
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

// A help text as a sentence of the manual: capitalised, with its full stop.
std::string Sentence(std::string_view help) {
  std::string s = Joined(help);
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  if (!s.empty() && s.back() != '.') s += '.';
  return s;
}

}  // namespace

std::span<const Command> Commands() { return kCommands; }
std::span<const OptionInfo> OptionInfos() { return kOptions; }

const Command* FindCommand(std::string_view name) {
  for (const Command& c : kCommands)
    if (c.name == name) return &c;
  return nullptr;
}

std::string UsageText() {
  std::string text =
      "usage: quorvel [options] [command [command options]]\n"
      "       quorvel help COMMAND | quorvel COMMAND --help | quorvel --version\n\ncommands:\n";
  for (const Command& c : kCommands)
    AddLine(text, "  " + std::string(c.name) + (c.argument.empty() ? "" : " " + std::string(c.argument)),
            Joined(c.help) + (c.resets ? " [resets the unit]" : ""));
  AddLine(text, "  help COMMAND", "what a command does and which options it takes");
  AddLine(text, "  completion", "a bash completion script (source it)");
  AddLine(text, "  man", "the manual page (man -l <(quorvel man))");
  text += "\noptions of every command (options may stand before or after the command; --opt=value works too):\n";
  for (const OptionInfo& o : kOptions)
    if (o.group == kGlobal) AddLine(text, FlagHead(o), o.help);
  AddLine(text, "  -h, --help", "this text");
  AddLine(text, "  --version", "the tool's version");
  text += "\nWithout a unit in the device list (or --address) the embedded simulator answers.\n"
          "Commands marked [resets the unit] send *CLS;*RST;*OPC when they connect; the\n"
          "others leave the unit and its error queue as they are.\n\n";
  return text + std::string(kExitStatus);
}

std::string CommandHelp(const Command& c) {
  std::string text = "usage: quorvel " + std::string(c.name) + " [options]" +
                     (c.argument.empty() ? "" : " " + std::string(c.argument)) + "\n\n" + std::string(c.help) + "\n";
  if (c.connects)
    text += c.resets ? "It connects and resets the unit first (*CLS;*RST;*OPC): the unit's error queue is cleared.\n"
                     : "It connects without resetting the unit.\n";
  text += "\noptions:\n";
  for (const OptionInfo& o : kOptions)
    if (o.group & c.takes) AddLine(text, FlagHead(o), o.help);
  for (const OptionInfo& o : kOptions)
    if (o.group == kGlobal && (c.connects || std::string_view(o.flag) != "--lock")) AddLine(text, FlagHead(o), o.help);
  if (c.channel) text += "\n--channel is " + std::to_string(c.channel) + " unless given.\n";
  return text + "\n" + std::string(kExitStatus);
}

std::string ManPage() {
  std::string t = ".TH QUORVEL 1 \"\" \"" + std::string(kVersion) + "\" \"User Commands\"\n";
  t += ".SH NAME\nquorvel \\- drive a Zentrix8 RF power measurement and switching unit\n";
  t += ".SH SYNOPSIS\n.B quorvel\n[\\fIoptions\\fR] [\\fIcommand\\fR [\\fIcommand options\\fR]]\n";
  t += ".SH DESCRIPTION\nMeasures power and bursts, switches signal paths, reads path attenuation tables and "
       "updates firmware through the Tavlor_QuorvelUnit driver. Without a unit in the device list (or "
       "\\fB\\-\\-address\\fR) the embedded simulator answers.\n";
  t += ".SH COMMANDS\n";
  for (const Command& c : kCommands) {
    t += ".TP\n.B " + Roff(c.name) + (c.argument.empty() ? "" : " \\fI" + Roff(c.argument) + "\\fR") + "\n" +
         Roff(Sentence(c.help)) + (c.resets ? " Resets the unit when it connects." : "") + "\n";
    std::string opts;
    for (const OptionInfo& o : kOptions)
      if (o.group & c.takes) opts += (opts.empty() ? "" : ", ") + Roff(o.flag);
    if (!opts.empty()) t += "Options: " + opts + ".\n";
  }
  t += ".SH OPTIONS\n";
  for (const OptionInfo& o : kOptions)
    t += ".TP\n.B " + Roff(o.flag) + (o.value.empty() ? "" : " \\fI" + Roff(o.value) + "\\fR") + "\n" + Roff(Sentence(o.help)) + "\n";
  t += ".SH EXIT STATUS\n" + Roff(Joined(kExitStatus)) + "\n";
  t += ".SH FILES\n~/.config/quorvel/quorvel.ini, the device list and settings ($QUORVEL_CONFIG).\n";
  return t;
}

std::string BashCompletion() {
  // Options that take a value, and what to offer for it.
  // A flag that takes a value in some commands and none in others (--sum)
  // takes none in the commands listed in `plainIn`.
  // A value in brackets may be left out (--lock [S]): only a number is taken for it.
  std::string valued, ambiguous, ambiguousValue, optional;
  for (const OptionInfo& o : kOptions) {
    if (o.value.empty()) continue;
    const std::string flag(o.flag);
    if (o.value.front() == '[') {
      optional += "      " + flag + ") [[ ${COMP_WORDS[i+1]} =~ ^[0-9.]+$ ]] && skip=1;;\n";
      continue;
    }
    std::string plainIn;
    for (const OptionInfo& other : kOptions)
      if (other.flag == o.flag && other.value.empty())
        for (const Command& c : kCommands)
          if (c.takes & other.group) plainIn += (plainIn.empty() ? "" : "|") + std::string(c.name);
    if (!plainIn.empty()) {
      if (ambiguous.find(flag + ")") == std::string::npos) {
        ambiguous += "      " + flag + ") case $cmd in " + plainIn + ") ;; *) skip=1;; esac;;\n";
        ambiguousValue += "    " + flag + ") case $cmd in " + plainIn + ") ;; *) COMPREPLY=(); return;; esac;;\n";
      }
    } else if (valued.find(" " + flag + " ") == std::string::npos) {
      valued += " " + flag + " ";
    }
  }
  std::string ports;
  for (long p = 1; p <= 13; ++p) ports += (ports.empty() ? "" : " ") + modMain::PortShortName(p);
  std::string paths;
  for (long p = 0; p < modMain::kPathCount; ++p) {
    const std::string name = modMain::PathName(p);
    paths += (paths.empty() ? "" : " ") + name + (name.rfind("pt", 0) == 0 ? " " + name.substr(2) : "");
  }
  auto alternatives = [](const std::string& spaced) {
    std::istringstream words(spaced);
    std::string out, w;
    while (words >> w) out += (out.empty() ? "" : "|") + w;
    return out;
  };
  std::string t = "# bash completion for quorvel (generated by: quorvel completion)\n_quorvel() {\n"
                  "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} cmd= w i skip=\n"
                  "  # --opt=value arrives as --opt, =, value\n"
                  "  if [[ $cur == = ]]; then cur=; prev=${COMP_WORDS[COMP_CWORD-1]}; fi\n"
                  "  if [[ $prev == = ]]; then prev=${COMP_WORDS[COMP_CWORD-2]}; fi\n"
                  "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
                  "    w=${COMP_WORDS[i]}\n"
                  "    if [[ $w == = ]]; then skip=1; continue; fi\n"
                  "    if [[ -n $skip ]]; then skip=; continue; fi\n"
                  "    case $w in\n" + ambiguous + optional +
                  "      " + alternatives(valued) + ") skip=1;;\n"
                  "      -*) ;;\n"
                  "      *) [[ -z $cmd ]] && cmd=$w;;\n"
                  "    esac\n"
                  "  done\n"
                  "  case $prev in\n"
                  "    --config|--csv) COMPREPLY=($(compgen -f -- \"$cur\")); return;;\n"
                  "    --folder) COMPREPLY=($(compgen -d -- \"$cur\")); return;;\n"
                  "    --from|--to) COMPREPLY=($(compgen -W \"" + ports + "\" -- \"$cur\")); return;;\n"
                  "    " + alternatives(valued) + ") COMPREPLY=(); return;;  # a value of the user's own\n" +
                  ambiguousValue +
                  "  esac\n"
                  "  local global=\"";
  for (const OptionInfo& o : kOptions)
    if (o.group == kGlobal) t += std::string(o.flag) + " ";
  t += "--help --version\"\n  case $cmd in\n";
  for (const Command& c : kCommands) {
    t += "    " + std::string(c.name) + ") COMPREPLY=($(compgen -W \"$global";
    for (const OptionInfo& o : kOptions)
      if (o.group & c.takes) t += " " + std::string(o.flag);
    t += "\" -- \"$cur\"))";
    if (c.name == "path")
      t += "; [[ $cur != -* ]] && COMPREPLY+=($(compgen -W \"" + paths + "\" -- \"$cur\"))";
    else if (!c.argument.empty())
      t += "; [[ $cur != -* ]] && COMPREPLY+=($(compgen -f -- \"$cur\"))";
    t += ";;\n";
  }
  t += "    *) COMPREPLY=($(compgen -W \"$global";
  for (const Command& c : kCommands) t += " " + std::string(c.name);
  t += " help completion man\" -- \"$cur\"));;\n  esac\n}\ncomplete -F _quorvel quorvel\n";
  return t;
}

}  // namespace quorvel

#include "quorvel/Cli.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <csignal>
#include <optional>
#include <functional>
#include <iomanip>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>

#include "driver/clsQuorvelUnit.h"
#include "host/ReferenceHost.h"
#include "io/Vb.h"
#include "io/modMain.h"
#include "platform/Headless.h"

namespace quorvel {

namespace {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;       // the driver raised an error
constexpr int kUsage = 2;        // bad command line
constexpr int kNoUnit = 3;       // no unit answered: simulation
constexpr int kUnitErrors = 4;   // the unit's error status was not clean
constexpr int kInterrupted = 130;

constexpr const char* kUsageText =
    "usage: quorvel [options] [command [command options]]\n"
    "\n"
    "commands:\n"
    "  info                 show the unit's settings as the driver holds them (default;\n"
    "                       does not connect)\n"
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
    "\n"
    "settings (for measure, config and send-all; they address --channel, which is\n"
    "1 for measure and 0, every sensor, otherwise):\n"
    "  --frequency HZ       measuring frequency, e.g. 2.4e9\n"
    "  --meas-time S        measuring time in seconds\n"
    "  --sample-rate N      samples per second (moved to a rate the sampler can make)\n"
    "  --attenuation DB     attenuation correction\n"
    "  --sum LIST           sensors to sum, e.g. 2,3 (the first one leads)\n"
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

struct Options {
  std::string config;
  std::string device;
  std::string address;
  std::string command = "info";
  std::optional<long> channel;
  std::optional<double> frequency, measTime, attenuation;
  std::optional<vb::Long> sampleRate;
  std::optional<std::vector<long>> sum;
  bool json = false;
  // The channel settings and measurements address.
  long Channel() const { return channel.value_or(command == "measure" ? 1 : 0); }
  bool HasSettings() const { return frequency || measTime || attenuation || sampleRate || sum; }
};

// A number as the whole text, "." as decimal point (2.4e9, 0.01, -3).
bool ParseNumber(const std::string& text, double& out) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  const auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last && first != last && std::isfinite(out);
}

bool ParseLong(const std::string& text, long& out) {
  try {
    std::size_t used = 0;
    out = std::stol(text, &used);
    return used == text.size();
  } catch (...) {
    return false;
  }
}

// Parses the arguments; false with a message for bad input.
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
    } else if (a == "--frequency" || a == "--meas-time" || a == "--attenuation" || a == "--sample-rate") {
      std::string text;
      double v = 0;
      if (!value(text)) return false;
      if (!ParseNumber(text, v)) {
        error = a + " takes a number, not '" + text + "'";
        return false;
      }
      if (a == "--frequency") {
        if (v <= 0) {
          error = "--frequency must be above 0 Hz";
          return false;
        }
        o.frequency = v;
      } else if (a == "--meas-time") {
        if (v <= 0 || v > 100) {
          error = "--meas-time takes seconds above 0 and at most 100";
          return false;
        }
        o.measTime = v;
      } else if (a == "--attenuation") {
        o.attenuation = v;
      } else {
        if (v < 1 || v > 252e6 || v != std::floor(v)) {
          error = "--sample-rate takes whole samples per second from 1 to 252000000";
          return false;
        }
        o.sampleRate = static_cast<vb::Long>(v);
      }
    } else if (a == "--sum") {
      std::string text;
      if (!value(text)) return false;
      std::vector<long> ports;
      for (const std::string& part : vb::Split(text, ",")) {
        long p = 0;
        if (!ParseLong(part, p) || p < 1 || p > 11) {
          error = "--sum takes channels 1 to 11 separated by commas, not '" + text + "'";
          return false;
        }
        ports.push_back(p);
      }
      if (ports.empty()) {
        error = "--sum needs at least one channel";
        return false;
      }
      o.sum = ports;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "-h" || a == "--help") {
      o.command = "help";
      commandSeen = true;
    } else if (!a.empty() && a[0] == '-') {
      error = "unknown option " + a;
      return false;
    } else if (!commandSeen) {
      o.command = a;
      commandSeen = true;
    } else {
      error = "unexpected argument " + a;
      return false;
    }
  }
  return true;
}

std::string Num(double v) { return modMain::FormatCommandNumber(v); }

std::string Hz(double f) {
  if (f >= 1e9) return Num(f / 1e9) + " GHz";
  if (f >= 1e6) return Num(f / 1e6) + " MHz";
  return Num(f) + " Hz";
}

std::string Dbm(double v) { return vb::Format(v, "0.000") + " dBm"; }

// Ctrl-C becomes the host's stop request; a second one ends the program.
std::atomic<host::ReferenceHost*> g_interruptible{nullptr};

extern "C" void OnInterrupt(int) {
  if (host::ReferenceHost* h = g_interruptible.load()) h->RequestStop();
  std::signal(SIGINT, SIG_DFL);
}

class InterruptGuard {
 public:
  explicit InterruptGuard(host::ReferenceHost& h) {
    g_interruptible = &h;
    previous_ = std::signal(SIGINT, OnInterrupt);
  }
  ~InterruptGuard() {
    std::signal(SIGINT, previous_);
    g_interruptible = nullptr;
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  void (*previous_)(int) = SIG_DFL;
};

// One run of the tool: the host, the platform and the named driver object.
class Session {
 public:
  Session(const Options& o, std::ostream& out, std::ostream& err) : o_(o), out_(out), err_(err) {}

  // Opens the host and names the driver; false (with the message written) when that fails.
  bool Open(int& status) {
    host_ = host::ReferenceHost::Open(host::ReferenceHost::ConfigPath(o_.config), platform_.events);
    const std::vector<std::string> names = host_->DeviceNames();
    name_ = o_.device.empty() ? names.front() : o_.device;
    bool known = false;
    for (const auto& n : names) known = known || n == name_;
    if (!known) {
      err_ << "quorvel: no device named '" << name_ << "' in " << host_->ConfigFile() << " (devices:";
      for (const auto& n : names) err_ << " " << n;
      err_ << ")\n";
      status = kUsage;
      return false;
    }
    if (!o_.address.empty()) {
      host_->OverrideDeviceValue(name_, "Address", o_.address);
      host_->OverrideDeviceValue(name_, "Interface", "60");
    }
    unit_ = std::make_unique<clsQuorvelUnit>(host_->services(), platform_.services());
    unit_->clsDevice_Name(name_);
    return true;
  }

  // Connects (check and identification); false when no unit answered.
  bool Connect() {
    unit_->clsDevice_Status(1);
    if (unit_->clsDevice_Status() == 1) return true;
    err_ << "quorvel: no unit answered at " << unit_->AddressText() << "; simulation: values are neutral\n";
    return false;
  }

  // The exit status for the error status the unit left; prints it when not clean.
  int ErrorStatusVerdict() {
    if (host_->StopRequested()) {
      err_ << "quorvel: stopped by the user\n";
      return kInterrupted;
    }
    const vb::Long status = unit_->GetErrorStatus();
    if (status == esNONE) return kOk;
    err_ << "quorvel: the unit's error status is " << status << " (" << unit_->GetErrorDescription(status) << ")\n";
    return kUnitErrors;
  }

  clsQuorvelUnit& unit() { return *unit_; }
  host::ReferenceHost& host() { return *host_; }
  std::ostream& out() { return out_; }
  const Options& options() const { return o_; }

 private:
  const Options& o_;
  std::ostream& out_;
  std::ostream& err_;
  platform::HeadlessPlatform platform_;
  std::shared_ptr<host::ReferenceHost> host_;
  std::unique_ptr<clsQuorvelUnit> unit_;
  std::string name_;
};

int Info(Session& s);

// Stores the settings given on the command line; sends them when connected.
void ApplySettings(Session& s) {
  const Options& o = s.options();
  clsQuorvelUnit& u = s.unit();
  const bool send = u.clsDevice_Status() == 1;
  if (o.sum) {
    std::vector<long> ports = *o.sum;
    u.SetSumPorts(ports);
    if (send) u.SendSumPorts();
  }
  const long ch = o.Channel();
  if (o.frequency) u.SetFrequency(*o.frequency, ch, send);
  if (o.sampleRate) u.SetSampleRate(*o.sampleRate, ch, send);
  if (o.measTime) u.SetMeasTime(*o.measTime, ch, send);
  if (o.attenuation) u.SetAttenuation(*o.attenuation, ch, send);
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string MaskList(vb::Long mask, long first, long last) {
  std::string out;
  for (long n = first; n <= last; ++n)
    if (mask & (vb::Long{1} << n)) out += (out.empty() ? "" : ",") + std::to_string(n);
  return out.empty() ? "-" : out;
}

int Config(Session& s) {
  ApplySettings(s);
  clsQuorvelUnit& u = s.unit();
  std::ostream& out = s.out();
  if (s.options().json) {
    out << "{\"device\":" << JsonString(u.clsDevice_Name()) << ",\"sensors\":[";
    for (long n = 1; n <= 8; ++n) {
      const PortSettings& p = u.StoredPortSettings(n);
      out << (n > 1 ? "," : "") << "{\"sensor\":" << n << ",\"frequency\":" << Num(p.Frequency)
          << ",\"measTime\":" << Num(p.MeasTime) << ",\"sampleRate\":" << p.SampleRate
          << ",\"clockMode\":" << p.ClockMode << ",\"dividerFast\":" << p.DividerFast
          << ",\"dividerSlow\":" << p.DividerSlow << ",\"sampleCount\":" << p.SampleCount
          << ",\"subSampleRate\":" << p.SubSampleRate << ",\"burstSearchLevel\":" << Num(p.BurstSearchLevel)
          << ",\"attenuation\":" << Num(p.Attenuation) << ",\"gain\":" << Num(p.Gain)
          << ",\"extTrigger\":" << (p.ExtTrigger ? "true" : "false") << ",\"triggerOffsetSamples\":"
          << Num(p.TriggerOffset) << "}";
    }
    out << "],\"attenuators\":[";
    for (long a = 1; a <= 10; ++a) out << (a > 1 ? "," : "") << Num(u.StoredAttenuator(a));
    out << "],\"sumPortMask\":" << u.StoredSumPortMask() << ",\"activePortMask\":" << u.StoredActivePortMask()
        << ",\"auxModeMask\":" << u.StoredAuxModeMask() << ",\"beamformingGain\":" << Num(u.GetBeamformingGain(false))
        << ",\"triggerOutWithIn\":" << (u.GetTriggerOutWithIn(false) ? "true" : "false")
        << ",\"triggerOutWithMeasurement\":" << (u.GetTriggerOutWithMeasurement(false) ? "true" : "false") << "}\n";
    return kOk;
  }
  Info(s);
  out << "Sum          " << MaskList(u.StoredSumPortMask(), 1, 8) << "\n"
      << "Active       " << MaskList(u.StoredActivePortMask(), 1, 8) << "\n"
      << "Aux modes    " << MaskList(u.StoredAuxModeMask(), 9, 11) << "\n"
      << "Beamforming  " << Num(u.GetBeamformingGain(false)) << "\n"
      << "Trigger out  with input " << (u.GetTriggerOutWithIn(false) ? "on" : "off") << ", with measurement "
      << (u.GetTriggerOutWithMeasurement(false) ? "on" : "off") << "\n";
  return kOk;
}

int SendAll(Session& s) {
  if (!s.Connect()) return kNoUnit;
  ApplySettings(s);
  s.unit().SendAllSettings();
  s.out() << "Settings     sent\n";
  return s.ErrorStatusVerdict();
}

int Info(Session& s) {
  clsQuorvelUnit& unit = s.unit();
  std::ostream& out = s.out();
  const DeviceInfo info = unit.clsDevice_Info();
  out << "Device       " << unit.clsDevice_Name() << " (" << unit.clsDevice_DeviceType() << ")\n";
  if (!unit.clsDevice_Description().empty()) out << "Description  " << unit.clsDevice_Description() << "\n";
  out << "Interface    " << unit.clsDevice_Interface()
      << (unit.clsDevice_Interface() == clsQuorvelUnit::kInterfaceVisa ? " (VISA)" : " (not VISA: simulation only)")
      << "\n";
  out << "Status       " << unit.clsDevice_Status()
      << (unit.clsDevice_Status() == 1 ? " (connected)" : " (simulation: no unit connected)") << "\n";
  out << "Address      " << info.Address << "\n";
  if (!info.SerialNumber.empty()) out << "Serial       " << info.SerialNumber << "\n";
  out << "Frequencies  " << Hz(unit.clsDevice_MinFrequency()) << " to " << Hz(unit.clsDevice_MaxFrequency()) << "\n\n";

  const char* head[] = {"Sensor", "Frequency/Hz", "MeasTime/s", "Rate/(1/s)", "Clock", "DivFast", "DivSlow",
                        "Samples", "BurstLvl", "Atten", "Gain", "ExtTrig", "TrigOffs/s", "SubSample"};
  const int width[] = {7, 13, 11, 11, 7, 8, 8, 9, 9, 7, 6, 8, 11, 0};
  auto row = [&](const auto& cells) {
    std::ostringstream line;
    for (std::size_t i = 0; i < std::size(width); ++i) line << std::left << std::setw(width[i]) << cells[i];
    out << line.str() << "\n";
  };
  row(head);
  for (long sensor = 1; sensor <= 8; ++sensor) {
    const PortSettings& p = unit.StoredPortSettings(sensor);
    const std::string cells[] = {"DUT" + std::to_string(sensor),
                                 Num(p.Frequency),
                                 Num(p.MeasTime),
                                 std::to_string(p.SampleRate),
                                 p.ClockMode == 1 ? "252MHz" : "250MHz",
                                 std::to_string(p.DividerFast),
                                 std::to_string(p.DividerSlow),
                                 std::to_string(p.SampleCount),
                                 Num(p.BurstSearchLevel),
                                 Num(p.Attenuation),
                                 Num(p.Gain),
                                 p.ExtTrigger ? "yes" : "no",
                                 Num(p.TriggerOffset),
                                 std::to_string(p.SubSampleRate)};
    row(cells);
  }
  out << "\nAttenuators  ";
  for (long a = 1; a <= 8; ++a) out << "DUT" << a << " " << Num(unit.StoredAttenuator(a)) << "  ";
  out << "COMP " << Num(unit.StoredAttenuator(9)) << "  BYP " << Num(unit.StoredAttenuator(10)) << "\n";
  return kOk;
}

int Idn(Session& s) {
  if (!s.Connect()) return kNoUnit;
  const DeviceInfo info = s.unit().clsDevice_Info();
  std::string firmware = info.FirmwareVersion;
  while (!firmware.empty() && (firmware.back() == '\n' || firmware.back() == '\r')) firmware.pop_back();
  s.out() << "Device       " << s.unit().clsDevice_Name() << "\n"
          << "Address      " << s.unit().AddressText() << "\n"
          << "Serial       " << info.SerialNumber << "\n"
          << "Firmware     " << firmware << "\n";
  return kOk;
}

int Measure(Session& s) {
  if (!s.Connect()) return kNoUnit;
  clsQuorvelUnit& unit = s.unit();
  ApplySettings(s);
  const long channel = s.options().Channel();
  unit.MeasurementInit(channel);
  const MeasuredValue rms = unit.Measure(channel);
  const double max = unit.GetTraceMax(channel);
  const double min = unit.GetTraceMin(channel);
  s.out() << "Channel      " << channel << "\n"
          << "RMS          " << Dbm(rms.Value) << "\n"
          << "Trace max    " << Dbm(max) << "\n"
          << "Trace min    " << Dbm(min) << "\n";
  return s.ErrorStatusVerdict();
}

int Errors(Session& s) {
  if (!s.Connect()) return kNoUnit;
  clsQuorvelUnit& unit = s.unit();
  const vb::Long status = unit.GetErrorStatus();
  const std::string description = unit.GetErrorDescription(status);
  s.out() << "Error status " << status << (description.empty() ? "" : " (" + description + ")") << "\n"
          << "Unit errors  " << unit.GetSystemError() << "\n";
  return kOk;
}

int Reset(Session& s) {
  if (!s.Connect()) return kNoUnit;
  s.unit().ResetQuorvelUnit();
  s.out() << "Reset        done\n";
  return kOk;
}

const std::map<std::string, std::function<int(Session&)>>& Commands() {
  static const std::map<std::string, std::function<int(Session&)>> commands = {
      {"info", Info},     {"idn", Idn},       {"measure", Measure},  {"errors", Errors},
      {"reset", Reset},   {"config", Config}, {"send-all", SendAll}};
  return commands;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  std::string error;
  if (!Parse(args, o, error)) {
    err << "quorvel: " << error << "\n(quorvel --help lists the commands and options)\n";
    return kUsage;
  }
  if (o.command == "help") {
    out << kUsageText;
    return kOk;
  }
  const auto command = Commands().find(o.command);
  if (command == Commands().end()) {
    err << "quorvel: unknown command '" << o.command << "'\n(quorvel --help lists the commands and options)\n";
    return kUsage;
  }
  try {
    Session session(o, out, err);
    int status = kOk;
    if (!session.Open(status)) return status;
    InterruptGuard interrupts(session.host());
    return command->second(session);
  } catch (const vb::Error& e) {
    err << "quorvel: error " << e.Number() << ": " << e.Description() << "\n";
    return kFailed;
  }
}

}  // namespace quorvel

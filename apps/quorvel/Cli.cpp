#include "quorvel/Cli.h"

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

constexpr const char* kUsage =
    "usage: quorvel [options] [command]\n"
    "\n"
    "commands:\n"
    "  info            name the unit from the device list and show its state (default)\n"
    "\n"
    "options:\n"
    "  --config FILE   device list and settings (default: $QUORVEL_CONFIG or\n"
    "                  ~/.config/quorvel/quorvel.ini; a missing file means one\n"
    "                  default device entry)\n"
    "  --device NAME   device of the list to use (default: the first)\n"
    "  -h, --help      this text\n";

struct Options {
  std::string config;
  std::string device;
  std::string command = "info";
};

// Parses the arguments; returns false with a message for bad input.
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

std::string Hz(double f) {
  if (f >= 1e9) return modMain::FormatCommandNumber(f / 1e9) + " GHz";
  if (f >= 1e6) return modMain::FormatCommandNumber(f / 1e6) + " MHz";
  return modMain::FormatCommandNumber(f) + " Hz";
}

std::string Num(double v) { return modMain::FormatCommandNumber(v); }

void PrintInfo(clsQuorvelUnit& unit, std::ostream& out) {
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
  const int width[] = {7, 13, 11, 11, 7, 8, 8, 9, 9, 7, 6, 8, 11, 9};
  for (std::size_t i = 0; i < std::size(head); ++i) out << std::left << std::setw(width[i]) << head[i];
  out << "\n";
  for (long s = 1; s <= 8; ++s) {
    const PortSettings& p = unit.StoredPortSettings(s);
    const std::string cells[] = {"DUT" + std::to_string(s),
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
    for (std::size_t i = 0; i < std::size(cells); ++i) out << std::left << std::setw(width[i]) << cells[i];
    out << "\n";
  }
  out << "\nAttenuators  ";
  for (long a = 1; a <= 8; ++a) out << "DUT" << a << " " << Num(unit.StoredAttenuator(a)) << "  ";
  out << "COMP " << Num(unit.StoredAttenuator(9)) << "  BYP " << Num(unit.StoredAttenuator(10)) << "\n";
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  std::string error;
  if (!Parse(args, o, error)) {
    err << "quorvel: " << error << "\n\n" << kUsage;
    return 2;
  }
  if (o.command == "help") {
    out << kUsage;
    return 0;
  }
  if (o.command != "info") {
    err << "quorvel: unknown command '" << o.command << "'\n\n" << kUsage;
    return 2;
  }
  try {
    platform::HeadlessPlatform plat;
    auto hostImpl = host::ReferenceHost::Open(host::ReferenceHost::ConfigPath(o.config), plat.events);
    const std::vector<std::string> names = hostImpl->DeviceNames();
    std::string name = o.device.empty() ? names.front() : o.device;
    bool known = false;
    for (const auto& n : names) known = known || n == name;
    if (!known) {
      err << "quorvel: no device named '" << name << "' in " << hostImpl->ConfigFile() << " (devices:";
      for (const auto& n : names) err << " " << n;
      err << ")\n";
      return 2;
    }
    clsQuorvelUnit unit(hostImpl->services(), plat.services());
    unit.clsDevice_Name(name);
    PrintInfo(unit, out);
    return 0;
  } catch (const vb::Error& e) {
    err << "quorvel: error " << e.Number() << ": " << e.Description() << "\n";
    return 1;
  }
}

}  // namespace quorvel

// The commands of the quorvel tool.
#include "quorvel/Commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "dialog/frmQuorvelUnitTest.h"

#include <cstdio>
#include <iomanip>
#include <sstream>

#include "driver/ServiceForm.h"
#include "io/modMain.h"
#include "quorvel/Session.h"

namespace quorvel {

namespace {

// Stores the settings given on the command line; sends them when connected.
void ApplySettings(Session& s) {
  const Options& o = s.options();
  clsQuorvelUnit& u = s.unit();
  const bool send = u.clsDevice_Status() == 1;
  if (o.sum) {
    std::vector<vb::Long> ports = *o.sum;
    u.SetSumPorts(ports);
    if (send) u.SendSumPorts();
  }
  const long ch = o.Channel();
  if (o.frequency) u.SetFrequency(*o.frequency, ch, send);
  if (o.sampleRate) u.SetSampleRate(*o.sampleRate, ch, send);
  if (o.measTime) u.SetMeasTime(*o.measTime, ch, send);
  if (o.attenuation) u.SetAttenuation(*o.attenuation, ch, send);
}

std::string MaskList(vb::Long mask, long first, long last) {
  std::string out;
  for (long n = first; n <= last; ++n)
    if (mask & (vb::Long{1} << n)) out += (out.empty() ? "" : ",") + std::to_string(n);
  return out.empty() ? "-" : out;
}

AttTableProp PathOf(const Options& o) {
  AttTableProp p;
  p.FromPort = static_cast<QuorvelPort>(*o.fromPort);
  p.ToPort = static_cast<QuorvelPort>(*o.toPort);
  p.Rx18 = o.rx18;
  p.Sum = o.sumPath;
  p.ByPass = o.bypass;
  p.Attenuator = o.att.value_or(0);
  return p;
}

}  // namespace

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

// --- paths, tables and firmware -------------------------------------------------

int Paths(Session& s) {
  for (long p = 0; p < modMain::kPathCount; ++p)
    s.out() << std::setw(2) << p << "  " << std::left << std::setw(22) << modMain::PathName(p) << std::right
            << modMain::PathDescription(p) << "\n";
  return kOk;
}

int Path(Session& s) {
  const std::string& text = s.options().arguments.front();
  const long path = PathFromText(text);
  if (path < 0) {
    s.err() << "quorvel: no path '" << text << "' (quorvel paths lists them)\n";
    return kUsage;
  }
  if (!s.Connect()) return kNoUnit;
  s.unit().SetPath(path);
  s.out() << "Switched     " << modMain::PathDescription(path) << "\n";
  return kOk;
}

int Attenuation(Session& s) {
  if (!s.Connect()) return kNoUnit;
  AttTableProp prop = PathOf(s.options());
  const double frq = *s.options().frequency;
  const double att = s.unit().GetPathAttenuation(frq, prop, s.options().logarithmic ? 1 : 0);
  const std::string path = s.unit().GetPathAttenuationFilename(prop).substr(8);  // without "Zentrix "
  if (att == 1000) {
    s.err() << "quorvel: no attenuation for " << path << " at " << Hz(frq)
            << " (no such path, or the frequency is outside its row)\n";
    return kFailed;
  }
  s.out() << "Path         " << path << "\n"
          << "Frequency    " << Hz(frq) << "\n"
          << "Attenuation  " << vb::Format(att, "0.000") << " dB" << (att == -137 ? " (not delivered by the unit)" : "")
          << "\n";
  return s.ErrorStatusVerdict();
}

int SaveTable(Session& s) {
  AttTableProp prop = PathOf(s.options());
  if (clsQuorvelUnit::GetPathNr(prop) == 0) {
    s.unit().SavePathAttenuationTable(prop);  // says that the path does not exist, asks nothing
    return kFailed;
  }
  if (!s.Connect()) return kNoUnit;
  std::string folder = s.options().folder.value_or(s.host().Paths()->BaseFolder() + "Setups\\Zentrix8");
  AttTableProp rounded = prop;  // the name the driver will use
  clsQuorvelUnit::RoundAttenuatorStep(rounded);
  const std::string fullName =
      (folder.empty() || folder.back() == '\\' ? folder : folder + "\\") + s.unit().GetPathAttenuationFilename(rounded);
  const bool existed = s.host().DataSetExists(fullName, 41, 9);
  s.unit().SavePathAttenuationTable(prop, folder);
  s.out() << (existed ? "Left as it was (exists already): " : "Saved        ") << s.host().DataSetPath(fullName) << "\n";
  return s.ErrorStatusVerdict();
}

int Firmware(Session& s) {
  const std::string& file = s.options().arguments.front();
  // The driver says "File not found" for anything it cannot size: say what the path is.
  struct stat st{};
  if (::stat(file.c_str(), &st) != 0) {
    s.err() << "quorvel: file not found: " << file << " (" << std::strerror(errno) << ")\n";
    return kUsage;
  }
  if (S_ISDIR(st.st_mode)) {
    s.err() << "quorvel: " << file << " is a directory, not a firmware file\n";
    return kUsage;
  }
  if (!S_ISREG(st.st_mode)) {
    s.err() << "quorvel: " << file << " is not a regular file (a FIFO, device or socket); nothing was sent\n";
    return kUsage;
  }
  if (!s.Connect()) return kNoUnit;
  // The driver shows the upload in its service form's status label: a progress bar here.
  s.unit().clsDevice_ShowDeviceDialog(4, nullptr, "");
  std::ostream& err = s.err();
  if (auto* form = dynamic_cast<dialog::frmQuorvelUnitTest*>(s.unit().TestForm()))
    form->lb_fw_status.Observe([&err, last = std::string()](const dialog::Control& label, std::string_view) mutable {
      const std::string& caption = label.Caption();
      if (caption == last || caption.rfind("Upload in progress", 0) != 0) return;  // redrawn when the figure changes
      last = caption;
      const double percent = vb::Val(caption.substr(caption.rfind(' ') + 1));
      const int filled = static_cast<int>(percent / 5);
      err << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
          << std::string(static_cast<std::size_t>(20 - filled), '.') << "] " << caption << std::flush;
    });
  const int result = s.unit().Transfer_FirmwareFile(file);
  switch (result) {
    case 1:
      err << "\n";
      s.out() << "Firmware     uploaded; the unit restarts\n";
      s.unit().clsDevice_Status(0);
      return kOk;
    case 0:
      s.err() << "quorvel: " << file << " is empty; nothing was sent\n";
      return kUsage;
    default:
      s.err() << "quorvel: " << file << " is not a firmware file (no \"SYSTEM:FWUPDATE #\" in its first 32 bytes); "
              << "nothing was sent\n";
      return kUsage;
  }
}

}  // namespace quorvel

namespace quorvel {

namespace {

const char* KindName(dialog::Kind kind) {
  switch (kind) {
    case dialog::Kind::Frame: return "frame";
    case dialog::Kind::Label: return "label";
    case dialog::Kind::TextBox: return "text box";
    case dialog::Kind::NumericTextBox: return "numeric box";
    case dialog::Kind::CommandButton: return "button";
    case dialog::Kind::CheckBox: return "check box";
    case dialog::Kind::ComboBox: return "combo box";
    case dialog::Kind::ListBox: return "list box";
    case dialog::Kind::Timer: return "timer";
  }
  return "control";
}

// Line breaks and tabs of a caption shown as escapes, so that one control is one line.
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : std::string(1, c);
  return out;
}

void DumpControl(std::ostream& out, const dialog::Control& c, int depth) {
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  out << indent << c.Name() << " (" << KindName(c.ControlKind()) << ")";
  if (!c.Caption().empty()) out << " \"" << OneLine(c.Caption()) << "\"";
  if (!c.Enabled()) out << " disabled";
  if (!c.Visible()) out << " hidden";
  if (const auto* t = dynamic_cast<const dialog::Timer*>(&c)) out << " interval " << t->Interval() << " ms";
  if (const auto* b = dynamic_cast<const dialog::CheckBox*>(&c)) out << (b->Value() ? " [x]" : " [ ]");
  out << "\n";
  if (const auto* list = dynamic_cast<const dialog::ListControl*>(&c)) {
    for (std::size_t i = 0; i < list->Entries().size(); ++i)
      out << indent << "  " << (static_cast<vb::Long>(i) == list->ListIndex() ? "* " : "- ")
          << OneLine(list->Entries()[i].text) << "\n";
  }
  for (const dialog::Control* child : c.Children()) DumpControl(out, *child, depth + 1);
}

}  // namespace

int Panel(Session& s) {
  if (!s.options().dump) {
    s.err() << "quorvel: panel needs --dump (the tool has no window; it prints the form)\n";
    return kUsage;
  }
  const bool connected = s.Connect();  // in simulation the form shows so too
  s.unit().clsDevice_ShowDeviceDialog(4, nullptr, "");
  const auto* form = dynamic_cast<const dialog::frmQuorvelUnitTest*>(s.unit().TestForm());
  if (!form) {
    s.err() << "quorvel: the driver made no service form\n";
    return kFailed;
  }
  s.out() << "Form \"" << form->Caption() << "\"; pages handed to the host:";
  for (const host::TabEntry& tab : clsQuorvelUnit::TabList()) s.out() << " \"" << tab.Caption << "\"";
  s.out() << "\n";
  for (const dialog::Control* frame : form->Frames()) {
    s.out() << "\n";
    DumpControl(s.out(), *frame, 0);
  }
  return connected ? kOk : kNoUnit;
}

}  // namespace quorvel

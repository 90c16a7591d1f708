// The commands of the quorvel tool.
#include "quorvel/Commands.h"
#include "quorvel/CsvOut.h"
#include "quorvel/JsonResult.h"


#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <thread>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "dialog/frmQuorvelUnitTest.h"
#include "driver/ServiceForm.h"
#include "driver/modMain.h"
#include "platform/Files.h"
#include "quorvel/Session.h"

namespace quorvel {

using Json = nlohmann::ordered_json;

namespace {

// The sensor whose settings a channel shows (the first of all, or of the sum).
vb::Long SensorOf(clsQuorvelUnit& u, long channel) {
  if (channel >= 1) return std::max<vb::Long>(1, clsQuorvelUnit::ChannelToSensor(channel));
  if (channel == ppSum)
    for (vb::Long n = 1; n <= 8; ++n)
      if (u.StoredSumPortMask() & (vb::Long{1} << n)) return n;
  return 1;
}

}  // namespace

int CheckSampling(Session& s, vb::Long sensor, std::optional<vb::Long> asked) {
  const PortSettings& p = s.unit().StoredPortSettings(sensor);
  if (asked && p.SampleRate != *asked) {
    s.Say() << "--sample-rate " << *asked << " is not a rate the sampler makes ("
            << zentrix8::kClock250 / 1000000 << " or " << zentrix8::kClock252 / 1000000
            << " MHz divided by a whole number); the nearest it makes is " << p.SampleRate << "\n";
    return kUsage;
  }
  if (p.SampleCount > kMaxSamples) {
    s.Say() << Num(p.MeasTime) << " s at " << p.SampleRate << " samples/s takes " << p.SampleCount
            << " samples; the unit records at most " << kMaxSamples << " (shorten --meas-time or lower --sample-rate)\n";
    return kUsage;
  }
  return kOk;
}

int ApplySettings(Session& s) {
  const Options& o = s.options();
  clsQuorvelUnit& u = s.unit();
  const bool send = u.clsDevice_Status() == 1;
  if (o.sum) {
    std::vector<vb::Long> ports = *o.sum;
    u.SetSumPorts(ports);
    if (send) u.SendSumPorts();
  }
  const long ch = o.Channel();
  if (ch == ppSum && u.StoredSumPortMask() == 0) {
    s.Say() << "--channel -1 is the sum, and no sum is set: give --sum LIST\n";
    return kUsage;
  }
  const vb::Long sensor = SensorOf(u, ch);
  if (o.frequency) u.SetFrequency(*o.frequency, ch, false);
  if (o.sampleRate) u.SetSampleRate(*o.sampleRate, ch, false);
  // The sample count follows measuring time and rate (also when only the rate was given).
  u.SetMeasTime(o.measTime.value_or(u.StoredPortSettings(sensor).MeasTime), ch, false);
  if (const int status = CheckSampling(s, sensor, o.sampleRate); status != kOk) return status;
  if (o.attenuation) u.SetAttenuation(*o.attenuation, ch, false);
  if (send) {
    if (o.frequency) u.SendFrequency(ch);
    if (o.sampleRate) u.SendSampleRate(ch);
    u.SendMeasTime(ch);
    if (o.attenuation) u.SendAttenuation(ch);
  }
  return kOk;
}

namespace {

std::string MaskList(vb::Long mask, long first, long last) {
  std::string out;
  for (long n = first; n <= last; ++n)
    if (mask & (vb::Long{1} << n)) out += (out.empty() ? "" : ",") + std::to_string(n);
  return out.empty() ? "-" : out;
}

Json MaskJson(vb::Long mask, long first, long last) {
  Json list = Json::array();
  for (long n = first; n <= last; ++n)
    if (mask & (vb::Long{1} << n)) list.push_back(n);
  return list;
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

// The path as given, or why it is not one the unit has.
bool CheckPath(Session& s, const AttTableProp& prop) {
  if (clsQuorvelUnit::GetPathNr(prop) == 0) {
    s.Say() << "the unit has no path from " << modMain::PortShortName(prop.FromPort) << " to "
            << modMain::PortShortName(prop.ToPort) << (prop.Rx18 ? " through the 18 GHz receiver" : "")
            << (prop.Sum ? " through the summing network" : "") << (prop.ByPass ? " through the bypass" : "") << "\n";
    return false;
  }
  AttTableProp rounded = prop;
  clsQuorvelUnit::RoundAttenuatorStep(rounded);
  if (rounded.Attenuator != prop.Attenuator) {
    AttTableProp next = rounded;
    next.Attenuator = rounded.Attenuator + (prop.Attenuator - rounded.Attenuator) * 2;
    clsQuorvelUnit::RoundAttenuatorStep(next);
    s.Say() << "--att " << prop.Attenuator << " is not a setting of this path's attenuator; it goes in steps ("
            << rounded.Attenuator << (next.Attenuator != rounded.Attenuator ? " or " + std::to_string(next.Attenuator) : "")
            << ")\n";
    return false;
  }
  return true;
}

Json SensorJson(const PortSettings& p, long n) {
  return {{"sensor", n},
          {"frequency", p.Frequency},
          {"measTime", p.MeasTime},
          {"sampleRate", p.SampleRate},
          {"clockMode", p.ClockMode},
          {"dividerFast", p.DividerFast},
          {"dividerSlow", p.DividerSlow},
          {"sampleCount", p.SampleCount},
          {"subSampleRate", p.SubSampleRate},
          {"burstSearchLevel", p.BurstSearchLevel},
          {"attenuation", p.Attenuation},
          {"gain", p.Gain},
          {"extTrigger", p.ExtTrigger},
          {"triggerOffsetSamples", p.TriggerOffset}};
}

Json InfoJson(clsQuorvelUnit& u) {
  const DeviceInfo info = u.clsDevice_Info();
  Json j = {{"device", u.clsDevice_Name()},
            {"deviceType", u.clsDevice_DeviceType()},
            {"description", u.clsDevice_Description()},
            {"interface", u.clsDevice_Interface()},
            {"status", u.clsDevice_Status()},
            {"address", info.Address},
            {"serial", info.SerialNumber},
            {"minFrequency", u.clsDevice_MinFrequency()},
            {"maxFrequency", u.clsDevice_MaxFrequency()}};
  j["sensors"] = Json::array();
  for (long n = 1; n <= 8; ++n) j["sensors"].push_back(SensorJson(u.StoredPortSettings(n), n));
  j["attenuators"] = Json::array();
  for (long a = 1; a <= 10; ++a) j["attenuators"].push_back(u.StoredAttenuator(a));
  return j;
}

}  // namespace

int Config(Session& s) {
  if (const int status = ApplySettings(s); status != kOk) return status;
  clsQuorvelUnit& u = s.unit();
  std::ostream& out = s.out();
  if (s.options().json) {
    Json j = InfoJson(u);
    j["sum"] = MaskJson(u.StoredSumPortMask(), 1, 8);
    j["active"] = MaskJson(u.StoredActivePortMask(), 1, 8);
    j["sumPortMask"] = u.StoredSumPortMask();
    j["activePortMask"] = u.StoredActivePortMask();
    j["auxModeMask"] = u.StoredAuxModeMask();
    j["beamformingGain"] = u.GetBeamformingGain(false);
    j["triggerOutWithIn"] = u.GetTriggerOutWithIn(false);
    j["triggerOutWithMeasurement"] = u.GetTriggerOutWithMeasurement(false);
    out << j.dump() << "\n";
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
  if (const int status = ApplySettings(s); status != kOk) return status;
  s.unit().SendAllSettings();
  if (s.UnitRefused()) return kUnitErrors;
  s.out() << "Settings     sent\n";
  return s.ErrorStatusVerdict();
}

int Info(Session& s) {
  clsQuorvelUnit& unit = s.unit();
  // The sample counts follow measuring time and rate, as every measuring command sends them.
  for (vb::Long n = 1; n <= 8; ++n) unit.SetMeasTime(unit.StoredPortSettings(n).MeasTime, n, false);
  std::ostream& out = s.out();
  if (s.options().json && s.options().command == "info") {
    out << InfoJson(unit).dump() << "\n";
    return kOk;
  }
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
  if (s.options().json) {
    s.out() << JsonResult(s, Json{{"device", s.unit().clsDevice_Name()},
                                  {"address", s.unit().AddressText()},
                                  {"serial", info.SerialNumber},
                                  {"firmware", FirmwareVersion(info)}})
            << "\n";
    return kOk;
  }
  s.out() << "Device       " << s.unit().clsDevice_Name() << "\n"
          << "Address      " << s.unit().AddressText() << "\n"
          << "Serial       " << Shown(info.SerialNumber) << "\n"
          << "Firmware     " << Shown(FirmwareVersion(info)) << "\n";
  return kOk;
}

int Measure(Session& s) {
  if (!s.Connect()) return kNoUnit;
  clsQuorvelUnit& unit = s.unit();
  const Options& o = s.options();
  if (const int status = ApplySettings(s); status != kOk) return status;
  if (s.UnitRefused()) return kUnitErrors;
  const long channel = o.Channel();
  CsvOut csv(s, std::string(o.repeated ? "time," : "") + "channel,rms_dBm,trace_max_dBm,trace_min_dBm");
  const int status = s.Repeat([&](const std::string& time, long) {
    unit.MeasurementInit(channel);
    const double rms = Hundredths(unit.Measure(channel).Value);
    const double max = Hundredths(unit.GetTraceMax(channel));
    const double min = Hundredths(unit.GetTraceMin(channel));
    if (const int verdict = s.ErrorStatusVerdict(); verdict != kOk) return verdict;
    if (csv.OnStandardOutput()) {
      // standard output carries the CSV alone
    } else if (o.json) {
      const Json j = {{"channel", channel}, {"rms", rms}, {"traceMax", max}, {"traceMin", min}};
      s.out() << JsonResult(s, o.repeated ? Stamped(time, j) : j) << "\n";
    } else {
      if (o.repeated) s.out() << "Time         " << time << "\n";
      s.out() << "Channel      " << channel << "\n"
              << "RMS          " << Dbm(rms) << "\n"
              << "Trace max    " << Dbm(max) << "\n"
              << "Trace min    " << Dbm(min) << "\n";
    }
    csv.Row((o.repeated ? time + "," : std::string()) + std::to_string(channel) + "," + Shortest(rms) + "," +
            Shortest(max) + "," + Shortest(min));
    return kOk;
  });
  if (!csv.Finish()) return kFailed;
  return status;
}

int Errors(Session& s) {
  if (!s.Connect()) return kNoUnit;  // without the reset: the queue is as the unit holds it
  clsQuorvelUnit& unit = s.unit();
  const std::string queue = unit.GetSystemError();
  const vb::Long status = unit.GetErrorStatus();
  const std::string description = unit.GetErrorDescription(status);
  const bool clean = !queue.empty() && queue[0] == '0';
  s.KeepOutputOnError();  // the errors are this command's result
  if (s.options().json)
    s.out() << JsonResult(s, Json{{"unitErrors", queue}, {"errorStatus", status}, {"errorStatusText", description}}) << "\n";
  else
    s.out() << "Unit errors  " << Shown(queue) << "\n"
            << "Error status " << status << (description.empty() ? "" : " (" + description + ")") << "\n";
  return clean ? kOk : kUnitErrors;
}

int Scpi(Session& s) {
  const std::string& text = s.options().arguments.front();
  if (text.empty() || text.find_first_of("\r\n") != std::string::npos) {
    s.Say() << "scpi takes one command or query on one line\n";
    return kUsage;
  }
  if (!s.Connect()) return kNoUnit;  // without the reset: the unit stays as it is
  clsQuorvelUnit& unit = s.unit();
  const bool query = text.find('?') != std::string::npos;
  const std::string answer = unit.ScpiExchange(text);
  const std::string queue = unit.GetSystemError();
  if (queue.empty() || queue[0] != '0') {
    s.Say() << "the unit refused " << Shown(text) << ": " << Shown(queue) << "\n";
    return kUnitErrors;
  }
  if (const int verdict = s.ErrorStatusVerdict(); verdict != kOk) return verdict;
  if (s.options().json)
    s.out() << JsonResult(s, Json{{"command", text}, {"answer", query ? Json(answer) : Json()}}) << "\n";
  else if (query)
    s.out() << Shown(answer) << "\n";
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
  if (s.options().json) {
    Json list = Json::array();
    for (long p = 0; p < modMain::kPathCount; ++p)
      list.push_back({{"number", p}, {"name", modMain::PathName(p)}, {"description", modMain::PathDescription(p)}});
    s.out() << list.dump() << "\n";
    return kOk;
  }
  s.out() << "Paths count from 0; quorvel path takes the number or the name (with or without pt).\n";
  for (long p = 0; p < modMain::kPathCount; ++p)
    s.out() << std::setw(2) << p << "  " << std::left << std::setw(22) << modMain::PathName(p) << std::right
            << modMain::PathDescription(p) << "\n";
  return kOk;
}

int Path(Session& s) {
  const std::string& text = s.options().arguments.front();
  const long path = PathFromText(text);
  if (path < 0) {
    s.Say() << "no path '" << text << "': give 0 to " << modMain::kPathCount - 1
            << " or a name such as ptDUT5RxSum or DUT5RxSum (quorvel paths lists them)\n";
    return kUsage;
  }
  if (!s.Connect()) return kNoUnit;
  s.unit().SetPath(path);
  if (s.UnitRefused()) return kUnitErrors;
  s.out() << "Switched     " << path << " " << modMain::PathName(path) << ": " << modMain::PathDescription(path) << "\n";
  return kOk;
}

int Attenuation(Session& s) {
  AttTableProp prop = PathOf(s.options());
  if (!CheckPath(s, prop)) return kUsage;
  if (!s.Connect()) return kNoUnit;
  const double frq = *s.options().frequency;
  const double att = s.unit().GetPathAttenuation(frq, prop, s.options().logarithmic ? 1 : 0);
  const std::string path = s.unit().GetPathAttenuationFilename(prop).substr(8);  // without "Zentrix "
  if (att == 1000) {
    s.Say() << "no attenuation for " << path << " at " << Hz(frq) << " (the frequency is outside its row)\n";
    return kFailed;
  }
  if (att == -137) {
    s.Say() << "the unit delivered no attenuation for " << path << " at " << Hz(frq) << "\n";
    return kUnitErrors;
  }
  if (s.options().json)
    s.out() << JsonResult(s, Json{{"path", path}, {"frequency", frq}, {"attenuation", Hundredths(att)}}) << "\n";
  else
    s.out() << "Path         " << path << "\n"
            << "Frequency    " << Hz(frq) << "\n"
            << "Attenuation  " << vb::Format(Hundredths(att), "0.00") << " dB\n";
  return s.ErrorStatusVerdict();
}

int SaveTable(Session& s) {
  AttTableProp prop = PathOf(s.options());
  if (!CheckPath(s, prop)) return kUsage;
  if (!s.Connect()) return kNoUnit;
  // A folder given on the command line is where the user is, not under the data folder.
  std::string folder = s.options().folder
                           ? std::filesystem::absolute(*s.options().folder).lexically_normal().string()
                           : s.host().Paths()->BaseFolder() + "Setups\\Zentrix8";
  const std::string fullName = (folder.empty() || folder.back() == '\\' ? folder : folder + "\\") +
                               s.unit().GetPathAttenuationFilename(prop);
  const std::string file = s.host().DataSetPath(fullName);
  const long stored = s.host().StoredDataSets();
  s.unit().SavePathAttenuationTable(prop, folder);
  // The data set is created exclusively: only the run that wrote it says Saved.
  if (s.host().StoredDataSets() == stored) {
    s.Say() << file << " exists already; it was left as it was\n";
    return kFailed;
  }
  s.out() << "Saved        " << file << "\n";
  return s.ErrorStatusVerdict();
}

namespace {

// The firmware header the driver sends first: "SYSTEM:FWUPDATE #<n><length>".
struct FirmwareHeader {
  bool found = false;
  std::size_t dataStart = 0;
  std::uintmax_t length = 0;
};

FirmwareHeader ReadHeader(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string head(64, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  FirmwareHeader h;
  const std::size_t at = head.find("SYSTEM:FWUPDATE #");
  if (at == std::string::npos || at + 17 >= head.size()) return h;
  const std::size_t digits = static_cast<std::size_t>(head[at + 17] - '0');
  if (digits < 1 || digits > 9 || at + 18 + digits > head.size()) return h;
  for (std::size_t i = 0; i < digits; ++i) {
    const char c = head[at + 18 + i];
    if (c < '0' || c > '9') return h;
    h.length = h.length * 10 + static_cast<std::uintmax_t>(c - '0');
  }
  h.found = true;
  h.dataStart = at + 18 + digits;
  return h;
}

}  // namespace

int Firmware(Session& s) {
  const std::string& file = s.options().arguments.front();
  // The driver says "File not found" for anything it cannot size: say what the path is.
  using Kind = platform::files::FileStatus::Kind;
  const platform::files::FileStatus st = platform::files::Status(file);
  if (st.kind == Kind::kMissing) {
    s.Say() << "file not found: " << file << " (" << (st.error.empty() ? "No such file or directory" : st.error)
            << ")\n";
    return kUsage;
  }
  if (st.kind == Kind::kDirectory) {
    s.Say() << file << " is a directory, not a firmware file\n";
    return kUsage;
  }
  if (st.kind != Kind::kRegular) {
    s.Say() << file << " is not a regular file (a FIFO, device or socket); nothing was sent\n";
    return kUsage;
  }
  const std::uintmax_t size = st.size;
  if (size > kMaxFirmwareBytes) {
    s.Say() << file << " is " << size << " bytes; the unit takes at most " << kMaxFirmwareBytes
            << " bytes of firmware\n";
    return kUsage;
  }
  if (!s.options().force && size > 0) {
    const FirmwareHeader h = ReadHeader(file);
    const std::uintmax_t held = size > h.dataStart ? size - h.dataStart : 0;
    // The block may end with a line feed after its data.
    if (h.found && held != h.length && held != h.length + 1) {
      s.Say() << file << ": its block header promises " << h.length << " bytes of firmware but the file "
              << "holds " << held << " after it; nothing was sent (--force sends it anyway)\n";
      return kUsage;
    }
  }
  if (!s.Connect()) return kNoUnit;
  const DeviceInfo was = s.unit().clsDevice_Info();
  const std::string before = FirmwareVersion(was);
  // The driver shows the upload in its service form's status label, and tells us: a progress bar here.
  s.unit().clsDevice_ShowDeviceDialog(4, nullptr, "");
  std::ostream& err = s.err();
  if (s.Interactive())
    s.unit().SetFirmwareProgress([&err, last = -1](double percent) mutable {
      const int whole = static_cast<int>(percent + 0.5);
      if (whole == last) return;  // redrawn when the figure changes
      last = whole;
      const int filled = std::clamp(whole / 5, 0, 20);
      err << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
          << std::string(static_cast<std::size_t>(20 - filled), '.') << "] Upload in progress ... " << whole << "%"
          << std::flush;
    });
  const int result = s.unit().Transfer_FirmwareFile(file);
  s.unit().SetFirmwareProgress({});
  if (result == 0) {
    s.Say() << file << " is empty; nothing was sent\n";
    return kUsage;
  }
  if (result != 1) {
    s.Say() << file << " is not a firmware file (no \"SYSTEM:FWUPDATE #\" in its first 32 bytes); "
            << "nothing was sent\n";
    return kUsage;
  }
  if (s.Interactive()) err << "\n";
  s.out() << "Firmware     uploaded (" << size << " bytes); was " << Shown(before) << "\n";
  s.Deliver();  // true whatever the unit makes of it
  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::duration<double>(s.options().wait);
  // --wait bounds everything from here: no single try waits longer than what is left.
  s.SetDeadline(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(limit));
  // Did the unit take it?  Its error queue says, before the reconnect's *CLS
  // clears it; a unit that took the file is restarting and does not answer.
  std::string refused;
  try {
    const std::string queue = s.unit().GetSystemError();
    if (!queue.empty() && queue[0] != '0') refused = queue;
  } catch (const vb::Error&) {
  }
  if (!refused.empty()) {
    s.Say() << "the unit refused the firmware: " << Shown(refused) << "; it keeps " << Shown(before) << "\n";
    return kUnitErrors;
  }
  // The unit restarts: reconnect until it answers again, or give up after --wait.
  s.unit().clsDevice_Status(0);
  for (;;) {
    const auto waited = std::chrono::steady_clock::now() - start;
    if (s.host().StopRequested()) return kInterrupted;
    if (waited >= limit) {
      s.Say() << "the unit did not come back within " << Num(s.options().wait)
              << " s after the upload (--wait); check it before using it\n";
      return kNoUnit;
    }
    if (s.Interactive())
      err << "\rwaiting for the unit to restart ... " << static_cast<int>(std::chrono::duration<double>(waited).count())
          << " s" << std::flush;
    // A try a second; none starts once the wait is over.
    const double left = std::chrono::duration<double, std::milli>(limit - waited).count();
    s.host().Wait(static_cast<float>(std::min(1000.0, left)));
    if (std::chrono::steady_clock::now() - start >= limit) continue;
    s.unit().clsDevice_Status(1);
    if (s.unit().clsDevice_Status() == 1) break;
  }
  if (s.Interactive()) err << "\n";
  s.SetDeadline({});
  const DeviceInfo now = s.unit().clsDevice_Info();
  if (now.SerialNumber != was.SerialNumber) {
    s.Say() << "a different unit answered after the restart: serial " << Shown(now.SerialNumber) << ", not "
            << Shown(was.SerialNumber) << "; check the address before using it\n";
    return kFailed;
  }
  if (FirmwareVersion(now) == before) {
    s.Say() << "the unit restarted with firmware " << Shown(before)
            << ", the version it had: it did not take the new firmware (or the file held the same version)\n";
    return kUnitErrors;
  }
  s.out() << "Firmware     now " << Shown(FirmwareVersion(now)) << "\n";
  return kOk;
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
    s.Say() << "panel needs --dump (the tool has no window; it prints the form)\n";
    return kUsage;
  }
  const bool connected = s.Connect();  // in simulation the form shows so too
  s.unit().clsDevice_ShowDeviceDialog(4, nullptr, "");
  const auto* form = dynamic_cast<const dialog::frmQuorvelUnitTest*>(s.unit().TestForm());
  if (!form) {
    s.Say() << "the driver made no service form\n";
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

// The unit: its instances, its messages taken apart into commands, and what
// tests and demos read of its state.
#include "sim/Zentrix8.h"

#include "sim/Command.h"
#include "sim/ScpiParsing.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>
#include <utility>

namespace sim {

using namespace detail;

Zentrix8::Zentrix8(Scenario scenario) : scenario_(std::move(scenario)), port_(std::make_unique<Port>(*this)) {
  // A scenario a test engineer recognises: bursts on every port, a little
  // weaker the higher the port, the companion and video channels quieter.
  for (int s = 1; s <= 8; ++s) {
    SensorSignal& g = scenario_.sensors[static_cast<std::size_t>(s)];
    if (g.levelDbm == SensorSignal{}.levelDbm) g.levelDbm = -10 - 1.5 * (s - 1);
  }
  ResetSettings();
}

namespace {
std::mutex g_instancesMutex;
std::map<std::string, std::shared_ptr<Zentrix8>>& Instances() {
  static std::map<std::string, std::shared_ptr<Zentrix8>> instances;
  return instances;
}
}  // namespace

std::shared_ptr<Zentrix8> Zentrix8::Instance(const std::string& name) {
  std::lock_guard lock(g_instancesMutex);
  auto& unit = Instances()[name];
  if (!unit) unit = std::make_shared<Zentrix8>();
  return unit;
}

std::shared_ptr<Zentrix8> Zentrix8::Replace(const std::string& name, Scenario scenario) {
  std::lock_guard lock(g_instancesMutex);
  auto unit = std::make_shared<Zentrix8>(std::move(scenario));
  Instances()[name] = unit;
  return unit;
}


void Zentrix8::ResetSettings() {
  sensors_ = {};
  for (double& a : attenuators_) a = 31.75;
  clock_ = "C250";
  beamformingGain_ = 0;
  triggerOut_ = triggerMeasure_ = 0;
  paths_.clear();
  results_ = {};
}

// --- messages ----------------------------------------------------------------------

void Zentrix8::FinishFirmware(Port& port) {
  ++firmwareUploads_;
  // The new firmware reports the next version number after the restart.
  std::string& fw = identity_.firmware;
  const std::size_t dot = fw.rfind('.');
  long minor = 0;
  std::from_chars(fw.data() + dot + 1, fw.data() + fw.size(), minor);
  fw = fw.substr(0, dot + 1) + std::to_string(minor + 1);
  rebootUntil_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(rebootSeconds_ * timeScale_));
  {
    std::lock_guard portLock(port.mutex_);
    port.output_.clear();
    port.outputRead_ = port.queued_ = 0;
  }
  esr_ = 0;
  opcArmed_ = false;
  op_ = {};
  ResetSettings();
}

void Zentrix8::ProcessMessage(std::string_view message, Port& port) {
  {
    std::lock_guard lock(mutex_);
    ++commands_;
    if (faults_.dropAfterCommands && commands_ > *faults_.dropAfterCommands) {
      dropped_ = true;
      return;
    }
    log_.emplace_back(message.substr(0, kLoggedBytes));
    if (log_.size() > kLoggedMessages) log_.pop_front();
    port.composing_ = false;
    port.overflowed_ = false;
    port.composed_.clear();
  }
  // The unit is held one command at a time, so one client's long message
  // does not stop the others.
  bool opc = false;
  std::string path;  // the program header path a relative header after ";" continues
  std::size_t start = 0;
  while (start <= message.size()) {
    const std::size_t semi = std::min(message.find(';', start), message.size());
    const std::string_view part = Trim(message.substr(start, semi - start));
    start = semi + 1;
    if (part.empty()) continue;
    std::lock_guard lock(mutex_);
    // Once the response has outgrown its bound, further queries only make answers that are dropped.
    if (port.overflowed_ && part.front() != '*' && part.find('?') != std::string_view::npos) continue;
    std::string resolved;
    if (part.front() != '*' && part.front() != ':' && !path.empty() && KnownHeader(path + std::string(part)))
      resolved = path + std::string(part);  // ":SENS1:FREQ 1e9;FREQ?" asks :SENS1:FREQ?
    const std::string_view command = resolved.empty() ? part : std::string_view(resolved);
    if (command.front() != '*') {
      // The path is the header up to its last ":" (common commands leave it).
      const std::string_view header = command.substr(0, command.find_first_of(" ?"));
      const std::size_t colon = header.rfind(':');
      path = colon == std::string_view::npos ? std::string() : std::string(header.substr(0, colon + 1));
    }
    current_ = &port;
    ProcessCommand(command, opc);
    current_ = nullptr;
  }
  {
    std::lock_guard lock(mutex_);
    port.FinishMessage();
  }
  if (opc) {
    std::lock_guard lock(mutex_);
    // "*OPC": the operation-complete bit follows when the running operation ends.
    if (op_.kind == Operation::kNone) {
      if (!faults_.neverComplete) esr_ |= 1;
    } else {
      opcArmed_ = true;
    }
  }
}

void Zentrix8::ProcessCommand(std::string_view text, bool& opc) {
  try {
    if (!faults_.garbageFor.empty() && Upper(text) == Upper(faults_.garbageFor)) {
      Answer("garbage\n");
      return;
    }
    if (!faults_.streamWithoutLineFeedFor.empty() && Upper(text) == Upper(faults_.streamWithoutLineFeedFor)) {
      current_->stream_ = "1234,";
      return;
    }
    if (text.front() == '*') {
      CommonCommand(Upper(text), opc);
      return;
    }
    Command cmd = ParseHeader(text);
    const auto& handlers = Handlers();
    const auto it = handlers.find(cmd.key);
    if (it == handlers.end()) throw ScpiError{-113, "Undefined header"};
    it->second(*this, cmd);
  } catch (const ScpiError& e) {
    QueueError(e.code, e.text);
  } catch (const std::exception&) {
    QueueError(-100, "Command error");  // e.g. a suffix too long to be a number
  }
}

bool Zentrix8::KnownHeader(const std::string& text) {
  try {
    return Handlers().count(ParseHeader(text).key) != 0;
  } catch (...) {
    return false;
  }
}

Zentrix8::Command Zentrix8::ParseHeader(std::string_view text) {
  if (text.front() == ':') text.remove_prefix(1);
  Command cmd;
  cmd.text = std::string(text);
  const std::size_t stop = text.find_first_of(" ?");
  std::string_view header = text.substr(0, stop);
  if (stop != std::string_view::npos) {
    if (text[stop] == '?')
      cmd.query = true;  // anything after the "?" (",,0") is ignored
    else
      cmd.args = std::string(text.substr(stop + 1));
  }
  // Nodes with numeric suffixes; ":SENS:" means sensor 1, ":SUMP:" the summing path (0).
  std::vector<std::string> nodes;
  for (std::size_t p = 0; p <= header.size();) {
    const std::size_t colon = std::min(header.find(':', p), header.size());
    // SENSe1, FREQuency: long or short form, any case; the suffix stays.
    std::string node = Upper(header.substr(p, colon - p));
    std::size_t digits = node.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(node[digits - 1]))) --digits;
    nodes.push_back(ShortForm(node.substr(0, digits)) + node.substr(digits));
    p = colon + 1;
  }
  // Nodes that take a numeric suffix, by their position: SENS<n>, its TRIG<n>;
  // CONF:PORT<n>, CONF:PART<n>, CONF:TRIG:OUTP<n>/MEAS<n>; CAL:PATH<n>:PORT<n>:ROW<n>.
  const std::vector<std::string> raw = nodes;
  auto suffixed = [&](std::size_t i, const std::string& name) {
    const std::string first = raw[0].rfind("SENS", 0) == 0 ? "SENS" : raw[0];
    if (name == "SENS") return i == 0;
    if (name == "TRIG") return i == 1 && first == "SENS";
    if (name == "PORT") return (i == 1 && first == "CONF") || (i == 2 && first == "CAL");
    if (name == "PART") return i == 1 && first == "CONF";
    if (name == "PATH") return i == 1 && first == "CAL";
    if (name == "ROW") return i == 3 && first == "CAL";
    if (name == "OUTP" || name == "MEAS") return i == 2 && first == "CONF" && raw.size() > 1 && raw[1] == "TRIG";
    return false;
  };
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    std::string& n = nodes[i];
    std::size_t d = n.size();
    while (d > 0 && std::isdigit(static_cast<unsigned char>(n[d - 1]))) --d;
    const std::string name = n.substr(0, d);
    if (i == 0 && n == "SUMP") {
      cmd.nums.push_back(0);  // the summing path
      n = "SENS#";
    } else if (suffixed(i, name)) {
      cmd.nums.push_back(d < n.size() ? std::stol(n.substr(d)) : 1);  // no suffix means 1
      n = name + "#";
    } else if (d < n.size()) {
      throw ScpiError{-113, "Undefined header"};
    }
    cmd.key += (i ? ":" : "") + n;
  }
  return cmd;
}

void Zentrix8::Answer(std::string text) { AnswerAt(std::move(text), Clock::now()); }

std::string Zentrix8::AnswerBuffer() { return current_ ? current_->TakeSpare() : std::string(); }

void Zentrix8::AnswerAt(std::string text, Clock::time_point readyAt) {
  const auto delay = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(faults_.answerDelayS));
  if (current_) current_->Compose(std::move(text), readyAt + delay);
}

// --- state, for tests and demos ---------------------------------------------------

bool Zentrix8::Rebooting() const {
  std::lock_guard lock(mutex_);
  return rebootUntil_ != Clock::time_point{} && Clock::now() < rebootUntil_;
}

bool Zentrix8::ConnectionDropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

void Zentrix8::Reconnect() {
  std::lock_guard lock(mutex_);
  dropped_ = false;
  commands_ = 0;
}

void Zentrix8::SetTimeScale(double scale) {
  std::lock_guard lock(mutex_);
  timeScale_ = std::max(0.0, scale);
}

double Zentrix8::TimeScale() const {
  std::lock_guard lock(mutex_);
  return timeScale_;
}

void Zentrix8::SetRebootSeconds(double seconds) {
  std::lock_guard lock(mutex_);
  rebootSeconds_ = seconds;
}

Zentrix8::Identity Zentrix8::identity() const {
  std::lock_guard lock(mutex_);
  return identity_;
}

Zentrix8::Sensor Zentrix8::sensor(int index) const {
  std::lock_guard lock(mutex_);
  return sensors_.at(static_cast<std::size_t>(index));
}

double Zentrix8::attenuator(int index) const {
  std::lock_guard lock(mutex_);
  return attenuators_.at(static_cast<std::size_t>(index));
}

std::string Zentrix8::clockWord() const {
  std::lock_guard lock(mutex_);
  return clock_;
}

std::string Zentrix8::pathState(const std::string& node) const {
  std::lock_guard lock(mutex_);
  const auto it = paths_.find(node);
  return it == paths_.end() ? std::string() : it->second;
}

long Zentrix8::commandCount() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

std::vector<std::string> Zentrix8::commandLog() const {
  std::lock_guard lock(mutex_);
  return {log_.begin(), log_.end()};
}

long Zentrix8::firmwareUploads() const {
  std::lock_guard lock(mutex_);
  return firmwareUploads_;
}

}  // namespace sim

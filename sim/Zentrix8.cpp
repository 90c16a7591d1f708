#include "sim/Zentrix8.h"

#include "sim/Detail.h"
#include "sim/Signal.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>
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

// --- ports: input -----------------------------------------------------------------

Zentrix8::Port::Port(std::shared_ptr<Zentrix8> unit) : unit_(unit.get()), keep_(std::move(unit)) {}

void Zentrix8::Port::Consume(std::string_view bytes) {
  const std::size_t within = block_.got < block_.length ? std::min(block_.length - block_.got, bytes.size()) : 0;
  for (char c : bytes.substr(within)) block_.tailOk = block_.tailOk && (c == '\n' || c == '\r');
  block_.got += bytes.size();
}

void Zentrix8::Port::Write(std::string_view bytes, bool end) {
  Zentrix8& z = *unit_;
  if (z.Rebooting() || z.ConnectionDropped()) return;
  // What the input comes to, decided under this port's lock; the unit is
  // taken after it is let go (the unit's lock always comes first).
  enum class Outcome { kWait, kTooMuch, kBadBlock, kFirmware, kMessage } outcome = Outcome::kWait;
  std::string message;
  {
    std::lock_guard lock(mutex_);
    stream_.clear();  // a new message ends an endless answer
    if (block_.active) {
      Consume(bytes);
    } else if (input_.size() + bytes.size() > kMaxInput) {
      input_.clear();
      outcome = Outcome::kTooMuch;
    } else {
      input_.append(bytes);
      // A firmware block may come in many writes: counted as it comes, taken at the end.
      const BlockHeader header = ParseBlockHeader(input_);
      if (header.state == BlockHeader::kComplete) {
        block_ = {true, header.length, 0, true, header.length > kMaxInput};
        Consume(std::string_view(input_).substr(header.dataStart));
        input_.clear();
        input_.shrink_to_fit();
      } else if (header.state != BlockHeader::kNone) {
        if (!end) return;
        input_.clear();
        outcome = Outcome::kBadBlock;  // a header that never completed
      } else if (end) {
        message.swap(input_);
        outcome = Outcome::kMessage;
      }
    }
    if (block_.active && end) {
      const bool whole = block_.got == block_.length || (block_.got > block_.length && block_.tailOk);
      outcome = block_.tooLarge ? Outcome::kTooMuch : whole ? Outcome::kFirmware : Outcome::kBadBlock;
      block_ = {};
    }
  }
  switch (outcome) {
    case Outcome::kWait:
      return;
    case Outcome::kTooMuch: {
      std::lock_guard unitLock(z.mutex_);
      z.QueueError(-223, "Too much data");
      return;
    }
    case Outcome::kBadBlock:
    case Outcome::kFirmware: {
      std::lock_guard unitLock(z.mutex_);
      ++z.commands_;
      if (outcome == Outcome::kBadBlock) {
        z.QueueError(-161, "Invalid block data");
        return;
      }
      z.FinishFirmware(*this);
      return;
    }
    case Outcome::kMessage:
      break;
  }
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  z.ProcessMessage(message, *this);
}

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
    port.composed_.clear();
  }
  // The unit is held one command at a time, so one client's long message
  // does not stop the others.
  bool opc = false;
  std::size_t start = 0;
  while (start <= message.size()) {
    const std::size_t semi = std::min(message.find(';', start), message.size());
    const std::string_view part = Trim(message.substr(start, semi - start));
    if (!part.empty()) {
      std::lock_guard lock(mutex_);
      current_ = &port;
      ProcessCommand(part, opc);
      current_ = nullptr;
    }
    start = semi + 1;
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

void Zentrix8::QueueError(long code, const std::string& text) {
  // The event status register names the class of the error.
  if (code <= -100 && code > -200) esr_ |= kEsrCommandError;
  else if (code <= -200 && code > -300) esr_ |= kEsrExecutionError;
  else if (code <= -300 && code > -400) esr_ |= kEsrDeviceError;
  else if (code <= -400 && code > -500) esr_ |= kEsrQueryError;
  if (errors_.size() < kErrorQueueLength) {
    errors_.emplace_back(code, text);
  } else {
    errors_.back() = {-350, "Queue overflow"};  // the last entry says that errors were lost
  }
}

std::string Zentrix8::NextError() {
  if (errors_.empty()) return "0,\"No error\"";
  const auto [code, text] = errors_.front();
  errors_.erase(errors_.begin());
  return std::to_string(code) + ",\"" + text + "\"";
}

long Zentrix8::StatusByte() const {
  long stb = 0;
  if (!errors_.empty()) stb |= 4;                   // error/event queue not empty
  if (current_ && current_->queued_ > 0) stb |= 16;  // MAV: an answer waits for this client
  if (esr_ & ese_) stb |= 32;                         // ESB
  if (stb & sre_) stb |= 64;                          // RQS
  return stb;
}

// IEEE 488.2 common commands and queries.
void Zentrix8::CommonCommand(const std::string& c, bool& opc) {
  const std::size_t blank = c.find(' ');
  const std::string head = c.substr(0, blank);
  const std::string arg = blank == std::string::npos ? std::string() : std::string(Trim(std::string_view(c).substr(blank + 1)));
  const auto mask = [&]() -> long {
    long v = 0;
    const auto [ptr, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), v);
    if (arg.empty()) throw ScpiError{-109, "Missing parameter"};
    if (ec != std::errc() || ptr != arg.data() + arg.size()) throw ScpiError{-104, "Data type error"};
    if (v < 0 || v > 255) throw ScpiError{-222, "Data out of range"};
    return v;
  };
  if (head == "*CLS") {
    esr_ = 0;
    errors_.clear();
    opcArmed_ = false;  // a pending *OPC is cancelled too
  } else if (head == "*RST") {
    ResetSettings();
    StartOperation(Operation::kReset, 0, kResetSeconds);
  } else if (head == "*OPC") {
    opc = true;
  } else if (head == "*OPC?") {
    // "1" once every operation is done.
    CompleteIfDue();
    const auto due = op_.kind == Operation::kNone || faults_.neverComplete ? Clock::now() : op_.due;
    if (faults_.neverComplete && op_.kind != Operation::kNone) return;
    AnswerAt("1\n", due);
  } else if (head == "*WAI") {
    CompleteIfDue();  // the next command is taken once this one is: nothing runs in parallel here
  } else if (head == "*ESR?") {
    CompleteIfDue();
    Answer(std::to_string(esr_) + "\n");
    esr_ = 0;
  } else if (head == "*ESE") {
    ese_ = mask();
  } else if (head == "*ESE?") {
    Answer(std::to_string(ese_) + "\n");
  } else if (head == "*SRE") {
    sre_ = mask() & ~64;  // bit 6 cannot be enabled
  } else if (head == "*SRE?") {
    Answer(std::to_string(sre_) + "\n");
  } else if (head == "*STB?") {
    CompleteIfDue();
    Answer(std::to_string(StatusByte()) + "\n");
  } else if (head == "*TST?") {
    Answer("0\n");  // the self-test passed
  } else if (head == "*OPT?") {
    Answer("0\n");  // no options fitted
  } else if (head == "*IDN?") {
    Answer(identity_.maker + "," + identity_.model + "," + identity_.serial + "," + identity_.firmware + "\n");
  } else {
    throw ScpiError{-113, "Undefined header"};
  }
}

void Zentrix8::Answer(std::string text) { AnswerAt(std::move(text), Clock::now()); }

void Zentrix8::AnswerAt(std::string text, Clock::time_point readyAt) {
  const auto delay = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(faults_.answerDelayS));
  if (current_) current_->Compose(std::move(text), readyAt + delay);
}

// The answers to the queries of one message form one response message,
// joined by ";" (IEEE 488.2), sent when the message is done.
void Zentrix8::Port::Compose(std::string text, Clock::time_point readyAt) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  composed_ += (composing_ ? ";" : "") + text;
  composing_ = true;
  composedReady_ = std::max(composedReady_, readyAt);
}

void Zentrix8::Port::FinishMessage() {
  if (!composing_) return;
  composing_ = false;
  std::string answer = std::move(composed_) + "\n";
  composed_.clear();
  const auto ready = std::exchange(composedReady_, Clock::time_point{});
  Push(std::move(answer), ready);
}

// --- ports: output --------------------------------------------------------------------

void Zentrix8::Port::Push(std::string text, Clock::time_point readyAt) {
  std::lock_guard lock(mutex_);
  if (!output_.empty() && queued_ + text.size() > kMaxQueuedBytes) {
    unit_->QueueError(-350, "Queue overflow");  // a client that does not read loses answers, not memory
    return;
  }
  queued_ += text.size();
  output_.push_back({std::move(text), readyAt});
}

void Zentrix8::Port::AppendOutput(std::string& out, std::size_t max) {
  const std::size_t split = unit_->faults_.splitAnswersAt;
  if (split > 0) max = std::min(max, split);
  const std::size_t start = out.size();
  max += start;
  const auto now = Clock::now();
  while (!output_.empty() && out.size() < max && output_.front().readyAt <= now) {
    const std::string& front = output_.front().text;
    const std::size_t n = std::min(max - out.size(), front.size() - outputRead_);
    out.append(front, outputRead_, n);
    outputRead_ += n;
    if (outputRead_ == front.size()) {
      queued_ -= front.size();
      output_.pop_front();
      outputRead_ = 0;
    }
  }
  if (out.size() == start && output_.empty() && !stream_.empty())
    while (out.size() < max) out.append(stream_, 0, std::min(stream_.size(), max - out.size()));
}

std::string Zentrix8::Port::Read(std::size_t max) {
  std::string out;
  ReadInto(out, max, false);
  return out;
}

std::string Zentrix8::Port::ReadAnswer(std::size_t max) {
  std::string out;
  ReadInto(out, max, true);
  return out;
}

std::size_t Zentrix8::Port::ReadInto(std::string& out, std::size_t max, bool oneAnswer) {
  if (unit_->Rebooting() || unit_->ConnectionDropped()) return 0;
  std::lock_guard lock(mutex_);
  if (oneAnswer && !output_.empty()) {
    const std::string& front = output_.front().text;
    const std::size_t lf = front.find('\n', outputRead_);
    if (lf != std::string::npos) max = std::min(max, lf + 1 - outputRead_);
  }
  const std::size_t before = out.size();
  AppendOutput(out, max);
  return out.size() - before;
}

std::optional<Zentrix8::Clock::time_point> Zentrix8::Port::AnswerReadyAt() const {
  if (unit_->Rebooting() || unit_->ConnectionDropped()) return std::nullopt;
  std::lock_guard lock(mutex_);
  if (!output_.empty()) return output_.front().readyAt;
  if (!stream_.empty()) return Clock::now();
  return std::nullopt;
}

void Zentrix8::Port::Clear() {
  std::lock_guard lock(mutex_);
  input_.clear();
  output_.clear();
  outputRead_ = queued_ = 0;
  stream_.clear();
  block_ = {};
}

std::size_t Zentrix8::Port::QueuedBytes() const {
  std::lock_guard lock(mutex_);
  return queued_;
}

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

// --- operations ------------------------------------------------------------------------

void Zentrix8::StartOperation(Operation::Kind kind, int channel, double seconds) {
  op_.kind = kind;
  op_.channel = channel;
  op_.due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds * timeScale_));
}

void Zentrix8::CompleteIfDue() {
  if (op_.kind == Operation::kNone || faults_.neverComplete || Clock::now() < op_.due) return;
  op_ = {};
  if (opcArmed_) esr_ |= 1;
  opcArmed_ = false;
}

double Zentrix8::SampleRate(const Sensor& s) const {
  const double clock = clock_ == "C252" ? 252e6 : 250e6;
  return clock / std::max(1L, s.dividerFast) / std::max(1L, s.dividerSlow);
}

std::vector<int> Zentrix8::SumMembers() const {
  std::vector<int> members;
  for (int s = 1; s <= 8; ++s)
    if (sensors_[static_cast<std::size_t>(s)].meas == "SUM") members.push_back(s);
  return members;
}

void Zentrix8::Measure(const std::vector<int>& channels) {
  ++measurements_;
  std::set<int> overRange;
  std::vector<int> sensors;
  for (int c : channels) {
    if (c == 0) {
      for (int m : SumMembers()) sensors.push_back(m);
    } else {
      sensors.push_back(c);
    }
  }
  std::sort(sensors.begin(), sensors.end());
  sensors.erase(std::unique(sensors.begin(), sensors.end()), sensors.end());
  for (int s : sensors) {
    const auto i = static_cast<std::size_t>(s);
    if (RecordSensor(results_[i], scenario_.sensors[i], sensors_[i], SampleRate(sensors_[i]), scenario_.overRangeDbm,
                     NoiseSeed(scenario_.seed, s, measurements_)))
      overRange.insert(s);
  }
  if (std::find(channels.begin(), channels.end(), 0) != channels.end()) {
    std::vector<const Result*> members;
    for (int m : SumMembers()) members.push_back(&results_[static_cast<std::size_t>(m)]);
    RecordSum(results_[0], members, beamformingGain_);
  }
  if (!overRange.empty()) {
    std::string ports;
    for (int s : overRange) ports += (ports.empty() ? "" : ";") + std::to_string(s);
    QueueError(-222, "Data out of range in trace(s);" + ports);
    esr_ |= 16;  // an execution error during the operation
  }
}

void Zentrix8::SearchBursts(int channel) {
  const Sensor& set = sensors_[static_cast<std::size_t>(channel)];
  // The sum's samples come at its first member's rate.
  const Sensor& timing = channel == 0 && !SumMembers().empty() ? sensors_[static_cast<std::size_t>(SumMembers().front())] : set;
  FindBursts(results_[static_cast<std::size_t>(channel)], set.burstSearchLevel, SampleRate(timing));
}

}  // namespace sim

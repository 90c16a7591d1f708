// The IEEE 488.2 status model: the common commands, the error queue, the
// status byte and the event status register.
#include "sim/Zentrix8.h"

#include "sim/ModelChoices.h"
#include "sim/ScpiParsing.h"

#include <charconv>

namespace sim {

using namespace detail;

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

long Zentrix8::SerialPoll(const Port& port) {
  std::lock_guard lock(mutex_);
  CompleteIfDue();
  long stb = StatusByte() & ~(16L | 64L);
  if (port.QueuedBytes() > 0) stb |= 16;
  if (stb & sre_) stb |= 64;
  return stb;
}

// IEEE 488.2 common commands and queries.
void Zentrix8::CommonCommand(const std::string& c, bool& opc) {
  const std::size_t blank = c.find(' ');
  const std::string head = c.substr(0, blank);
  const std::string arg = blank == std::string::npos ? std::string() : std::string(Trim(std::string_view(c).substr(blank + 1)));
  const auto mask = [&] { return ParseMask(arg); };
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

}  // namespace sim

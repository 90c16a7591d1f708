// A port: the input of one client taken into messages (a firmware block
// counted as it streams in), its answers composed into one response message
// per message, and its queue of answers with the time each is ready.
#include "sim/Port.h"

#include "sim/FirmwareBlock.h"

#include <algorithm>
#include <utility>

namespace sim {

using namespace detail;

// --- input -------------------------------------------------------------------------

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

// --- composing --------------------------------------------------------------------

// The answers to the queries of one message form one response message,
// joined by ";" (IEEE 488.2), sent when the message is done.
void Zentrix8::Port::Compose(std::string text, Clock::time_point readyAt) {
  if (overflowed_) return;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (composed_.size() + text.size() + 1 > kMaxQueuedBytes) {
    // A compound query asking for more than an answer may hold: the whole
    // response is dropped, as the standard has it for one the unit cannot hold.
    overflowed_ = true;
    std::string().swap(composed_);
    unit_->QueueError(-350, "Queue overflow");
    return;
  }
  if (composing_) {
    composed_ += ';';
    composed_ += text;
  } else {
    composed_ = std::move(text);  // the answer of a simple query is not copied
  }
  composing_ = true;
  composedReady_ = std::max(composedReady_, readyAt);
}

void Zentrix8::Port::FinishMessage() {
  if (std::exchange(overflowed_, false)) {
    composing_ = false;
    composedReady_ = {};
    return;
  }
  if (!composing_) return;
  composing_ = false;
  composed_ += '\n';
  std::string answer = std::move(composed_);
  composed_.clear();
  const auto ready = std::exchange(composedReady_, Clock::time_point{});
  Push(std::move(answer), ready);
}

// --- output ------------------------------------------------------------------------

void Zentrix8::Port::Push(std::string text, Clock::time_point readyAt) {
  std::lock_guard lock(mutex_);
  if (!output_.empty() && queued_ + text.size() > kMaxQueuedBytes) {
    unit_->QueueError(-350, "Queue overflow");  // a client that does not read loses answers, not memory
    return;
  }
  queued_ += text.size();
  output_.push_back({std::move(text), readyAt});
}

std::string Zentrix8::Port::TakeSpare() {
  std::lock_guard lock(mutex_);
  std::string room = std::move(spare_);
  spare_ = std::string();
  room.clear();
  return room;
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
      std::string& done = output_.front().text;
      if (done.capacity() >= kSpareFrom && done.capacity() <= kSpareUpTo && done.capacity() > spare_.capacity())
        spare_ = std::move(done);
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

}  // namespace sim

// A port of the simulated unit: one client's way in (a socket connection, a
// VXI-11 link, an in-process session) with its own input and its own answers.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/Export.h"
#include "sim/Zentrix8.h"

namespace sim {

// The unit's state is shared by all ports, as a real instrument's is;
// answers reach only the port whose query made them.
class QUORVEL_API Zentrix8::Port {
 public:
  // Answers waiting beyond this many bytes are dropped with -350 "Queue
  // overflow" (one answer larger than this still fits an empty queue); the
  // response to one message (its answers joined by ";") is bounded the same.
  static constexpr std::size_t kMaxQueuedBytes = 4u << 20;

  explicit Port(std::shared_ptr<Zentrix8> unit);
  explicit Port(Zentrix8& unit) : unit_(&unit) {}  // the unit's own port
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  // One message from the controller; `end` marks its end (VISA END, or a
  // line feed on a socket).  A firmware block may come in several writes.
  void Write(std::string_view bytes, bool end = true);
  // Up to `max` bytes of the answers that are ready.
  std::string Read(std::size_t max);
  // The same, stopping after the first line feed (the end of one answer).
  std::string ReadAnswer(std::size_t max);
  // Appends to `out` instead (a server keeps its buffer); returns the bytes added.
  std::size_t ReadInto(std::string& out, std::size_t max, bool oneAnswer);
  // When the next answer byte will be ready (nullopt: none is queued).
  std::optional<Clock::time_point> AnswerReadyAt() const;
  // A device clear of this port: its input, answers and stream are dropped.
  void Clear();
  std::size_t QueuedBytes() const;
  Zentrix8& unit() const { return *unit_; }

 private:
  friend class Zentrix8;
  void Push(std::string text, Clock::time_point readyAt);  // with the unit's lock held
  std::string TakeSpare();  // empty, with the room of the last large answer
  // One response message per message: its answers joined by ";" (unit's lock held).
  void Compose(std::string text, Clock::time_point readyAt);
  void FinishMessage();
  std::string composed_;
  bool composing_ = false;
  bool overflowed_ = false;  // the message's response outgrew the bound: it is dropped
  // A firmware block is counted as it streams in, never kept whole.
  struct Block {
    bool active = false;
    std::size_t length = 0, got = 0;
    bool tailOk = true;    // what came beyond the promised length is only line ends
    bool tooLarge = false;
  } block_;
  void Consume(std::string_view bytes);
  Clock::time_point composedReady_{};
  void AppendOutput(std::string& out, std::size_t max);     // with this port's lock held

  Zentrix8* unit_;
  std::shared_ptr<Zentrix8> keep_;
  mutable std::mutex mutex_;
  std::string input_;
  struct Pending {
    std::string text;
    Clock::time_point readyAt;
  };
  std::deque<Pending> output_;
  // The room of the last large answer read out: the next long answer is made in
  // it, so a list of 200 000 values costs no fresh allocation (nor its page faults).
  std::string spare_;
  static constexpr std::size_t kSpareFrom = 64u << 10, kSpareUpTo = kMaxQueuedBytes;
  std::size_t outputRead_ = 0;
  std::size_t queued_ = 0;  // bytes in output_
  std::string stream_;      // an answer that never ends
};

// The unit's own port.
inline void Zentrix8::Write(std::string_view bytes, bool end) { port_->Write(bytes, end); }
inline std::string Zentrix8::Read(std::size_t max) { return port_->Read(max); }
inline std::string Zentrix8::ReadAnswer(std::size_t max) { return port_->ReadAnswer(max); }
inline std::size_t Zentrix8::ReadInto(std::string& out, std::size_t max, bool oneAnswer) {
  return port_->ReadInto(out, max, oneAnswer);
}
inline std::optional<Zentrix8::Clock::time_point> Zentrix8::AnswerReadyAt() const { return port_->AnswerReadyAt(); }
inline void Zentrix8::Clear() { port_->Clear(); }

}  // namespace sim

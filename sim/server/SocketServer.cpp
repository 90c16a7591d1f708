#include "sim/server/SocketServer.h"

#include <algorithm>
#include <chrono>

#include "sim/FirmwareBlock.h"
#include "sim/Zentrix8.h"

namespace sim::detail {

namespace {
constexpr std::size_t kMaxLine = 1u << 20;  // a command line longer than this is garbage
constexpr std::size_t kSendPiece = 1u << 20;  // answer bytes sent per turn of the loop (its buffer is kept)
}  // namespace

void ServeSocket(Acceptor& acceptor, DeviceLock& lock, const std::string& unitName, net::TcpConnection& c) {
  using Clock = Zentrix8::Clock;
  acceptor.Log("socket client " + c.Peer() + " connected");
  auto shared = Zentrix8::Instance(unitName);
  shared->Reconnect();
  Zentrix8::Port port(shared);  // this connection's own input and answers
  Zentrix8::Port* unit = &port;
  std::string input, out;
  std::uintmax_t blockLeft = 0;  // bytes of a firmware block still to come
  bool skipLineFeed = false;     // the line feed that ends a block
  auto lastHeard = Clock::now();
  // What this client sends waits while a VXI-11 link holds the lock, at most the idle time-out.
  const auto waitTurn = [&] {
    if (lock.Holder() == 0) return true;
    acceptor.Log("socket client " + c.Peer() + " waits: the unit is locked by link " + std::to_string(lock.Holder()));
    if (lock.WaitFree(0, std::chrono::milliseconds(acceptor.IdleMs())) == DeviceLock::Outcome::kTaken) return true;
    if (!acceptor.Stopping()) acceptor.Log("socket client " + c.Peer() + " waited too long for the lock; closing");
    return false;
  };
  while (!acceptor.Stopping()) {
    // Sleep until the client sends or an answer becomes ready.
    int wait = 200;
    if (const auto ready = unit->AnswerReadyAt())
      wait = static_cast<int>(std::clamp<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(*ready - Clock::now()).count(), 0, 200));
    if (c.Buffered() || acceptor.WaitReadable(c.Descriptor(), wait)) {
      if (input.capacity() > (std::size_t{1} << 20) && input.size() < 4096) input.shrink_to_fit();
      const auto got = c.ReceiveSome(input, 1 << 16, net::Millis(0));
      if (got != net::TcpConnection::Result::kOk && got != net::TcpConnection::Result::kTimeout) break;
      lastHeard = Clock::now();
      for (;;) {
        // A firmware block goes to the unit as it comes (its data may hold
        // line feeds); the unit counts it and keeps none of it.
        if (blockLeft > 0) {
          const std::size_t n = static_cast<std::size_t>(std::min<std::uintmax_t>(blockLeft, input.size()));
          if (n == 0) break;
          if (!waitTurn()) return;
          unit->Write(std::string_view(input).substr(0, n), false);
          input.erase(0, n);
          blockLeft -= n;
          if (blockLeft > 0) break;
          unit->Write({}, true);
          if (shared->Rebooting()) {
            acceptor.Log("the unit restarts after the firmware update; closing " + c.Peer());
            return;
          }
          skipLineFeed = true;
          continue;
        }
        if (skipLineFeed && !input.empty()) {
          if (input.front() == '\n') input.erase(0, 1);
          skipLineFeed = false;
        }
        const BlockHeader header = ParseBlockHeader(input);
        if (header.state == BlockHeader::kPartial) break;
        if (header.state == BlockHeader::kComplete) {
          if (header.length > kMaxInput) {
            acceptor.Log("socket client " + c.Peer() + " sent a block too large; closing");
            return;
          }
          blockLeft = header.dataStart + header.length;
          continue;
        }
        const std::size_t lf = input.find('\n');
        if (lf == std::string::npos) {
          if (input.size() > kMaxLine) {
            acceptor.Log("socket client " + c.Peer() + " sent a line without end; closing");
            return;
          }
          break;
        }
        const std::string line = input.substr(0, lf);
        input.erase(0, lf + 1);
        if (!waitTurn()) return;
        acceptor.Log(c.Peer() + " > " + Shown(line));
        unit->Write(line, true);
      }
    } else if (acceptor.Stopping()) {
      break;
    } else if (Clock::now() - lastHeard > std::chrono::milliseconds(acceptor.IdleMs()) && !unit->AnswerReadyAt()) {
      acceptor.Log("socket client " + c.Peer() + " was silent too long; closing");
      return;
    }
    if (shared->ConnectionDropped()) {
      acceptor.Log("dropping " + c.Peer() + " as the fault knob asks");
      return;
    }
    // Whatever is ready goes out, a bounded piece per turn (a stream cannot hold
    // the loop), from a buffer this connection keeps: a long list in one send.
    if (const auto ready = unit->AnswerReadyAt(); ready && *ready <= Clock::now()) {
      out.clear();
      unit->ReadInto(out, kSendPiece, false);
      if (!out.empty()) acceptor.Log(c.Peer() + " < " + Shown(out));
      if (!out.empty() && c.SendAll(out, kSendTimeout) != net::TcpConnection::Result::kOk) {
        acceptor.Log("socket client " + c.Peer() + " takes no answers; closing");
        return;
      }
    }
  }
  acceptor.Log("socket client " + c.Peer() + " gone");
}

}  // namespace sim::detail

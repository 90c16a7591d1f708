// What TCP with deadlines does alike on every system; the system calls are
// in Tcp_<system>.cpp.
#include "net/Tcp.h"

namespace net {

using Clock = std::chrono::steady_clock;

Fd& Fd::operator=(Fd&& o) noexcept {
  if (this != &o) {
    Reset();
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

TcpConnection::Result TcpConnection::Fail(Result r, const std::string& why) {
  error_ = why;
  if (r != Result::kTimeout) fd_.Reset();
  return r;
}

TcpConnection::Result TcpConnection::ReceiveExactly(std::string& out, std::size_t n, Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  const std::size_t target = out.size() + n;
  while (out.size() < target) {
    const Millis left = std::max(Millis(0), std::chrono::duration_cast<Millis>(deadline - Clock::now()));
    const Result r = ReceiveSome(out, target - out.size(), left);
    if (r != Result::kOk) return r;
  }
  return Result::kOk;
}

}  // namespace net

#include "net/Tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace net {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// Waits for `events` on fd until the deadline; 1 ready, 0 time-out, -1 error.
int WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, RemainingMs(deadline));
    if (r < 0 && errno == EINTR) continue;
    return r < 0 ? -1 : r;
  }
}

}  // namespace

void Fd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TcpConnection::Connect(const std::string& host, std::uint16_t port, Millis timeout) {
  fd_.Reset();
  inbuf_.clear();
  error_.clear();
  peer_ = host + ":" + std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int g = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (g != 0) {
    error_ = "cannot resolve host '" + host + "': " + ::gai_strerror(g);
    return false;
  }
  const auto deadline = Clock::now() + timeout;
  std::string why = "no address for " + host;
  for (addrinfo* a = found; a; a = a->ai_next) {
    Fd s(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
    if (!s) continue;
    if (::connect(s.get(), a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
      why = std::string(errno == ECONNREFUSED ? "connection refused by " : "cannot connect to ") + peer_ + ": " + std::strerror(errno);
      continue;
    }
    const int w = WaitFor(s.get(), POLLOUT, deadline);
    if (w == 0) {
      why = "no connection to " + peer_ + " within " + std::to_string(timeout.count()) + " ms (host unreachable or down?)";
      continue;
    }
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &err, &len);
    if (w < 0 || err != 0) {
      why = std::string(err == ECONNREFUSED ? "connection refused by " : "cannot connect to ") + peer_ + ": " +
            std::strerror(err ? err : errno);
      continue;
    }
    const int one = 1;
    ::setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // Blocking from here on: a send says MSG_DONTWAIT, a receive waits in recv.
    ::fcntl(s.get(), F_SETFL, ::fcntl(s.get(), F_GETFL) & ~O_NONBLOCK);
    fd_ = std::move(s);
    waitsInReceive_ = true;
    receiveWait_ = Millis(0);
    break;
  }
  ::freeaddrinfo(found);
  if (!fd_) error_ = why;
  return static_cast<bool>(fd_);
}

void TcpConnection::Adopt(Fd fd, std::string peer) {
  fd_ = std::move(fd);
  inbuf_.clear();
  peer_ = std::move(peer);
  error_.clear();
  waitsInReceive_ = false;
  if (fd_) {
    ::fcntl(fd_.get(), F_SETFL, ::fcntl(fd_.get(), F_GETFL) | O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
}

TcpConnection::Result TcpConnection::SendAll(std::string_view data, Millis timeout) {
  if (!fd_) return Fail(Result::kClosed, "the connection to " + peer_ + " is closed");
  const auto deadline = Clock::now() + timeout;
  while (!data.empty()) {
    const ssize_t n = ::send(fd_.get(), data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int w = WaitFor(fd_.get(), POLLOUT, deadline);
      if (w == 0) return Fail(Result::kTimeout, peer_ + " took no data within " + std::to_string(timeout.count()) + " ms");
      if (w < 0) return Fail(Result::kError, std::string("send to ") + peer_ + " failed: " + std::strerror(errno));
      continue;
    }
    return Fail(Result::kClosed, peer_ + " closed the connection (" + std::strerror(errno) + ")");
  }
  return Result::kOk;
}

TcpConnection::Result TcpConnection::ReceiveSome(std::string& out, std::size_t max, Millis timeout) {
  if (!inbuf_.empty()) {
    inbuf_.takeInto(out, max);
    return Result::kOk;
  }
  if (!fd_) return Fail(Result::kClosed, "the connection to " + peer_ + " is closed");
  const auto deadline = Clock::now() + timeout;
  char buf[65536];
  for (;;) {
    // Wait in recv itself while at least a millisecond is left, else look and poll.
    const int left = RemainingMs(deadline);
    const bool wait = waitsInReceive_ && left > 0 && AllowReceiveWait(Millis(left));
    // Read what is there, up to a buffer-full: fewer calls for small records.
    const ssize_t n = ::recv(fd_.get(), buf, sizeof buf, wait ? 0 : MSG_DONTWAIT);
    if (n > 0) {
      const std::size_t got = static_cast<std::size_t>(n), take = std::min(max, got);
      out.append(buf, take);
      inbuf_.append(std::string_view(buf + take, got - take));
      return Result::kOk;
    }
    if (n == 0) return Fail(Result::kClosed, peer_ + " closed the connection");
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
      return Fail(Result::kError, std::string("receive from ") + peer_ + " failed: " + std::strerror(errno));
    if (wait) continue;  // the receive's own wait ran out: the deadline decides
    const int w = WaitFor(fd_.get(), POLLIN, deadline);
    if (w == 0) return Fail(Result::kTimeout, "no answer from " + peer_ + " within " + std::to_string(timeout.count()) + " ms");
    if (w < 0) return Fail(Result::kError, std::string("receive from ") + peer_ + " failed: " + std::strerror(errno));
  }
}

// The receive waits at most `left`: set only when the wait in force could
// outlast the deadline by more than a little, or is far shorter than needed,
// so that a run of queries under one time-out sets it once.
bool TcpConnection::AllowReceiveWait(Millis left) {
  const Millis slack = std::max(Millis(20), left / 20);
  if (receiveWait_ > Millis(0) && receiveWait_ <= left + slack && receiveWait_ * 2 >= left) return true;
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(left.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>(left.count() % 1000 * 1000);
  if (::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return false;  // poll instead
  receiveWait_ = left;
  return true;
}

Fd Listen(const std::string& host, std::uint16_t port, std::string& error, std::uint16_t& bound, bool udp) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
    error = "not an IPv4 address: " + host;
    return {};
  }
  Fd s(::socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!s) {
    error = std::string("socket: ") + std::strerror(errno);
    return {};
  }
  const int one = 1;
  ::setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(s.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || (!udp && ::listen(s.get(), 16) != 0)) {
    error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
    return {};
  }
  socklen_t len = sizeof addr;
  ::getsockname(s.get(), reinterpret_cast<sockaddr*>(&addr), &len);
  bound = ntohs(addr.sin_port);
  return s;
}

Accepted Accept(int listenFd) {
  Accepted a;
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  a.fd = Fd(::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC));
  if (!a.fd) {
    a.outOfResources = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
    a.error = std::strerror(errno);
    return a;
  }
  char ip[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
  a.peer = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));
  return a;
}

std::string LocalAddress(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  char ip[INET_ADDRSTRLEN] = "";
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET ||
      !::inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip))
    return {};
  return ip;
}

void ShutDown(int fd) { ::shutdown(fd, SHUT_RDWR); }

}  // namespace net

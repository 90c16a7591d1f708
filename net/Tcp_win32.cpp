// TCP with deadlines over Winsock.
#include "net/Tcp.h"

#include "net/Winsock_win32.h"

#include <mutex>

namespace net {

namespace win32 {

void StartWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
  });
}

std::string ErrorText(int code) {
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string out = n && text ? std::string(text, n) : "error " + std::to_string(code);
  if (text) ::LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) out.pop_back();
  return out;
}

}  // namespace win32

namespace {

using Clock = std::chrono::steady_clock;
using win32::ErrorText;

SOCKET S(int fd) { return static_cast<SOCKET>(fd); }
int Handle(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// Waits for `events` on fd until the deadline; 1 ready, 0 time-out, -1 error.
int WaitFor(int fd, short events, Clock::time_point deadline) {
  WSAPOLLFD p{S(fd), events, 0};
  const int r = ::WSAPoll(&p, 1, RemainingMs(deadline));
  return r < 0 ? -1 : r;
}

void NonBlocking(int fd) {
  u_long on = 1;
  ::ioctlsocket(S(fd), FIONBIO, &on);
}

void NoDelay(int fd) {
  const BOOL one = TRUE;
  ::setsockopt(S(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

}  // namespace

void Fd::Reset() {
  if (fd_ >= 0) ::closesocket(S(fd_));
  fd_ = -1;
}

bool TcpConnection::Connect(const std::string& host, std::uint16_t port, Millis timeout) {
  win32::StartWinsock();
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
    error_ = "cannot resolve host '" + host + "': " + ErrorText(g);
    return false;
  }
  const auto deadline = Clock::now() + timeout;
  std::string why = "no address for " + host;
  for (addrinfo* a = found; a; a = a->ai_next) {
    Fd s(Handle(::WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT)));
    if (!s) continue;
    NonBlocking(s.get());
    if (::connect(S(s.get()), a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      const int e = ::WSAGetLastError();
      if (e != WSAEWOULDBLOCK) {
        why = std::string(e == WSAECONNREFUSED ? "connection refused by " : "cannot connect to ") + peer_ + ": " + ErrorText(e);
        continue;
      }
    }
    const int w = WaitFor(s.get(), POLLOUT, deadline);
    if (w == 0) {
      why = "no connection to " + peer_ + " within " + std::to_string(timeout.count()) + " ms (host unreachable or down?)";
      continue;
    }
    int err = 0;
    int len = sizeof err;
    ::getsockopt(S(s.get()), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
    if (w < 0 || err != 0) {
      const int e = err ? err : ::WSAGetLastError();
      why = std::string(e == WSAECONNREFUSED ? "connection refused by " : "cannot connect to ") + peer_ + ": " + ErrorText(e);
      continue;
    }
    NoDelay(s.get());
    fd_ = std::move(s);
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
  if (fd_) {
    NonBlocking(fd_.get());
    NoDelay(fd_.get());
  }
}

TcpConnection::Result TcpConnection::SendAll(std::string_view data, Millis timeout) {
  if (!fd_) return Fail(Result::kClosed, "the connection to " + peer_ + " is closed");
  const auto deadline = Clock::now() + timeout;
  while (!data.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(data.size(), 1u << 30));
    const int n = ::send(S(fd_.get()), data.data(), chunk, 0);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    const int e = ::WSAGetLastError();
    if (n < 0 && e == WSAEWOULDBLOCK) {
      const int w = WaitFor(fd_.get(), POLLOUT, deadline);
      if (w == 0) return Fail(Result::kTimeout, peer_ + " took no data within " + std::to_string(timeout.count()) + " ms");
      if (w < 0) return Fail(Result::kError, "send to " + peer_ + " failed: " + ErrorText(::WSAGetLastError()));
      continue;
    }
    return Fail(Result::kClosed, peer_ + " closed the connection (" + ErrorText(e) + ")");
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
    // Read what is there, up to a buffer-full: fewer calls for small records.
    const int n = ::recv(S(fd_.get()), buf, sizeof buf, 0);
    if (n > 0) {
      const std::size_t got = static_cast<std::size_t>(n), take = std::min(max, got);
      out.append(buf, take);
      inbuf_.append(std::string_view(buf + take, got - take));
      return Result::kOk;
    }
    if (n == 0) return Fail(Result::kClosed, peer_ + " closed the connection");
    const int e = ::WSAGetLastError();
    if (e == WSAECONNRESET || e == WSAECONNABORTED) return Fail(Result::kClosed, peer_ + " closed the connection");
    if (e != WSAEWOULDBLOCK) return Fail(Result::kError, "receive from " + peer_ + " failed: " + ErrorText(e));
    const int w = WaitFor(fd_.get(), POLLIN, deadline);
    if (w == 0) return Fail(Result::kTimeout, "no answer from " + peer_ + " within " + std::to_string(timeout.count()) + " ms");
    if (w < 0) return Fail(Result::kError, "receive from " + peer_ + " failed: " + ErrorText(::WSAGetLastError()));
  }
}

Fd Listen(const std::string& host, std::uint16_t port, std::string& error, std::uint16_t& bound, bool udp) {
  win32::StartWinsock();
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
    error = "not an IPv4 address: " + host;
    return {};
  }
  Fd s(Handle(::WSASocketW(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT)));
  if (!s) {
    error = "socket: " + ErrorText(::WSAGetLastError());
    return {};
  }
  // A port taken by another program is refused, never shared.
  const BOOL one = TRUE;
  ::setsockopt(S(s.get()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
  if (::bind(S(s.get()), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || (!udp && ::listen(S(s.get()), 16) != 0)) {
    error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + ErrorText(::WSAGetLastError());
    return {};
  }
  NonBlocking(s.get());
  int len = sizeof addr;
  ::getsockname(S(s.get()), reinterpret_cast<sockaddr*>(&addr), &len);
  bound = ntohs(addr.sin_port);
  return s;
}

Accepted Accept(int listenFd) {
  Accepted a;
  sockaddr_in peer{};
  int len = sizeof peer;
  a.fd = Fd(Handle(::accept(S(listenFd), reinterpret_cast<sockaddr*>(&peer), &len)));
  if (!a.fd) {
    const int e = ::WSAGetLastError();
    a.outOfResources = e == WSAEMFILE || e == WSAENOBUFS;
    a.error = ErrorText(e);
    return a;
  }
  ::SetHandleInformation(reinterpret_cast<HANDLE>(S(a.fd.get())), HANDLE_FLAG_INHERIT, 0);
  char ip[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
  a.peer = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));
  return a;
}

std::string LocalAddress(int fd) {
  sockaddr_in addr{};
  int len = sizeof addr;
  char ip[INET_ADDRSTRLEN] = "";
  if (::getsockname(S(fd), reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET ||
      !::inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip))
    return {};
  return ip;
}

void ShutDown(int fd) { ::shutdown(S(fd), SD_BOTH); }

}  // namespace net

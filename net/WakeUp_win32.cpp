// The wake-up over Winsock: a loopback datagram socket that sends itself one
// byte, which leaves it readable for every poll (Windows has no pipes that
// WSAPoll can watch).
#include "net/WakeUp.h"

#include "net/Winsock_win32.h"

namespace net {

bool WakeUp::Open(std::string& error) {
  std::uint16_t port = 0;
  read_ = Listen("127.0.0.1", 0, error, port, true);
  if (!read_) return false;
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_port = htons(port);
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // The same socket, connected to itself, sends the wake-up.
  if (::connect(static_cast<SOCKET>(read_.get()), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
    error = "wake-up: " + win32::ErrorText(::WSAGetLastError());
    read_.Reset();
    return false;
  }
  return true;
}

void WakeUp::Fire() {
  if (!read_) return;
  const char b = 1;
  ::send(static_cast<SOCKET>(read_.get()), &b, 1, 0);
}

void WakeUp::Close() {
  read_.Reset();
  write_.Reset();
}

WakeUp::Event WakeUp::WaitReadable(int fd, int timeoutMs) const {
  WSAPOLLFD p[2] = {{static_cast<SOCKET>(read_.get()), POLLIN, 0}, {static_cast<SOCKET>(fd), POLLIN, 0}};
  const ULONG count = fd >= 0 ? 2 : 1;  // WSAPoll takes no empty slot
  const int r = ::WSAPoll(p, count, timeoutMs);
  if (r > 0 && (p[0].revents & POLLIN)) return Event::kWoken;
  return r > 0 ? Event::kReadable : Event::kNothing;
}

}  // namespace net

// IPv4 datagrams over Winsock.
#include "net/Udp.h"

#include "net/Winsock_win32.h"

#include <algorithm>

namespace net {

bool ReceiveDatagram(int fd, std::string& out, Ipv4Endpoint& from, std::size_t max) {
  out.resize(max);
  sockaddr_in peer{};
  int len = sizeof peer;
  const int n = ::recvfrom(static_cast<SOCKET>(fd), out.data(), static_cast<int>(out.size()), 0,
                           reinterpret_cast<sockaddr*>(&peer), &len);
  // A datagram longer than the buffer is cut, as on other systems.
  if (n <= 0 && !(n < 0 && ::WSAGetLastError() == WSAEMSGSIZE)) {
    out.clear();
    return false;
  }
  if (n > 0) out.resize(static_cast<std::size_t>(n));
  from.address = ntohl(peer.sin_addr.s_addr);
  from.port = ntohs(peer.sin_port);
  return true;
}

bool SendDatagram(int fd, std::string_view data, const Ipv4Endpoint& to) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(to.port);
  peer.sin_addr.s_addr = htonl(to.address);
  return ::sendto(static_cast<SOCKET>(fd), data.data(), static_cast<int>(data.size()), 0,
                  reinterpret_cast<sockaddr*>(&peer), sizeof peer) == static_cast<int>(data.size());
}

bool BroadcastSocket::Open(std::string& error) {
  win32::StartWinsock();
  const SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, 0, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  fd_ = Fd(s == INVALID_SOCKET ? -1 : static_cast<int>(s));
  const BOOL one = TRUE;
  if (!fd_ || ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), sizeof one) != 0) {
    error = win32::ErrorText(::WSAGetLastError());
    fd_.Reset();
    return false;
  }
  // Room for the answers of a whole network arriving at once.  Best effort.
  const int room = kBroadcastReceiveBuffer;
  ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&room), sizeof room);
  return true;
}

bool BroadcastSocket::Receive(std::string& out, Ipv4Endpoint& from, Millis timeout) {
  WSAPOLLFD p{static_cast<SOCKET>(fd_.get()), POLLIN, 0};
  if (::WSAPoll(&p, 1, static_cast<int>(std::clamp<long long>(timeout.count(), 0, 1 << 30))) <= 0) return false;
  return ReceiveDatagram(fd_.get(), out, from);
}

}  // namespace net

#include "net/Udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace net {

bool ReceiveDatagram(int fd, std::string& out, Ipv4Endpoint& from, std::size_t max) {
  out.resize(max);
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  const ssize_t n = ::recvfrom(fd, out.data(), out.size(), 0, reinterpret_cast<sockaddr*>(&peer), &len);
  if (n <= 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<std::size_t>(n));
  from.address = ntohl(peer.sin_addr.s_addr);
  from.port = ntohs(peer.sin_port);
  return true;
}

bool SendDatagram(int fd, std::string_view data, const Ipv4Endpoint& to) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(to.port);
  peer.sin_addr.s_addr = htonl(to.address);
  return ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer) ==
         static_cast<ssize_t>(data.size());
}

bool BroadcastSocket::Open(std::string& error) {
  fd_ = Fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const int one = 1;
  if (!fd_ || ::setsockopt(fd_.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0) {
    error = std::strerror(errno);
    fd_.Reset();
    return false;
  }
  // Room for the answers of a whole network arriving at once: a small
  // buffer drops the ones after the first few hundred.  Best effort.
  const int room = kBroadcastReceiveBuffer;
  ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  return true;
}

bool BroadcastSocket::Receive(std::string& out, Ipv4Endpoint& from, Millis timeout) {
  pollfd p{fd_.get(), POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(std::clamp<long long>(timeout.count(), 0, 1 << 30))) <= 0) return false;
  return ReceiveDatagram(fd_.get(), out, from);
}

}  // namespace net

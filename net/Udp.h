// IPv4 datagrams: the portmapper's UDP side and the broadcasts that find it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Export.h"
#include "net/Tcp.h"

namespace net {

// An IPv4 address in host byte order.
using Ipv4Address = std::uint32_t;

// "192.168.1.7"
inline std::string Ipv4Text(Ipv4Address a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xff) + "." + std::to_string((a >> 8) & 0xff) + "." +
         std::to_string(a & 0xff);
}

struct Ipv4Endpoint {
  Ipv4Address address = 0;
  std::uint16_t port = 0;
};

// One datagram waiting on the UDP socket `fd`, cut at `max` bytes, into `out`
// (replaced); false when none was taken.
QUORVEL_API bool ReceiveDatagram(int fd, std::string& out, Ipv4Endpoint& from, std::size_t max = 1500);
QUORVEL_API bool SendDatagram(int fd, std::string_view data, const Ipv4Endpoint& to);

// What a broadcast socket asks the system to hold of answers not yet read.
inline constexpr int kBroadcastReceiveBuffer = 4 << 20;

// A UDP socket of its own, on any port, that may send to broadcast addresses.
class QUORVEL_API BroadcastSocket {
 public:
  // False, with the reason, when the socket cannot be made.
  bool Open(std::string& error);
  bool Send(std::string_view data, const Ipv4Endpoint& to) { return SendDatagram(fd_.get(), data, to); }
  // Waits up to `timeout` for a datagram and takes it; false when none came.
  bool Receive(std::string& out, Ipv4Endpoint& from, Millis timeout);

 private:
  Fd fd_;
};

}  // namespace net

// The portmapper: where the VXI-11 channels listen, over TCP and UDP; or,
// when the system runs one, the channels mapped there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "net/Tcp.h"
#include "sim/server/Acceptor.h"

namespace sim::detail {

struct Vxi11Ports {
  std::uint16_t core = 0;
  std::uint16_t abort = 0;
  std::uint16_t portmapper = 0;  // this portmapper's own port (0: none of its own)
};
std::string PortmapperReply(std::string_view call, Vxi11Ports ports);
void ServePortmapper(const Acceptor& acceptor, Vxi11Ports ports, net::TcpConnection& c);
// Answers on `fd`; replies go out through `replyFd` (the socket bound to the
// server's own address when `fd` takes broadcasts for any address).
void ServeUdpPortmapper(const Acceptor& acceptor, Vxi11Ports ports, int fd, int replyFd);
// Maps (or with set false unmaps) the VXI-11 channels at the system's
// portmapper on host:111; false with the reason.
bool RegisterWithPortmapper(const std::string& host, Vxi11Ports ports, bool set, std::string& error);

}  // namespace sim::detail

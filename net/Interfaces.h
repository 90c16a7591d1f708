// The machine's IPv4 network interfaces: where a server can be reached and
// where a broadcast finds the others.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Export.h"
#include "net/Udp.h"

namespace net {

struct Ipv4Interface {
  std::string name;
  Ipv4Address address = 0;
  bool loopback = false;
  std::optional<Ipv4Address> broadcast;  // when the interface has a broadcast address
};

// The IPv4 addresses of the interfaces that are up, in the system's order;
// nullopt when they cannot be listed.
QUORVEL_API std::optional<std::vector<Ipv4Interface>> UpIpv4Interfaces();

}  // namespace net

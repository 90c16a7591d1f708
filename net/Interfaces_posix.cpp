#include "net/Interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace net {

std::optional<std::vector<Ipv4Interface>> UpIpv4Interfaces() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return std::nullopt;
  std::vector<Ipv4Interface> out;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP)) continue;
    Ipv4Interface found;
    found.name = i->ifa_name ? i->ifa_name : "";
    found.address = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    found.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
    // The broadcast address shares its field with a point-to-point link's peer: the flag says which.
    if ((i->ifa_flags & IFF_BROADCAST) && i->ifa_broadaddr)
      found.broadcast = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr.s_addr);
    out.push_back(std::move(found));
  }
  ::freeifaddrs(list);
  return out;
}

}  // namespace net

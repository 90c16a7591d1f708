// The IPv4 interfaces that are up, from the IP helper's adapter list.
#include "net/Interfaces.h"

#include "net/Winsock_win32.h"

#include <iphlpapi.h>

#include <vector>

namespace net {

namespace {

std::string Utf8(const wchar_t* text) {
  if (!text || !*text) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

std::optional<std::vector<Ipv4Interface>> UpIpv4Interfaces() {
  win32::StartWinsock();
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG r = ERROR_BUFFER_OVERFLOW;
  for (int tries = 0; tries < 4 && r == ERROR_BUFFER_OVERFLOW; ++tries) {
    buffer.resize(size);
    r = ::GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, nullptr,
                               reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (r != NO_ERROR) return std::nullopt;
  std::vector<Ipv4Interface> out;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp) continue;
    for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
      if (!u->Address.lpSockaddr || u->Address.lpSockaddr->sa_family != AF_INET) continue;
      Ipv4Interface found;
      found.name = Utf8(a->FriendlyName);
      found.address = ntohl(reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr)->sin_addr.s_addr);
      found.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
      const unsigned prefix = u->OnLinkPrefixLength;
      if (!found.loopback && prefix > 0 && prefix < 31) {
        const Ipv4Address mask = ~Ipv4Address{0} << (32 - prefix);
        found.broadcast = found.address | ~mask;
      }
      out.push_back(std::move(found));
    }
  }
  return out;
}

}  // namespace net

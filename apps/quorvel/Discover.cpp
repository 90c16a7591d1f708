// quorvel discover: a VXI-11 broadcast to the portmappers of the local
// networks (GETPORT for the core channel), then *IDN? to each that answers.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>

#include <nlohmann/json.hpp>

#include "net/Tcp.h"
#include "net/Xdr.h"
#include "quorvel/Commands.h"
#include "quorvel/Session.h"
#include "visa/Network.h"

namespace quorvel {

namespace {

namespace rpc = net::rpc;
constexpr std::size_t kMaxResponders = 256;

// The broadcast address of every IPv4 interface that is up and not loopback.
std::vector<in_addr> BroadcastAddresses() {
  std::vector<in_addr> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
        (i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_BROADCAST) || !i->ifa_broadaddr)
      continue;
    const in_addr b = reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr;
    if (std::none_of(out.begin(), out.end(), [&](const in_addr& a) { return a.s_addr == b.s_addr; })) out.push_back(b);
  }
  ::freeifaddrs(list);
  return out;
}

struct Responder {
  std::string address;
  std::uint16_t port = 0;
  std::string identity;
};

// The unit's answer to *IDN?, or why there is none.
std::string Identify(const std::string& resource, long timeoutMs) {
  auto visa = visa::MakeNetworkVisa(resource);
  try {
    visa->SetResourceName(resource);
    visa->Options().SetInteger(visa::kOptionTimeout, timeoutMs);
    visa->Options().SetInteger(visa::kOptionOpenTimeout, timeoutMs);
    visa->Options().SetBool(visa::kOptionTermCharEnabled, true);
    visa->Open();
    visa->Write("*IDN?\n");
    std::string answer = visa->Read(4096);
    const std::string why = visa->LastErrorText();
    visa->Close();
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
    return answer.empty() ? "(no identity: " + (why.empty() ? std::string("no answer") : why) + ")" : answer;
  } catch (const vb::Error& e) {
    return "(no identity: " + e.Reason() + ")";
  }
}

}  // namespace

int Discover(Session& s) {
  const double wait = s.options().wait;
  net::Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const int one = 1;
  if (!sock || ::setsockopt(sock.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0) {
    s.err() << "quorvel: cannot make a broadcast socket: " << std::strerror(errno) << "\n";
    return kFailed;
  }
  const std::vector<in_addr> targets = BroadcastAddresses();
  if (targets.empty()) {
    s.err() << "quorvel: no network interface with a broadcast address is up\n";
    return kFailed;
  }
  const std::uint32_t xid = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  rpc::Writer call;
  call.Call(xid, rpc::kPortmapper, rpc::kPortmapperVersion, rpc::kGetPort)
      .U32(rpc::kDeviceCore).U32(rpc::kVxiVersion).U32(6).U32(0);
  for (const in_addr& b : targets) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(visa::PortmapperPort());
    to.sin_addr = b;
    ::sendto(sock.get(), call.Bytes().data(), call.Bytes().size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  std::vector<Responder> found;
  std::set<std::string> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(wait);
  char buf[1500];
  while (found.size() < kMaxResponders && !s.host().StopRequested()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{sock.get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100))) <= 0) continue;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(sock.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) continue;
    rpc::Reader reply(std::string_view(buf, static_cast<std::size_t>(n)));
    const std::uint32_t gotXid = reply.U32(), type = reply.U32(), replyStat = reply.U32();
    reply.U32();
    reply.Opaque(400);
    const std::uint32_t accept = reply.U32(), port = reply.U32();
    if (!reply.ok() || gotXid != xid || type != 1 || replyStat != 0 || accept != 0 || port == 0 || port > 65535) continue;
    char ip[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    if (seen.insert(ip).second) found.push_back({ip, static_cast<std::uint16_t>(port), {}});
  }
  if (s.host().StopRequested()) return kInterrupted;
  std::sort(found.begin(), found.end(), [](const Responder& a, const Responder& b) { return a.address < b.address; });
  for (Responder& r : found) r.identity = Identify("TCPIP::" + r.address + "::inst0::INSTR", 1000);
  if (s.options().json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Responder& r : found)
      list.push_back({{"resource", "TCPIP::" + r.address + "::inst0::INSTR"}, {"corePort", r.port}, {"identity", r.identity}});
    s.out() << list.dump() << "\n";
  } else {
    for (const Responder& r : found)
      s.out() << "TCPIP::" << r.address << "::inst0::INSTR" << std::string(r.address.size() < 16 ? 16 - r.address.size() : 1, ' ')
              << r.identity << "\n";
    s.err() << "quorvel: " << found.size() << " VXI-11 server" << (found.size() == 1 ? "" : "s") << " answered within "
            << Num(wait) << " s\n";
  }
  return kOk;
}

}  // namespace quorvel

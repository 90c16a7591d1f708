// quorvel discover: a VXI-11 broadcast to the portmappers of the local
// networks (GETPORT for the core channel), then *IDN? to each that answers.
#include <algorithm>
#include <chrono>
#include <set>

#include <nlohmann/json.hpp>

#include "net/Interfaces.h"
#include "net/Tcp.h"
#include "net/Udp.h"
#include "net/Xdr.h"
#include "quorvel/Commands.h"
#include "quorvel/Session.h"
#include "visa/Network.h"

namespace quorvel {

namespace {

namespace rpc = net::rpc;
constexpr std::size_t kMaxResponders = 256;

// The broadcast address of every IPv4 interface that is up and not loopback.
std::vector<net::Ipv4Address> BroadcastAddresses() {
  std::vector<net::Ipv4Address> out;
  const auto interfaces = net::UpIpv4Interfaces();
  if (!interfaces) return out;
  for (const net::Ipv4Interface& i : *interfaces) {
    if (i.loopback || !i.broadcast) continue;
    if (std::find(out.begin(), out.end(), *i.broadcast) == out.end()) out.push_back(*i.broadcast);
  }
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
  net::BroadcastSocket sock;
  std::string why;
  if (!sock.Open(why)) {
    s.Say() << "cannot make a broadcast socket: " << why << "\n";
    return kFailed;
  }
  const std::vector<net::Ipv4Address> targets = BroadcastAddresses();
  if (targets.empty()) {
    s.Say() << "no network interface with a broadcast address is up\n";
    return kFailed;
  }
  const std::uint32_t xid = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  rpc::Writer call;
  call.Call(xid, rpc::kPortmapper, rpc::kPortmapperVersion, rpc::kGetPort)
      .U32(rpc::kDeviceCore).U32(rpc::kVxiVersion).U32(6).U32(0);
  for (const net::Ipv4Address b : targets) sock.Send(call.Bytes(), {b, visa::PortmapperPort()});
  std::vector<Responder> found;
  std::set<std::string> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(wait);
  std::string datagram;
  while (found.size() < kMaxResponders && !s.host().StopRequested()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    net::Ipv4Endpoint from;
    if (!sock.Receive(datagram, from, std::min(left, std::chrono::milliseconds(100)))) continue;
    rpc::Reader reply(datagram);
    const std::uint32_t gotXid = reply.U32(), type = reply.U32(), replyStat = reply.U32();
    reply.U32();
    reply.Opaque(400);
    const std::uint32_t accept = reply.U32(), port = reply.U32();
    if (!reply.ok() || gotXid != xid || type != 1 || replyStat != 0 || accept != 0 || port == 0 || port > 65535) continue;
    const std::string ip = net::Ipv4Text(from.address);
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
    s.Say() << found.size() << " VXI-11 server" << (found.size() == 1 ? "" : "s") << " answered within "
            << Num(wait) << " s\n";
  }
  return kOk;
}

}  // namespace quorvel

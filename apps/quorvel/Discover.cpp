// quorvel discover: a VXI-11 broadcast to the portmappers of the local
// networks (GETPORT for the core channel), then *IDN? to each that answers.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

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
// Answering hosts kept; beyond this many the listening ends, and says so.
constexpr std::size_t kMaxResponders = 65536;
// Identifications at a time.
constexpr std::size_t kIdentifiers = 128;
// An identification's own time-out, within what is left of the wait.
constexpr long kIdentifyMs = 1000;

using Clock = std::chrono::steady_clock;

// A loopback: its own address, and the broadcast of 127/8 for servers on
// other loopback addresses.
template <class Add>
void AddLoopback(net::Ipv4Address address, Add& add) {
  add(address);
  if ((address >> 24) == 127) add(0x7fffffffu);
}

// Where the broadcast goes: the broadcast address of every IPv4 interface
// that is up (or of the one named), and the loopback's own address when it
// is the only one up or the one named (a loopback has no broadcast).
std::vector<net::Ipv4Address> Targets(const std::vector<net::Ipv4Interface>& up, const std::string& name) {
  std::vector<net::Ipv4Address> out;
  auto add = [&](net::Ipv4Address a) {
    if (std::find(out.begin(), out.end(), a) == out.end()) out.push_back(a);
  };
  for (const net::Ipv4Interface& i : up) {
    if (!name.empty() && i.name != name) continue;
    if (i.loopback && name.empty()) continue;
    if (i.loopback) AddLoopback(i.address, add);
    else if (i.broadcast) add(*i.broadcast);
  }
  if (out.empty() && name.empty())
    for (const net::Ipv4Interface& i : up)
      if (i.loopback) AddLoopback(i.address, add);
  return out;
}

struct Responder {
  net::Ipv4Address ip = 0;
  std::string address;
  std::uint16_t port = 0;
  std::string identity;  // "" until identified
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

// Hosts that answered the broadcast, identified by a few threads at a time
// while the listening goes on; everything ends at one deadline.
class Identifier {
 public:
  explicit Identifier(Clock::time_point deadline) : deadline_(deadline) {}
  ~Identifier() { Stop(); }
  Identifier(const Identifier&) = delete;
  Identifier& operator=(const Identifier&) = delete;

  void Add(net::Ipv4Address ip, std::uint16_t port) {
    std::lock_guard lock(mutex_);
    hosts_.push_back({ip, net::Ipv4Text(ip), port, {}});
    if (workers_.size() < kIdentifiers) workers_.emplace_back([this] { Work(); });
    cv_.notify_one();
  }
  // What is known now: every host, identified or not.
  std::vector<Responder> Snapshot() {
    std::lock_guard lock(mutex_);
    return hosts_;
  }
  // Waits for the identifications still running (each ends by the deadline).
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    cv_.notify_all();
    workers_.clear();  // joins
  }

 private:
  void Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      cv_.wait(lock, [&] { return stopping_ || next_ < hosts_.size(); });
      if (next_ >= hosts_.size()) return;  // stopping, nothing left
      const std::size_t k = next_++;
      const std::string resource = "TCPIP::" + hosts_[k].address + "::inst0::INSTR";
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
      if (stopping_ || left <= 0) {
        hosts_[k].identity = "(no identity: not asked within the wait)";
        continue;
      }
      lock.unlock();
      std::string identity = Identify(resource, std::min<long>(static_cast<long>(left), kIdentifyMs));
      lock.lock();
      hosts_[k].identity = std::move(identity);
    }
  }

  Clock::time_point deadline_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Responder> hosts_;
  std::size_t next_ = 0;
  bool stopping_ = false;
  std::vector<std::jthread> workers_;
};

void Print(Session& s, std::vector<Responder> found, double seconds, bool full) {
  std::sort(found.begin(), found.end(), [](const Responder& a, const Responder& b) { return a.ip < b.ip; });
  for (Responder& r : found)
    if (r.identity.empty()) r.identity = "(no identity: not answered within the wait)";
  if (s.options().json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Responder& r : found)
      list.push_back({{"resource", "TCPIP::" + r.address + "::inst0::INSTR"}, {"corePort", r.port}, {"identity", r.identity}});
    s.out() << list.dump() << "\n";
    return;
  }
  for (const Responder& r : found)
    s.out() << "TCPIP::" << r.address << "::inst0::INSTR" << std::string(r.address.size() < 16 ? 16 - r.address.size() : 1, ' ')
            << Shown(r.identity) << "\n";
  s.Say() << found.size() << " VXI-11 server" << (found.size() == 1 ? "" : "s") << " answered"
          << (full ? "; the listening stopped there" : "") << " within " << vb::Format(seconds, "0.0##") << " s\n";
}

}  // namespace

int Discover(Session& s) {
  const double wait = s.options().wait;
  const auto start = Clock::now();
  const auto up = net::UpIpv4Interfaces();
  if (!up) {
    s.Say() << "cannot list the network interfaces\n";
    return kFailed;
  }
  const std::string& only = s.options().interfaceName;
  const std::vector<net::Ipv4Address> targets = Targets(*up, only);
  if (targets.empty()) {
    if (only.empty()) {
      s.Say() << "no network interface is up\n";
      return kFailed;
    }
    s.Say() << "no interface '" << only << "' is up with an IPv4 address (up:";
    for (const net::Ipv4Interface& i : *up) s.err() << " " << i.name;
    s.err() << ")\n";
    return kUsage;
  }
  net::BroadcastSocket sock;
  std::string why;
  if (!sock.Open(why)) {
    s.Say() << "cannot make a broadcast socket: " << why << "\n";
    return kFailed;
  }
  const std::uint32_t xid = static_cast<std::uint32_t>(Clock::now().time_since_epoch().count());
  rpc::Writer call;
  call.Call(xid, rpc::kPortmapper, rpc::kPortmapperVersion, rpc::kGetPort)
      .U32(rpc::kDeviceCore).U32(rpc::kVxiVersion).U32(6).U32(0);
  for (const net::Ipv4Address b : targets) sock.Send(call.Bytes(), {b, visa::PortmapperPort()});
  const auto deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wait));
  Identifier identify(deadline);
  std::set<net::Ipv4Address> seen;
  bool full = false;
  std::string datagram;
  while (!s.host().StopRequested()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    net::Ipv4Endpoint from;
    if (!sock.Receive(datagram, from, std::min(left, std::chrono::milliseconds(100)))) continue;
    rpc::Reader reply(datagram);
    const std::uint32_t gotXid = reply.U32(), type = reply.U32(), replyStat = reply.U32();
    reply.U32();
    reply.Opaque(400);
    const std::uint32_t accept = reply.U32(), port = reply.U32();
    if (!reply.ok() || gotXid != xid || type != 1 || replyStat != 0 || accept != 0 || port == 0 || port > 65535) continue;
    if (seen.size() >= kMaxResponders) {
      full = true;
      continue;  // keep draining until the wait ends
    }
    if (seen.insert(from.address).second) identify.Add(from.address, static_cast<std::uint16_t>(port));
  }
  if (s.host().StopRequested()) {
    // At --timeout the hosts found so far are printed; Ctrl-C prints nothing.
    const auto& timeout = s.options().timeout;
    if (!timeout || Clock::now() - start < std::chrono::duration<double>(*timeout)) return kInterrupted;
    Print(s, identify.Snapshot(), std::chrono::duration<double>(Clock::now() - start).count(), full);
    s.Deliver();
    return kTimedOut;
  }
  identify.Stop();
  Print(s, identify.Snapshot(), wait, full);
  return kOk;
}

}  // namespace quorvel

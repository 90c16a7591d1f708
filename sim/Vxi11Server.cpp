#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "net/Xdr.h"
#include "sim/Detail.h"
#include "sim/ServerParts.h"
#include "sim/Zentrix8.h"

namespace sim::detail {

namespace {
namespace rpc = net::rpc;
constexpr std::uint32_t kMaxRecvSize = 1u << 20;  // what one device_write may carry
}  // namespace

struct Vxi11Server::Link {
  int id = 0;
  Zentrix8::Port port;
  std::atomic<bool> reading{false};
  std::atomic<bool> aborted{false};
  explicit Link(std::shared_ptr<Zentrix8> unit) : port(std::move(unit)) {}
};

std::shared_ptr<Vxi11Server::Link> Vxi11Server::NewLink(const std::string& unit) {
  auto link = std::make_shared<Link>(Zentrix8::Instance(unit));
  std::lock_guard lock(linksMutex_);
  link->id = nextLink_++;
  links_.push_back(link);
  return link;
}

void Vxi11Server::DropLink(int id) {
  std::lock_guard lock(linksMutex_);
  links_.erase(std::remove_if(links_.begin(), links_.end(), [id](const auto& l) { return l->id == id; }), links_.end());
}

bool Vxi11Server::Abort(int id) {
  std::lock_guard lock(linksMutex_);
  for (const auto& l : links_)
    if (l->id == id) {
      if (l->reading) l->aborted = true;
      return true;
    }
  return false;
}

void Vxi11Server::ServeCore(net::TcpConnection& c, const std::string& unitName, std::uint16_t abortPort) {
  using Clock = Zentrix8::Clock;
  acceptor_.Log("VXI-11 client " + c.Peer() + " connected");
  auto unit = Zentrix8::Instance(unitName);
  std::string record, data;
  rpc::Writer reply;  // kept: a large answer does not allocate anew for every read
  std::vector<std::shared_ptr<Link>> links;  // this connection's
  struct Release {
    Vxi11Server& server;
    std::vector<std::shared_ptr<Link>>& links;
    ~Release() {
      for (const auto& l : links) server.DropLink(l->id);
    }
  } release{*this, links};
  auto find = [&](std::int32_t lid) -> Link* {
    for (const auto& l : links)
      if (l->id == lid) return l.get();
    return nullptr;
  };
  while (!acceptor_.Stopping()) {
    if (!c.Buffered() && !acceptor_.WaitReadable(c.Descriptor(), acceptor_.IdleMs())) break;
    // One record within a deadline, however its fragments trickle in.
    if (rpc::ReceiveRecord(c, record, net::Millis(5000)) != net::TcpConnection::Result::kOk) break;
    rpc::Reader call(record);
    const rpc::CallHeader h = rpc::ReadCall(call);
    const std::uint32_t xid = h.xid, prog = h.prog, vers = h.vers, proc = h.proc;
    reply.StartRecord();
    if (!call.ok() || !h.IsCall()) {
      acceptor_.Log("VXI-11 client " + c.Peer() + " sent garbage; closing");
      break;
    }
    if (prog != rpc::kDeviceCore || vers != rpc::kVxiVersion) {
      reply.Reply(xid, prog != rpc::kDeviceCore ? 1 : 2);
      if (prog == rpc::kDeviceCore) reply.U32(1).U32(1);
    } else {
      reply.Reply(xid);
      switch (proc) {
        case 0:  // NULL: the channel is there
          break;
        case rpc::kCreateLink: {
          call.I32();
          call.U32();
          call.U32();
          const std::string device(call.Opaque(256));
          if (!call.ok()) {
            reply.StartRecord().Reply(xid, 4);
            break;
          }
          if (device.empty() || device.find('\0') != std::string::npos) {
            reply.I32(3).I32(0).U32(0).U32(0);  // no such device
            break;
          }
          if (links.size() >= kMaxLinksPerConnection) {
            reply.I32(9).I32(0).U32(0).U32(0);  // out of resources
            break;
          }
          links.push_back(NewLink(unitName));
          unit->Reconnect();
          const int lid = links.back()->id;
          acceptor_.Log(c.Peer() + " linked to " + device + " as link " + std::to_string(lid));
          reply.I32(0).I32(lid).U32(abortPort).U32(kMaxRecvSize);
          break;
        }
        case rpc::kDeviceWrite: {
          const std::int32_t lid = call.I32();
          call.U32();
          call.U32();
          const std::int32_t flags = call.I32();
          const std::string_view data = call.Opaque(kMaxRecvSize);
          Link* link = call.ok() ? find(lid) : nullptr;
          if (!link) {
            reply.I32(call.ok() ? 4 : 5).U32(0);
            break;
          }
          // The link's port takes the pieces of a message as they come (a
          // firmware block is counted, not kept) and the message at END.
          if (data.size() <= 200) acceptor_.Log(c.Peer() + " > " + Shown(data));
          link->port.Write(data, (flags & rpc::kFlagEnd) != 0);
          if (unit->ConnectionDropped()) {
            acceptor_.Log("dropping " + c.Peer() + " as the fault knob asks");
            return;
          }
          reply.I32(0).U32(static_cast<std::uint32_t>(data.size()));
          if (unit->Rebooting()) {
            // The write that completed the firmware is acknowledged; then the unit restarts.
            c.SendAll(reply.FinishRecord(), kSendTimeout);
            acceptor_.Log("the unit restarts after the firmware update; closing " + c.Peer());
            return;
          }
          break;
        }
        case rpc::kDeviceRead: {
          const std::int32_t lid = call.I32();
          const std::uint32_t requestSize = call.U32(), ioTimeout = call.U32();
          call.U32();
          const std::int32_t flags = call.I32();
          call.U32();
          Link* link = call.ok() ? find(lid) : nullptr;
          if (!link) {
            reply.I32(call.ok() ? 4 : 5).I32(0).Opaque("");
            break;
          }
          // Wait for an answer up to the client's time-out, unless the link is aborted.
          const auto deadline = Clock::now() + std::chrono::milliseconds(std::min<std::uint32_t>(ioTimeout, 3600000));
          link->aborted = false;
          link->reading = true;
          bool aborted = false;
          for (;;) {
            aborted = link->aborted.exchange(false);
            const auto ready = link->port.AnswerReadyAt();
            if (aborted || (ready && *ready <= Clock::now()) || Clock::now() >= deadline || acceptor_.Stopping()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
          link->reading = false;
          if (aborted) {
            reply.I32(23).I32(0).Opaque("");
            break;
          }
          const std::size_t size = std::min<std::size_t>(requestSize, kMaxRecvSize);
          data.clear();
          link->port.ReadInto(data, size, (flags & rpc::kFlagTermChar) != 0);
          if (data.empty()) {
            reply.I32(15).I32(0).Opaque("");
            break;
          }
          acceptor_.Log(c.Peer() + " < " + Shown(data));
          std::int32_t reason = 0;
          if (data.back() == '\n') reason |= rpc::kReasonEnd | ((flags & rpc::kFlagTermChar) ? rpc::kReasonChr : 0);
          else if (data.size() == size) reason |= rpc::kReasonReqCnt;
          reply.I32(0).I32(reason).Opaque(data);
          break;
        }
        case rpc::kDeviceReadStb:
          reply.I32(0).U32(0);
          break;
        case rpc::kDeviceClear: {
          Link* link = find(call.I32());
          if (!link) {
            reply.I32(4);
            break;
          }
          link->port.Clear();  // this link's input and answers only
          reply.I32(0);
          break;
        }
        case rpc::kDestroyLink: {
          const std::int32_t lid = call.I32();
          if (!find(lid)) {
            reply.I32(4);
            break;
          }
          links.erase(std::remove_if(links.begin(), links.end(), [lid](const auto& l) { return l->id == lid; }),
                      links.end());
          DropLink(lid);
          reply.I32(0);
          break;
        }
        case 14: case 16: case 17: case 18: case 19:  // trigger, remote, local, lock, unlock
          reply.I32(0);
          break;
        default:
          reply.I32(8);  // operation not supported
      }
    }
    if (c.SendAll(reply.FinishRecord(), kSendTimeout) != net::TcpConnection::Result::kOk) break;
  }
  acceptor_.Log("VXI-11 client " + c.Peer() + " gone");
}

void Vxi11Server::ServeAbort(net::TcpConnection& c) {
  ServeRpc(acceptor_, c, [this](std::string_view record) -> std::string {
    rpc::Reader call(record);
    const rpc::CallHeader h = rpc::ReadCall(call);
    if (!call.ok() || !h.IsCall()) return {};
    rpc::Writer reply;
    if (h.prog == rpc::kDeviceAsync && h.proc == 0) return reply.Reply(h.xid).Bytes();  // NULL
    if (h.prog != rpc::kDeviceAsync || h.proc != rpc::kDeviceAbort) return reply.Reply(h.xid, h.prog != rpc::kDeviceAsync ? 1 : 3).Bytes();
    const std::int32_t lid = call.I32();
    if (!call.ok() || !Abort(lid)) return reply.Reply(h.xid).I32(4).Bytes();  // invalid link identifier
    acceptor_.Log("abort of link " + std::to_string(lid));
    return reply.Reply(h.xid).I32(0).Bytes();
  });
}

}  // namespace sim::detail

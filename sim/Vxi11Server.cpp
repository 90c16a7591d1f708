#include <algorithm>
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

bool Vxi11Server::TakeAbort(int link) {
  std::lock_guard lock(abortMutex_);
  const auto it = std::find(aborted_.begin(), aborted_.end(), link);
  if (it == aborted_.end()) return false;
  aborted_.erase(it);
  return true;
}

void Vxi11Server::ServeCore(net::TcpConnection c, const std::string& unitName, std::uint16_t abortPort) {
  using Clock = Zentrix8::Clock;
  acceptor_.Log("VXI-11 client " + c.Peer() + " connected");
  auto unit = Zentrix8::Instance(unitName);
  std::string record, data;
  std::string message;  // the link's message so far: the unit takes it whole, at END
  rpc::Writer reply;    // kept: a large answer does not allocate anew for every read
  std::vector<int> links;
  while (!acceptor_.Stopping()) {
    if (!c.Buffered() && !acceptor_.WaitReadable(c.Descriptor(), -1)) break;
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
        case rpc::kCreateLink: {
          call.I32();
          call.U32();
          call.U32();
          const std::string device(call.Opaque(256));
          if (!call.ok()) {
            reply.StartRecord().Reply(xid, 4);
            break;
          }
          const int lid = nextLink_++;
          links.push_back(lid);
          unit->Reconnect();
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
          if (!call.ok() || std::find(links.begin(), links.end(), lid) == links.end()) {
            reply.I32(call.ok() ? 4 : 5).U32(0);
            break;
          }
          if (message.size() + data.size() > kMaxInput + 64) {
            message.clear();
            reply.I32(17).U32(0);  // I/O error: a message larger than the unit takes
            break;
          }
          message.append(data);
          if (flags & rpc::kFlagEnd) {
            if (message.size() < 200) acceptor_.Log(c.Peer() + " > " + message);
            unit->Write(message, true);
            message.clear();
          }
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
          if (!call.ok() || std::find(links.begin(), links.end(), lid) == links.end()) {
            reply.I32(call.ok() ? 4 : 5).I32(0).Opaque("");
            break;
          }
          // Wait for an answer up to the client's time-out, unless the link is aborted.
          const auto deadline = Clock::now() + std::chrono::milliseconds(ioTimeout);
          bool aborted = false;
          for (;;) {
            aborted = TakeAbort(lid);
            const auto ready = unit->AnswerReadyAt();
            if (aborted || (ready && *ready <= Clock::now()) || Clock::now() >= deadline || acceptor_.Stopping()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
          if (aborted) {
            reply.I32(23).I32(0).Opaque("");
            break;
          }
          const std::size_t size = std::min<std::size_t>(requestSize, kMaxRecvSize);
          data.clear();
          unit->ReadInto(data, size, (flags & rpc::kFlagTermChar) != 0);
          if (data.empty()) {
            reply.I32(15).I32(0).Opaque("");
            break;
          }
          std::int32_t reason = 0;
          if (data.back() == '\n') reason |= rpc::kReasonEnd | ((flags & rpc::kFlagTermChar) ? rpc::kReasonChr : 0);
          else if (data.size() == size) reason |= rpc::kReasonReqCnt;
          reply.I32(0).I32(reason).Opaque(data);
          break;
        }
        case rpc::kDeviceReadStb:
          reply.I32(0).U32(0);
          break;
        case rpc::kDeviceClear:
          unit->Clear();
          reply.I32(0);
          break;
        case rpc::kDestroyLink: {
          const std::int32_t lid = call.I32();
          links.erase(std::remove(links.begin(), links.end(), lid), links.end());
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

void Vxi11Server::ServeAbort(net::TcpConnection c) {
  ServeRpc(acceptor_, c, [this](std::string_view record) -> std::string {
    rpc::Reader call(record);
    const rpc::CallHeader h = rpc::ReadCall(call);
    if (!call.ok() || !h.IsCall()) return {};
    rpc::Writer reply;
    if (h.prog != rpc::kDeviceAsync || h.proc != rpc::kDeviceAbort) return reply.Reply(h.xid, h.prog != rpc::kDeviceAsync ? 1 : 3).Bytes();
    const std::int32_t lid = call.I32();
    {
      std::lock_guard lock(abortMutex_);
      aborted_.push_back(lid);
    }
    acceptor_.Log("abort of link " + std::to_string(lid));
    return reply.Reply(h.xid).I32(0).Bytes();
  });
}

}  // namespace sim::detail

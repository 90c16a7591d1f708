#include "sim/server/Portmapper.h"

#include "net/Udp.h"
#include "net/Xdr.h"
#include "sim/server/RpcService.h"

namespace sim::detail {

namespace rpc = net::rpc;

std::string PortmapperReply(std::string_view bytes, Vxi11Ports ports) {
  rpc::Reader call(bytes);
  const rpc::CallHeader h = rpc::ReadCall(call);
  if (!call.ok() || !h.IsCall()) return {};
  rpc::Writer reply;
  if (h.prog != rpc::kPortmapper) return reply.Reply(h.xid, rpc::kProgramUnavailable).Bytes();
  if (h.vers != rpc::kPortmapperVersion)  // 2..2 only
    return reply.Reply(h.xid, rpc::kProgramMismatch).U32(rpc::kPortmapperVersion).U32(rpc::kPortmapperVersion).Bytes();
  // What this portmapper knows: itself and the two VXI-11 channels.
  struct Mapping {
    std::uint32_t prog, vers, prot, port;
  };
  const Mapping mappings[] = {{rpc::kPortmapper, rpc::kPortmapperVersion, rpc::kProtocolTcp, ports.portmapper},
                              {rpc::kPortmapper, rpc::kPortmapperVersion, rpc::kProtocolUdp, ports.portmapper},
                              {rpc::kDeviceCore, rpc::kVxiVersion, rpc::kProtocolTcp, ports.core},
                              {rpc::kDeviceAsync, rpc::kVxiVersion, rpc::kProtocolTcp, ports.abort}};
  switch (h.proc) {
    case rpc::kPortmapperNull:
      return reply.Reply(h.xid).Bytes();
    case rpc::kGetPort: {
      const std::uint32_t wantedProg = call.U32(), wantedVers = call.U32(), protocol = call.U32();
      call.U32();  // the port field of the mapping, unused in a query
      if (!call.ok()) return reply.Reply(h.xid, rpc::kGarbageArguments).Bytes();
      std::uint32_t port = 0;
      for (const Mapping& m : mappings)
        if (m.prog == wantedProg && m.vers == wantedVers && m.prot == protocol && m.port != 0) port = m.port;
      return reply.Reply(h.xid).U32(port).Bytes();
    }
    case rpc::kPortmapperDump: {  // the list of mappings
      reply.Reply(h.xid);
      for (const Mapping& m : mappings)
        if (m.port != 0) reply.U32(1).U32(m.prog).U32(m.vers).U32(m.prot).U32(m.port);
      return reply.U32(0).Bytes();
    }
    default:  // SET, UNSET and CALLIT are not offered
      return reply.Reply(h.xid, rpc::kProcedureUnavailable).Bytes();
  }
}

void ServePortmapper(const Acceptor& acceptor, Vxi11Ports ports, net::TcpConnection& c) {
  ServeRpc(acceptor, c, [ports](std::string_view call) { return PortmapperReply(call, ports); });
}

void ServeUdpPortmapper(const Acceptor& acceptor, Vxi11Ports ports, int fd, int replyFd) {
  std::string call;
  while (!acceptor.Stopping() && acceptor.WaitReadable(fd, -1)) {
    net::Ipv4Endpoint from;
    if (!net::ReceiveDatagram(fd, call, from)) continue;
    const std::string reply = PortmapperReply(call, ports);
    // A broadcast is answered from the server's own address, where its channels listen.
    if (!reply.empty()) net::SendDatagram(replyFd, reply, from);
  }
}

bool RegisterWithPortmapper(const std::string& host, Vxi11Ports ports, bool set, std::string& error) {
  for (const auto& [prog, port] : {std::pair{rpc::kDeviceCore, ports.core}, std::pair{rpc::kDeviceAsync, ports.abort}}) {
    net::TcpConnection pm;
    if (!pm.Connect(host, 111, net::Millis(1000))) {
      error = "no portmapper answers at " + host + ":111 (" + pm.Error() + ")";
      return false;
    }
    rpc::Writer call;
    call.Call(static_cast<std::uint32_t>(prog + (set ? 0 : 7)), rpc::kPortmapper, rpc::kPortmapperVersion,
              set ? rpc::kPortmapperSet : rpc::kPortmapperUnset)
        .U32(prog).U32(rpc::kVxiVersion).U32(rpc::kProtocolTcp).U32(set ? port : 0);
    std::string record;
    if (pm.SendAll(rpc::Record(call.Bytes()), net::Millis(1000)) != net::TcpConnection::Result::kOk ||
        rpc::ReceiveRecord(pm, record, net::Millis(1000)) != net::TcpConnection::Result::kOk) {
      error = "the portmapper at " + host + ":111 did not answer";
      return false;
    }
    rpc::Reader reply(record);
    reply.U32();
    reply.U32();
    const std::uint32_t replyStat = reply.U32();
    reply.U32();
    reply.Opaque(400);
    const std::uint32_t accept = reply.U32(), done = reply.U32();
    if (!reply.ok() || replyStat != 0 || accept != 0 || (set && done != 1)) {
      error = "the portmapper at " + host + ":111 refused the mapping of program " + std::to_string(prog);
      return false;
    }
  }
  return true;
}

}  // namespace sim::detail

#include <sys/socket.h>

#include "net/Xdr.h"
#include "sim/ServerParts.h"

namespace sim::detail {

namespace rpc = net::rpc;

std::string PortmapperReply(std::string_view bytes, Vxi11Ports ports) {
  rpc::Reader call(bytes);
  const rpc::CallHeader h = rpc::ReadCall(call);
  if (!call.ok() || !h.IsCall()) return {};
  rpc::Writer reply;
  if (h.prog != rpc::kPortmapper) return reply.Reply(h.xid, 1).Bytes();
  if (h.proc == 0) return reply.Reply(h.xid).Bytes();  // NULL
  if (h.proc != rpc::kGetPort) return reply.Reply(h.xid, 3).Bytes();
  const std::uint32_t wantedProg = call.U32(), wantedVers = call.U32(), protocol = call.U32();
  call.U32();  // the port field of the mapping, unused in a query
  if (!call.ok()) return reply.Reply(h.xid, 4).Bytes();  // garbage arguments
  std::uint32_t port = 0;
  if (wantedProg == rpc::kDeviceCore && wantedVers == rpc::kVxiVersion && protocol == 6) port = ports.core;
  if (wantedProg == rpc::kDeviceAsync && wantedVers == rpc::kVxiVersion && protocol == 6) port = ports.abort;
  return reply.Reply(h.xid).U32(port).Bytes();
}

void ServePortmapper(const Acceptor& acceptor, Vxi11Ports ports, net::TcpConnection& c) {
  ServeRpc(acceptor, c, [ports](std::string_view call) { return PortmapperReply(call, ports); });
}

void ServeUdpPortmapper(const Acceptor& acceptor, Vxi11Ports ports, int fd) {
  char buf[1500];
  while (!acceptor.Stopping() && acceptor.WaitReadable(fd, -1)) {
    sockaddr_storage from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) continue;
    const std::string reply = PortmapperReply(std::string_view(buf, static_cast<std::size_t>(n)), ports);
    if (!reply.empty()) ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
  }
}

}  // namespace sim::detail

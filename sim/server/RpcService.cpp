#include "sim/server/RpcService.h"

#include "net/Xdr.h"

namespace sim::detail {

void ServeRpc(const Acceptor& acceptor, net::TcpConnection& c, const std::function<std::string(std::string_view)>& answer) {
  std::string record;
  while (!acceptor.Stopping() && (c.Buffered() || acceptor.WaitReadable(c.Descriptor(), acceptor.IdleMs()))) {
    if (net::rpc::ReceiveRecord(c, record, net::Millis(5000)) != net::TcpConnection::Result::kOk) return;
    const std::string reply = answer(record);
    if (reply.empty() || c.SendAll(net::rpc::Record(reply), kSendTimeout) != net::TcpConnection::Result::kOk) return;
  }
}

}  // namespace sim::detail

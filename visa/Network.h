// The network transports of the VISA control: VXI-11 ("TCPIP::<host>::inst0::INSTR",
// also "TCPIP::<host>,<port>::<device>::INSTR" to skip the portmapper) and raw
// SCPI sockets ("TCPIP::<host>::<port>::SOCKET").  A program registers them
// for "TCPIP" resources with RegisterNetworkTransports, or a host hands a
// driver MakeNetworkVisa as its own factory.  Time-outs are the session's
// options (visa::kOptionTimeout, kOptionOpenTimeout).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/Export.h"
#include "visa/VisaControl.h"
#include "net/Tcp.h"
#include "net/Xdr.h"

namespace visa {

using net::ByteQueue;
using net::Millis;
using net::TcpConnection;
namespace rpc = net::rpc;

// Makes "TCPIP" resources reach the network while the registration lives.
QUORVEL_API visa::VisaRegistration RegisterNetworkTransports();
// The control for a "TCPIP" resource (null for any other resource); one
// whose resource is malformed says why when it opens.
QUORVEL_API std::shared_ptr<visa::IVisaControl> MakeNetworkVisa(const std::string& resource);

// The portmapper's port (111; tests run their own elsewhere).
QUORVEL_API std::uint16_t PortmapperPort();
QUORVEL_API void SetPortmapperPort(std::uint16_t port);

// A parsed "TCPIP" resource.
struct QUORVEL_API TcpipResource {
  enum class Kind { kInstr, kSocket } kind = Kind::kInstr;
  std::string host;
  std::uint16_t port = 0;  // SOCKET: the port; INSTR: the core channel's port, 0 = ask the portmapper
  std::string device = "inst0";
};
// False, with a reason, for a resource that is not a TCPIP INSTR or SOCKET resource.
QUORVEL_API bool ParseTcpip(const std::string& resource, TcpipResource& out, std::string& error);

QUORVEL_API std::shared_ptr<visa::IVisaControl> MakeRawSocketVisa();
QUORVEL_API std::shared_ptr<visa::IVisaControl> MakeVxi11Visa();

}  // namespace visa

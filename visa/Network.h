// The network transports of the VISA control: VXI-11 ("TCPIP::<host>::inst0::INSTR",
// also "TCPIP::<host>,<port>::<device>::INSTR" to skip the portmapper) and raw
// SCPI sockets ("TCPIP::<host>::<port>::SOCKET").  They register themselves
// for "TCPIP" resources when the library loads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "io/Export.h"
#include "io/VisaControl.h"
#include "visa/Tcp.h"

namespace visa {

// The driver sets no time-outs, so the sessions bring their own: 2 s for an
// answer (as common VISA libraries), 2 s to connect.  A host may set others.
QUORVEL_API Millis IoTimeout();
QUORVEL_API void SetIoTimeout(Millis timeout);
QUORVEL_API Millis ConnectTimeout();
QUORVEL_API void SetConnectTimeout(Millis timeout);
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

QUORVEL_API std::shared_ptr<io::IVisaControl> MakeRawSocketVisa();
QUORVEL_API std::shared_ptr<io::IVisaControl> MakeVxi11Visa();

}  // namespace visa

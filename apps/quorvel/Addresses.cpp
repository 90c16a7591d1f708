// The resources the tool and the panel can reach.
#include <string>

#include "core/Vb.h"
#include "quorvel/Options.h"
#include "visa/Network.h"
#include "visa/VisaControl.h"

namespace quorvel {

std::string CheckResource(const std::string& resource) {
  const std::string supported =
      "; supported: TCPIP::<host>[::inst0]::INSTR (VXI-11), TCPIP::<host>::<port>::SOCKET (raw SCPI), "
      "SIM::<name>::INSTR (the embedded simulator)";
  if (vb::StartsWithNoCase(resource, "SIM::")) {
    const std::string rest = resource.substr(5);
    if (rest.empty() || !vb::EqualsNoCase(rest.substr(rest.find("::") == std::string::npos ? rest.size() : rest.find("::")),
                                    "::INSTR"))
      return "'" + resource + "' is not a simulator resource" + supported;
    return {};
  }
  visa::TcpipResource r;
  std::string error;
  if (!vb::StartsWithNoCase(resource, "TCPIP")) {
    if (visa::VisaRegistry::Instance().Create(resource)) return {};  // a transport the program registered
    const std::size_t end = resource.find("::");
    return "'" + resource + "': " + (end == std::string::npos ? "not a VISA resource" : resource.substr(0, end) + " resources are not supported") + supported;
  }
  if (!visa::ParseTcpip(resource, r, error)) return error + supported;
  if (r.kind != visa::TcpipResource::Kind::kSocket && !r.device.empty() && !vb::EqualsNoCase(r.device, "inst0"))
    return "'" + resource + "': the Zentrix8 serves the device inst0, not '" + r.device + "'" + supported;
  return {};
}

}  // namespace quorvel

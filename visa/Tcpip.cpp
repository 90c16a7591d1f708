// "TCPIP" resources: parsing, the sessions' time-outs, and registration.
#include <algorithm>
#include <atomic>
#include <cctype>

#include "core/Vb.h"
#include "visa/Network.h"

namespace visa {

namespace {
std::atomic<int> g_portmapper{111};

// A control that reports why it could not be made, at its open.
class Unusable : public visa::IVisaControl {
 public:
  explicit Unusable(std::string why) : why_(std::move(why)) {}
  void SetResourceName(const std::string& r) override { resource_ = r; }
  std::string ResourceName() const override { return resource_; }
  void Open() override { vb::Raise(visa::ERROR_VISA_OPEN, "VISA", "VISA Open: " + why_); }
  void Close() override {}
  visa::IVisaOptions& Options() override { return options_; }
  void Write(std::string_view) override {}
  void WriteBlock(std::span<const std::uint8_t>) override {}
  std::string Read() override { return {}; }
  std::string Read(long) override { return {}; }
  long Status() const override { return visa::kVisaErrorInvalidObject; }
  void SetBuffer(long, long) override {}
  std::string LastErrorText() const override { return why_; }

 private:
  struct NoOptions : visa::IVisaOptions {
    void SetBool(long, bool) override {}
    void SetInteger(long, long) override {}
  } options_;
  std::string why_, resource_;
};

}  // namespace

std::shared_ptr<visa::IVisaControl> MakeNetworkVisa(const std::string& resource) {
  if (!vb::StartsWithNoCase(resource, "TCPIP")) return nullptr;
  TcpipResource r;
  std::string error;
  if (!ParseTcpip(resource, r, error)) return std::make_shared<Unusable>(error);
  return r.kind == TcpipResource::Kind::kSocket ? MakeRawSocketVisa() : MakeVxi11Visa();
}

visa::VisaRegistration RegisterNetworkTransports() {
  return visa::VisaRegistry::Instance().Register("TCPIP", MakeNetworkVisa);
}

std::uint16_t PortmapperPort() { return static_cast<std::uint16_t>(g_portmapper.load()); }
void SetPortmapperPort(std::uint16_t port) { g_portmapper = port; }

bool ParseTcpip(const std::string& resource, TcpipResource& out, std::string& error) {
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const std::size_t sep = resource.find("::", start);
    parts.push_back(resource.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
    if (sep == std::string::npos) break;
    start = sep + 2;
  }
  const std::string board = vb::Upper(parts[0]);
  const bool tcpip = board.rfind("TCPIP", 0) == 0 && std::all_of(board.begin() + 5, board.end(), ::isdigit);
  const std::string last = vb::Upper(parts.back());
  if (!tcpip || parts.size() < 3 || (last != "INSTR" && last != "SOCKET") || parts[1].empty()) {
    error = "'" + resource + "' is not a TCPIP resource (TCPIP::<host>::inst0::INSTR or TCPIP::<host>::<port>::SOCKET)";
    return false;
  }
  auto port = [&](const std::string& text, std::uint16_t& p) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), ::isdigit) || std::stoi(text) > 65535 ||
        std::stoi(text) == 0) {
      error = "'" + text + "' is not a port number in '" + resource + "'";
      return false;
    }
    p = static_cast<std::uint16_t>(std::stoi(text));
    return true;
  };
  out = {};
  std::string host = parts[1];
  if (last == "SOCKET") {
    out.kind = TcpipResource::Kind::kSocket;
    if (parts.size() != 4) {
      error = "a SOCKET resource reads TCPIP::<host>::<port>::SOCKET, not '" + resource + "'";
      return false;
    }
    out.host = host;
    return port(parts[2], out.port);
  }
  if (parts.size() > 4) {
    error = "an INSTR resource reads TCPIP::<host>[,<port>]::<device>::INSTR, not '" + resource + "'";
    return false;
  }
  const std::size_t comma = host.find(',');
  if (comma != std::string::npos) {
    if (!port(host.substr(comma + 1), out.port)) return false;
    host = host.substr(0, comma);
  }
  out.host = host;
  if (parts.size() == 4) out.device = parts[2];
  if (host.find_first_of("-") == 0 || host.find("---") != std::string::npos) {
    error = "'" + resource + "' names no host: set the unit's address in the device list";
    return false;
  }
  return true;
}

}  // namespace visa

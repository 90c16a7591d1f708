#include "sim/server/Servers.h"

#include "sim/server/Acceptor.h"
#include "sim/server/DeviceLock.h"
#include "sim/server/Portmapper.h"
#include "sim/server/SocketServer.h"
#include "sim/server/Vxi11Server.h"

namespace sim {

struct Servers::Parts {
  detail::Acceptor acceptor;
  detail::DeviceLock lock{acceptor.StopFlag()};  // the unit's, whichever server a client comes through
  detail::Vxi11Server vxi11{acceptor, lock};
  ~Parts() { acceptor.Stop(); }  // the client threads use vxi11: join them first
};

Servers::Servers() : parts_(std::make_unique<Parts>()) {}

Servers::~Servers() { Stop(); }

long Servers::Connections() const { return parts_->acceptor.Connections(); }

bool Servers::Start(const Config& config, std::string& error) {
  Stop();
  detail::Acceptor& acceptor = parts_->acceptor;
  if (!acceptor.Open(config.log, error, {config.maxClients, config.idleSeconds * 1000})) return false;
  enum class Kind { kSocket, kCore, kAbort, kPortmapper };
  struct Wanted {
    int port;
    Kind kind;
    std::uint16_t* bound;
  };
  std::vector<Wanted> wanted;
  if (config.socketPort >= 0) wanted.push_back({config.socketPort, Kind::kSocket, &socketPort_});
  if (config.vxi11Port >= 0) {
    wanted.push_back({config.vxi11Port, Kind::kCore, &vxi11Port_});
    wanted.push_back({0, Kind::kAbort, &abortPort_});
    if (config.portmapperPort >= 0) wanted.push_back({config.portmapperPort, Kind::kPortmapper, &portmapperPort_});
  }
  std::vector<std::pair<int, Kind>> loops;
  registeredHost_.clear();
  for (const Wanted& w : wanted) {
    const int fd = acceptor.Listen(config.host, static_cast<std::uint16_t>(w.port), false, *w.bound, error);
    if (fd < 0 && w.kind == Kind::kPortmapper && w.port == 111 && error.find("in use") != std::string::npos) {
      // A system portmapper holds port 111: the channels are mapped there instead.
      std::string why;
      if (detail::RegisterWithPortmapper(config.host, {vxi11Port_, abortPort_, 0}, true, why)) {
        registeredHost_ = config.host;
        portmapperPort_ = 111;
        acceptor.Log("port 111 is taken: the VXI-11 channels are registered with the system's portmapper");
        error.clear();
        continue;
      }
      error += "; registering with the portmapper there failed too: " + why;
    }
    if (fd < 0) {
      acceptor.Stop();
      return false;
    }
    loops.emplace_back(fd, w.kind);
    if (w.kind == Kind::kPortmapper) {
      // The portmapper answers on UDP too, where discovery and many clients ask; a server on
      // one address of a network also takes the broadcasts to it.
      const detail::Vxi11Ports ports{vxi11Port_, abortPort_, portmapperPort_};
      std::uint16_t udpPort = 0;
      const int udp = acceptor.Listen(config.host, *w.bound, true, udpPort, error);
      if (udp >= 0) {
        acceptor.Spawn([&acceptor, ports, udp] { detail::ServeUdpPortmapper(acceptor, ports, udp, udp); });
        std::string ignored;
        const bool specific = config.host != "0.0.0.0" && config.host.rfind("127.", 0) != 0;
        const int any = specific ? acceptor.Listen("0.0.0.0", *w.bound, true, udpPort, ignored) : -1;
        if (any >= 0) acceptor.Spawn([&acceptor, ports, any, udp] { detail::ServeUdpPortmapper(acceptor, ports, any, udp); });
      }
      error.clear();
    }
  }
  // Every port is bound before the first client is taken, so each server knows the others'.
  const std::string unit = config.unit;
  const detail::Vxi11Ports ports{vxi11Port_, abortPort_, portmapperPort_};
  detail::Vxi11Server& vxi11 = parts_->vxi11;
  detail::DeviceLock& lock = parts_->lock;
  for (const auto& [fd, kind] : loops) {
    switch (kind) {
      case Kind::kSocket:
        acceptor.Accept(fd, [&acceptor, &lock, unit](net::TcpConnection& c) { detail::ServeSocket(acceptor, lock, unit, c); });
        break;
      case Kind::kCore:
        acceptor.Accept(fd, [&vxi11, unit, abort = ports.abort](net::TcpConnection& c) {
          vxi11.ServeCore(c, unit, abort);
        });
        break;
      case Kind::kAbort:
        acceptor.Accept(fd, [&vxi11](net::TcpConnection& c) { vxi11.ServeAbort(c); });
        break;
      case Kind::kPortmapper:
        acceptor.Accept(fd, [&acceptor, ports](net::TcpConnection& c) { detail::ServePortmapper(acceptor, ports, c); });
        break;
    }
  }
  acceptor.Log("serving " + config.unit + ": socket " + std::to_string(socketPort_) + ", VXI-11 core " +
               std::to_string(vxi11Port_) + ", abort " + std::to_string(abortPort_) + ", portmapper " +
               (portmapperPort_ ? std::to_string(portmapperPort_) : std::string("none")));
  return true;
}

void Servers::Stop() {
  if (!registeredHost_.empty()) {
    std::string ignored;
    detail::RegisterWithPortmapper(registeredHost_, {vxi11Port_, abortPort_, 0}, false, ignored);
    registeredHost_.clear();
  }
  parts_->acceptor.Stop();
}

}  // namespace sim

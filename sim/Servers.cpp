#include "sim/Servers.h"

#include "sim/ServerParts.h"

namespace sim {

struct Servers::Parts {
  detail::Acceptor acceptor;
  detail::Vxi11Server vxi11{acceptor};
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
  for (const Wanted& w : wanted) {
    const int fd = acceptor.Listen(config.host, static_cast<std::uint16_t>(w.port), false, *w.bound, error);
    if (fd < 0) {
      acceptor.Stop();
      return false;
    }
    loops.emplace_back(fd, w.kind);
    if (w.kind == Kind::kPortmapper) {
      // The portmapper answers on UDP too, where discovery and many clients ask.
      std::uint16_t udpPort = 0;
      const int udp = acceptor.Listen(config.host, *w.bound, true, udpPort, error);
      if (udp >= 0)
        acceptor.Spawn([&acceptor, ports = detail::Vxi11Ports{vxi11Port_, abortPort_}, udp] {
          detail::ServeUdpPortmapper(acceptor, ports, udp);
        });
    }
  }
  // Every port is bound before the first client is taken, so each server knows the others'.
  const std::string unit = config.unit;
  const detail::Vxi11Ports ports{vxi11Port_, abortPort_};
  detail::Vxi11Server& vxi11 = parts_->vxi11;
  for (const auto& [fd, kind] : loops) {
    switch (kind) {
      case Kind::kSocket:
        acceptor.Accept(fd, [&acceptor, unit](net::TcpConnection& c) { detail::ServeSocket(acceptor, unit, c); });
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
               std::to_string(portmapperPort_));
  return true;
}

void Servers::Stop() { parts_->acceptor.Stop(); }

}  // namespace sim

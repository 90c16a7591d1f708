// The simulated unit on the network: a raw SCPI socket server and a VXI-11
// server (core and abort channels) with a portmapper of its own.  Several
// clients at once, each on a thread of its own; all stop with Stop().
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/Tcp.h"

namespace sim {

class Servers {
 public:
  struct Config {
    std::string host = "127.0.0.1";
    int socketPort = 5025;      // 0: any free port, -1: no socket server
    int vxi11Port = 0;          // core channel; 0: any free port, -1: no VXI-11 server
    int portmapperPort = 111;   // 0: any free port, -1: none
    std::string unit = "Zentrix8";
    std::size_t maxClients = 64;  // connections served at once; more are refused
    int idleSeconds = 300;        // a connection silent this long is dropped
    std::function<void(const std::string&)> log;  // connections and commands, when set
  };

  Servers();
  ~Servers();
  Servers(const Servers&) = delete;
  Servers& operator=(const Servers&) = delete;

  // False, with the reason, when a port cannot be opened.
  bool Start(const Config& config, std::string& error);
  void Stop();
  std::uint16_t SocketPort() const { return socketPort_; }
  std::uint16_t Vxi11Port() const { return vxi11Port_; }
  std::uint16_t AbortPort() const { return abortPort_; }
  std::uint16_t PortmapperPort() const { return portmapperPort_; }
  // True when port 111 was taken and the channels are mapped at the system's portmapper.
  bool RegisteredWithSystemPortmapper() const { return !registeredHost_.empty(); }
  long Connections() const;

 private:
  struct Parts;  // the acceptor and the protocol servers
  std::unique_ptr<Parts> parts_;
  std::uint16_t socketPort_ = 0, vxi11Port_ = 0, abortPort_ = 0, portmapperPort_ = 0;
  std::string registeredHost_;  // where the channels are mapped at the system's portmapper
};

}  // namespace sim

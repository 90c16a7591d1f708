// What sim::Servers is made of: the acceptor every protocol shares, and the
// raw socket, VXI-11 and portmapper servers that run on its threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/Tcp.h"

namespace sim::detail {

inline constexpr net::Millis kSendTimeout{2000};  // a client that takes nothing this long is dropped

// A message or answer as the log shows it: one line, at most 200 characters.
inline std::string Shown(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 200)) out += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
  if (text.size() > 200) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

// Listening sockets, their accept loops and the client threads, with a pipe
// that wakes every wait when the servers stop.
class Acceptor {
 public:
  using Serve = std::function<void(net::TcpConnection&)>;
  struct Limits {
    std::size_t maxClients = 64;  // connections served at once; more are refused
    int idleMs = 300000;          // a connection silent this long is dropped
  };

  Acceptor() = default;
  ~Acceptor() { Stop(); }
  Acceptor(const Acceptor&) = delete;
  Acceptor& operator=(const Acceptor&) = delete;

  // Ready to serve (again); false, with the reason, when the stop pipe cannot be made.
  bool Open(std::function<void(const std::string&)> log, std::string& error, Limits limits);
  // A socket kept open until Stop: its descriptor, or -1 with the reason.
  int Listen(const std::string& host, std::uint16_t port, bool udp, std::uint16_t& bound, std::string& error);
  // Accepts on `listenFd` until the servers stop, serving each client on a thread of its own.
  void Accept(int listenFd, Serve serve);
  // Runs `work` on a thread of its own; false (logged) when no thread can be started.
  bool Spawn(std::function<void()> work);
  // Wakes every thread, joins them and closes the sockets; more than one thread may ask.
  void Stop();

  bool Stopping() const { return stopping_; }
  // Waits until fd is readable or the servers stop; false when stopping.
  bool WaitReadable(int fd, int timeoutMs) const;
  void Log(const std::string& line) const;
  long Connections() const { return connections_; }
  int IdleMs() const { return limits_.idleMs; }

 private:
  void AcceptLoop(int listenFd, const Serve& serve);
  // Sleeps `ms` unless the servers stop first; false when stopping.
  bool Pause(int ms) const;

  std::mutex stopMutex_;
  std::function<void(const std::string&)> log_;
  std::vector<net::Fd> listeners_;
  net::Fd stopRead_, stopWrite_;
  std::atomic<bool> stopping_{false};
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex threadsMutex_;
  std::vector<Worker> threads_;  // finished ones are joined when the next one starts
  std::atomic<long> connections_{0};
  Limits limits_;
  std::mutex clientsMutex_;
  std::vector<int> clients_;  // live client sockets: shut down at Stop so no read holds a thread
};

// Answers RPC calls on a TCP connection, one record each, until the client
// goes, the servers stop or `answer` has nothing to say (an empty reply).
void ServeRpc(const Acceptor& acceptor, net::TcpConnection& c, const std::function<std::string(std::string_view)>& answer);

// The raw SCPI socket: lines, and firmware blocks taken whole.
void ServeSocket(Acceptor& acceptor, const std::string& unit, net::TcpConnection& c);

// The VXI-11 core and abort channels.  Links are numbered across clients, and an
// abort on its own channel ends the read in progress on that link.
class Vxi11Server {
 public:
  explicit Vxi11Server(Acceptor& acceptor) : acceptor_(acceptor) {}
  static constexpr std::size_t kMaxLinksPerConnection = 16;
  void ServeCore(net::TcpConnection& c, const std::string& unit, std::uint16_t abortPort);
  void ServeAbort(net::TcpConnection& c);

 private:
  // A link: its own input and answers, and whether an abort ends its read.
  struct Link;
  std::shared_ptr<Link> NewLink(const std::string& unit);
  void DropLink(int id);
  // An abort for a link whose read is in progress ends that read; at any
  // other time it is answered and forgotten.  False for an unknown link.
  bool Abort(int id);

  Acceptor& acceptor_;
  std::mutex linksMutex_;
  int nextLink_ = 1;
  std::vector<std::shared_ptr<Link>> links_;  // every live link of every connection
};

// The portmapper: where the VXI-11 channels listen, over TCP and UDP.
struct Vxi11Ports {
  std::uint16_t core = 0;
  std::uint16_t abort = 0;
  std::uint16_t portmapper = 0;  // this portmapper's own port (0: none of its own)
};
std::string PortmapperReply(std::string_view call, Vxi11Ports ports);
void ServePortmapper(const Acceptor& acceptor, Vxi11Ports ports, net::TcpConnection& c);
// Answers on `fd`; replies go out through `replyFd` (the socket bound to the
// server's own address when `fd` takes broadcasts for any address).
void ServeUdpPortmapper(const Acceptor& acceptor, Vxi11Ports ports, int fd, int replyFd);
// Maps (or with set false unmaps) the VXI-11 channels at the system's
// portmapper on host:111; false with the reason.
bool RegisterWithPortmapper(const std::string& host, Vxi11Ports ports, bool set, std::string& error);

}  // namespace sim::detail

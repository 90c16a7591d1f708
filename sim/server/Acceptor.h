// What every server of the simulated unit stands on: the listening sockets,
// their accept loops and the client threads, with a wake-up that ends every
// wait when the servers stop.
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
#include "net/WakeUp.h"

namespace sim::detail {

inline constexpr net::Millis kSendTimeout{2000};  // a client that takes nothing this long is dropped

// A message or answer as the log shows it: one line, at most 200 characters.
inline std::string Shown(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 200)) out += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
  if (text.size() > 200) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

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

  // Ready to serve (again); false, with the reason, when the wake-up cannot be made.
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
  const std::atomic<bool>& StopFlag() const { return stopping_; }
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
  net::WakeUp stop_;
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

}  // namespace sim::detail

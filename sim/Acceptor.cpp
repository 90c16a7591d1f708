#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <system_error>

#include "net/Xdr.h"
#include "sim/ServerParts.h"

namespace sim::detail {

bool Acceptor::Open(std::function<void(const std::string&)> log, std::string& error, Limits limits) {
  log_ = std::move(log);
  limits_ = limits;
  stopping_ = false;
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  stopRead_ = net::Fd(pipe[0]);
  stopWrite_ = net::Fd(pipe[1]);
  return true;
}

int Acceptor::Listen(const std::string& host, std::uint16_t port, bool udp, std::uint16_t& bound, std::string& error) {
  net::Fd fd = net::Listen(host, port, error, bound, udp);
  if (!fd) return -1;
  const int raw = fd.get();
  listeners_.push_back(std::move(fd));
  return raw;
}

void Acceptor::Stop() {
  std::lock_guard stopLock(stopMutex_);
  stopping_ = true;
  if (stopWrite_) {
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopWrite_.get(), &b, 1);
  }
  {
    // A client that trickles bytes must not hold its thread past the stop.
    std::lock_guard lock(clientsMutex_);
    for (int fd : clients_) ::shutdown(fd, SHUT_RDWR);
  }
  std::vector<Worker> threads;
  {
    std::lock_guard lock(threadsMutex_);
    threads.swap(threads_);
  }
  for (auto& w : threads)
    if (w.thread.joinable()) w.thread.join();
  listeners_.clear();
  stopRead_.Reset();
  stopWrite_.Reset();
}

bool Acceptor::Spawn(std::function<void()> work) {
  std::lock_guard lock(threadsMutex_);
  // A server that runs for days sees many clients come and go: join the finished.
  for (auto it = threads_.begin(); it != threads_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = threads_.erase(it);
    } else {
      ++it;
    }
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    threads_.push_back({std::thread([work = std::move(work), done] {
                          work();
                          *done = true;
                        }),
                        done});
  } catch (const std::system_error& e) {
    Log(std::string("cannot start a thread: ") + e.what());
    return false;
  }
  return true;
}

bool Acceptor::Pause(int ms) const {
  pollfd p{stopRead_.get(), POLLIN, 0};
  while (::poll(&p, 1, ms) < 0 && errno == EINTR) {
  }
  return !stopping_;
}

void Acceptor::Log(const std::string& line) const {
  if (log_) log_(line);
}

bool Acceptor::WaitReadable(int fd, int timeoutMs) const {
  pollfd p[2] = {{fd, POLLIN, 0}, {stopRead_.get(), POLLIN, 0}};
  for (;;) {
    const int r = ::poll(p, 2, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (stopping_ || (p[1].revents & POLLIN)) return false;
    return r > 0;
  }
}

void Acceptor::Accept(int listenFd, Serve serve) {
  Spawn([this, listenFd, serve = std::move(serve)] { AcceptLoop(listenFd, serve); });
}

void Acceptor::AcceptLoop(int listenFd, const Serve& serve) {
  while (!Stopping()) {
    if (!WaitReadable(listenFd, -1)) return;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    net::Fd fd(::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC));
    if (!fd) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors: the client waits in the backlog until one is free.
        Log(std::string("accept: ") + std::strerror(errno) + "; waiting");
        if (!Pause(200)) return;
      }
      continue;
    }
    char ip[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
    const std::string name = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));
    {
      std::lock_guard lock(clientsMutex_);
      if (clients_.size() >= limits_.maxClients) {
        Log("refusing " + name + ": " + std::to_string(clients_.size()) + " clients are served (--max-clients)");
        continue;  // closed here
      }
      clients_.push_back(fd.get());
    }
    ++connections_;
    auto shared = std::make_shared<net::TcpConnection>();
    shared->Adopt(std::move(fd), name);
    const int raw = shared->Descriptor();
    auto untrack = [this, raw, shared] {
      std::lock_guard lock(clientsMutex_);
      clients_.erase(std::remove(clients_.begin(), clients_.end(), raw), clients_.end());
      shared->Close();  // closed only once nobody can shut it down by number
    };
    if (!Spawn([serve, shared, untrack] {
          serve(*shared);
          untrack();
        }))
      untrack();
  }
}

void ServeRpc(const Acceptor& acceptor, net::TcpConnection& c, const std::function<std::string(std::string_view)>& answer) {
  std::string record;
  while (!acceptor.Stopping() && (c.Buffered() || acceptor.WaitReadable(c.Descriptor(), acceptor.IdleMs()))) {
    if (net::rpc::ReceiveRecord(c, record, net::Millis(5000)) != net::TcpConnection::Result::kOk) return;
    const std::string reply = answer(record);
    if (reply.empty() || c.SendAll(net::rpc::Record(reply), kSendTimeout) != net::TcpConnection::Result::kOk) return;
  }
}

}  // namespace sim::detail

#include "sim/server/Acceptor.h"

#include <algorithm>
#include <system_error>

namespace sim::detail {

bool Acceptor::Open(std::function<void(const std::string&)> log, std::string& error, Limits limits) {
  log_ = std::move(log);
  limits_ = limits;
  stopping_ = false;
  return stop_.Open(error);
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
  stop_.Fire();
  {
    // A client that trickles bytes must not hold its thread past the stop.
    std::lock_guard lock(clientsMutex_);
    for (int fd : clients_) net::ShutDown(fd);
  }
  std::vector<Worker> threads;
  {
    std::lock_guard lock(threadsMutex_);
    threads.swap(threads_);
  }
  for (auto& w : threads)
    if (w.thread.joinable()) w.thread.join();
  listeners_.clear();
  stop_.Close();
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
  stop_.WaitReadable(-1, ms);
  return !stopping_;
}

void Acceptor::Log(const std::string& line) const {
  if (log_) log_(line);
}

bool Acceptor::WaitReadable(int fd, int timeoutMs) const {
  const net::WakeUp::Event e = stop_.WaitReadable(fd, timeoutMs);
  return !stopping_ && e == net::WakeUp::Event::kReadable;
}

void Acceptor::Accept(int listenFd, Serve serve) {
  Spawn([this, listenFd, serve = std::move(serve)] { AcceptLoop(listenFd, serve); });
}

void Acceptor::AcceptLoop(int listenFd, const Serve& serve) {
  while (!Stopping()) {
    if (!WaitReadable(listenFd, -1)) return;
    net::Accepted accepted = net::Accept(listenFd);
    if (!accepted.fd) {
      if (accepted.outOfResources) {
        // Out of descriptors: the client waits in the backlog until one is free.
        Log("accept: " + accepted.error + "; waiting");
        if (!Pause(200)) return;
      }
      continue;
    }
    net::Fd fd = std::move(accepted.fd);
    const std::string name = std::move(accepted.peer);
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

}  // namespace sim::detail

#include "sim/Servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

#include "core/Vb.h"
#include "sim/Zentrix8.h"
#include "net/Xdr.h"

namespace sim {

namespace {

namespace rpc = net::rpc;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxLine = 1u << 20;          // a command line longer than this is garbage
constexpr std::size_t kMaxBlock = 64u << 20;        // the largest firmware block taken
constexpr std::uint32_t kMaxRecvSize = 1u << 20;    // what one device_write may carry
constexpr net::Millis kSendTimeout{2000};          // a client that takes nothing this long is dropped


// The length of a firmware message at the start of `input` ("SYSTEM:FWUPDATE #<n><len><data>"):
// 0 when it is not one, npos while its header is still incomplete.
std::size_t BlockMessageLength(const std::string& input) {
  const std::string head = vb::Upper(std::string_view(input).substr(0, 40));
  const std::size_t at = head.find("SYSTEM:FWUPDATE #");
  if (at == std::string::npos || at > 1) return 0;
  const std::size_t hash = at + 16;
  if (input.size() < hash + 2) return std::string::npos;
  const int digits = input[hash + 1] - '0';
  if (digits < 1 || digits > 9) return 0;
  if (input.size() < hash + 2 + static_cast<std::size_t>(digits)) return std::string::npos;
  std::size_t length = 0;
  for (int i = 0; i < digits; ++i) {
    const char c = input[hash + 2 + static_cast<std::size_t>(i)];
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    length = length * 10 + static_cast<std::size_t>(c - '0');
  }
  return hash + 2 + static_cast<std::size_t>(digits) + length;
}

}  // namespace

bool Servers::Start(const Config& config, std::string& error) {
  Stop();
  config_ = config;
  stopping_ = false;
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  stopRead_ = net::Fd(pipe[0]);
  stopWrite_ = net::Fd(pipe[1]);
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
    net::Fd fd = net::Listen(config.host, static_cast<std::uint16_t>(w.port), error, *w.bound);
    if (!fd) {
      listeners_.clear();
      return false;
    }
    loops.emplace_back(fd.get(), w.kind);
    listeners_.push_back(std::move(fd));
    if (w.kind == Kind::kPortmapper) {
      // The portmapper answers on UDP too, where discovery and many clients ask.
      std::uint16_t udpPort = 0;
      net::Fd udp = net::Listen(config.host, *w.bound, error, udpPort, true);
      if (udp) {
        const int ufd = udp.get();
        listeners_.push_back(std::move(udp));
        Spawn([this, ufd] { UdpPortmapper(ufd); });
      }
    }
  }
  for (const auto& [fd, kind] : loops) Spawn([this, fd = fd, kind = kind] { AcceptLoop(fd, kind); });
  Log("serving " + config.unit + ": socket " + std::to_string(socketPort_) + ", VXI-11 core " + std::to_string(vxi11Port_) +
      ", abort " + std::to_string(abortPort_) + ", portmapper " + std::to_string(portmapperPort_));
  return true;
}

void Servers::Stop() {
  std::lock_guard stopLock(stopMutex_);
  stopping_ = true;
  if (stopWrite_) {
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopWrite_.get(), &b, 1);
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

void Servers::Spawn(std::function<void()> work) {
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
  threads_.push_back({std::thread([work = std::move(work), done] {
                        work();
                        *done = true;
                      }),
                      done});
}

void Servers::Log(const std::string& line) {
  if (config_.log) config_.log(line);
}

bool Servers::WaitReadable(int fd, int timeoutMs) const {
  pollfd p[2] = {{fd, POLLIN, 0}, {stopRead_.get(), POLLIN, 0}};
  for (;;) {
    const int r = ::poll(p, 2, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (stopping_ || (p[1].revents & POLLIN)) return false;
    return r > 0;
  }
}

void Servers::AcceptLoop(int listenFd, Kind kind) {
  while (!Stopping()) {
    if (!WaitReadable(listenFd, -1)) return;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    net::Fd fd(::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC));
    if (!fd) continue;
    char ip[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
    const std::string name = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));
    ++connections_;
    net::TcpConnection c;
    c.Adopt(std::move(fd), name);
    auto shared = std::make_shared<net::TcpConnection>(std::move(c));
    Spawn([this, kind, shared] {
      switch (kind) {
        case Kind::kSocket: return ServeSocket(std::move(*shared));
        case Kind::kCore: return ServeCore(std::move(*shared));
        case Kind::kAbort: return ServeAbort(std::move(*shared));
        case Kind::kPortmapper: return ServePortmapper(std::move(*shared));
      }
    });
  }
}

// --- raw SCPI socket -------------------------------------------------------------------

void Servers::ServeSocket(net::TcpConnection c) {
  Log("socket client " + c.Peer() + " connected");
  auto unit = Zentrix8::Instance(config_.unit);
  unit->Reconnect();
  std::string input;
  while (!Stopping()) {
    // Sleep until the client sends or an answer becomes ready.
    int wait = 200;
    if (const auto ready = unit->AnswerReadyAt())
      wait = static_cast<int>(std::clamp<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(*ready - Clock::now()).count(), 0, 200));
    if (c.Buffered() || WaitReadable(c.Descriptor(), wait)) {
      const auto got = c.ReceiveSome(input, 1 << 16, net::Millis(0));
      if (got != net::TcpConnection::Result::kOk && got != net::TcpConnection::Result::kTimeout) break;
      for (;;) {
        const std::size_t block = BlockMessageLength(input);
        if (block == std::string::npos) break;  // a block header still arriving
        if (block > 0) {
          if (block > kMaxBlock + 64) {
            Log("socket client " + c.Peer() + " sent a block too large; closing");
            return;
          }
          if (input.size() < block) break;
          unit->Write(std::string_view(input).substr(0, block), true);
          input.erase(0, block);
          if (unit->Rebooting()) {
            Log("the unit restarts after the firmware update; closing " + c.Peer());
            return;
          }
          if (!input.empty() && input.front() == '\n') input.erase(0, 1);
          continue;
        }
        const std::size_t lf = input.find('\n');
        if (lf == std::string::npos) {
          if (input.size() > kMaxLine) {
            Log("socket client " + c.Peer() + " sent a line without end; closing");
            return;
          }
          break;
        }
        const std::string line = input.substr(0, lf);
        input.erase(0, lf + 1);
        Log(c.Peer() + " > " + line.substr(0, 200));
        unit->Write(line, true);
      }
    } else if (Stopping()) {
      break;
    }
    if (unit->ConnectionDropped()) {
      Log("dropping " + c.Peer() + " as the fault knob asks");
      return;
    }
    // Whatever is ready goes out (one piece per turn, so a stream cannot hold the loop).
    if (const auto ready = unit->AnswerReadyAt(); ready && *ready <= Clock::now()) {
      const std::string out = unit->Read(1 << 16);
      if (!out.empty() && c.SendAll(out, kSendTimeout) != net::TcpConnection::Result::kOk) {
        Log("socket client " + c.Peer() + " takes no answers; closing");
        return;
      }
    }
  }
  Log("socket client " + c.Peer() + " gone");
}

// --- VXI-11 ---------------------------------------------------------------------------

void Servers::ServeCore(net::TcpConnection c) {
  Log("VXI-11 client " + c.Peer() + " connected");
  auto unit = Zentrix8::Instance(config_.unit);
  std::string record, data;
  std::string message;  // the link's message so far: the unit takes it whole, at END
  rpc::Writer reply;    // kept: a large answer does not allocate anew for every read
  std::vector<int> links;
  while (!Stopping()) {
    if (!c.Buffered() && !WaitReadable(c.Descriptor(), -1)) break;
    if (rpc::ReceiveRecord(c, record, net::Millis(5000)) != net::TcpConnection::Result::kOk) break;
    rpc::Reader call(record);
    const rpc::CallHeader h = rpc::ReadCall(call);
    const std::uint32_t xid = h.xid, prog = h.prog, vers = h.vers, proc = h.proc;
    reply.StartRecord();
    if (!call.ok() || !h.IsCall()) {
      Log("VXI-11 client " + c.Peer() + " sent garbage; closing");
      break;
    }
    if (prog != rpc::kDeviceCore || vers != rpc::kVxiVersion) {
      reply.Reply(xid, prog != rpc::kDeviceCore ? 1 : 2);
      if (prog == rpc::kDeviceCore) reply.U32(1).U32(1);
    } else {
      reply.Reply(xid);
      switch (proc) {
        case rpc::kCreateLink: {
          call.I32();
          call.U32();
          call.U32();
          const std::string device(call.Opaque(256));
          if (!call.ok()) {
            reply.StartRecord().Reply(xid, 4);
            break;
          }
          const int lid = nextLink_++;
          links.push_back(lid);
          unit->Reconnect();
          Log(c.Peer() + " linked to " + device + " as link " + std::to_string(lid));
          reply.I32(0).I32(lid).U32(abortPort_).U32(kMaxRecvSize);
          break;
        }
        case rpc::kDeviceWrite: {
          const std::int32_t lid = call.I32();
          call.U32();
          call.U32();
          const std::int32_t flags = call.I32();
          const std::string_view data = call.Opaque(kMaxRecvSize);
          if (!call.ok() || std::find(links.begin(), links.end(), lid) == links.end()) {
            reply.I32(call.ok() ? 4 : 5).U32(0);
            break;
          }
          if (message.size() + data.size() > kMaxBlock + 64) {
            message.clear();
            reply.I32(17).U32(0);  // I/O error: a message larger than the unit takes
            break;
          }
          message.append(data);
          if (flags & rpc::kFlagEnd) {
            if (message.size() < 200) Log(c.Peer() + " > " + message);
            unit->Write(message, true);
            message.clear();
          }
          if (unit->ConnectionDropped()) {
            Log("dropping " + c.Peer() + " as the fault knob asks");
            return;
          }
          reply.I32(0).U32(static_cast<std::uint32_t>(data.size()));
          if (unit->Rebooting()) {
            // The write that completed the firmware is acknowledged; then the unit restarts.
            c.SendAll(reply.FinishRecord(), kSendTimeout);
            Log("the unit restarts after the firmware update; closing " + c.Peer());
            return;
          }
          break;
        }
        case rpc::kDeviceRead: {
          const std::int32_t lid = call.I32();
          const std::uint32_t requestSize = call.U32(), ioTimeout = call.U32();
          call.U32();
          const std::int32_t flags = call.I32();
          call.U32();
          if (!call.ok() || std::find(links.begin(), links.end(), lid) == links.end()) {
            reply.I32(call.ok() ? 4 : 5).I32(0).Opaque("");
            break;
          }
          // Wait for an answer up to the client's time-out, unless the link is aborted.
          const auto deadline = Clock::now() + std::chrono::milliseconds(ioTimeout);
          bool aborted = false;
          for (;;) {
            {
              std::lock_guard lock(abortMutex_);
              const auto it = std::find(aborted_.begin(), aborted_.end(), lid);
              if (it != aborted_.end()) {
                aborted_.erase(it);
                aborted = true;
              }
            }
            const auto ready = unit->AnswerReadyAt();
            if (aborted || (ready && *ready <= Clock::now()) || Clock::now() >= deadline || Stopping()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
          if (aborted) {
            reply.I32(23).I32(0).Opaque("");
            break;
          }
          const std::size_t size = std::min<std::size_t>(requestSize, kMaxRecvSize);
          data.clear();
          unit->ReadInto(data, size, (flags & rpc::kFlagTermChar) != 0);
          if (data.empty()) {
            reply.I32(15).I32(0).Opaque("");
            break;
          }
          std::int32_t reason = 0;
          if (data.back() == '\n') reason |= rpc::kReasonEnd | ((flags & rpc::kFlagTermChar) ? rpc::kReasonChr : 0);
          else if (data.size() == size) reason |= rpc::kReasonReqCnt;
          reply.I32(0).I32(reason).Opaque(data);
          break;
        }
        case rpc::kDeviceReadStb:
          reply.I32(0).U32(0);
          break;
        case rpc::kDeviceClear:
          unit->Clear();
          reply.I32(0);
          break;
        case rpc::kDestroyLink: {
          const std::int32_t lid = call.I32();
          links.erase(std::remove(links.begin(), links.end(), lid), links.end());
          reply.I32(0);
          break;
        }
        case 14: case 16: case 17: case 18: case 19:  // trigger, remote, local, lock, unlock
          reply.I32(0);
          break;
        default:
          reply.I32(8);  // operation not supported
      }
    }
    if (c.SendAll(reply.FinishRecord(), kSendTimeout) != net::TcpConnection::Result::kOk) break;
  }
  Log("VXI-11 client " + c.Peer() + " gone");
}

void Servers::ServeAbort(net::TcpConnection c) {
  std::string record;
  while (!Stopping() && (c.Buffered() || WaitReadable(c.Descriptor(), -1))) {
    if (rpc::ReceiveRecord(c, record, net::Millis(5000)) != net::TcpConnection::Result::kOk) return;
    rpc::Reader call(record);
    const rpc::CallHeader h = rpc::ReadCall(call);
    const std::uint32_t xid = h.xid;
    rpc::Writer reply;
    if (!call.ok() || !h.IsCall()) return;
    if (h.prog != rpc::kDeviceAsync || h.proc != rpc::kDeviceAbort) {
      reply.Reply(xid, h.prog != rpc::kDeviceAsync ? 1 : 3);
    } else {
      const std::int32_t lid = call.I32();
      {
        std::lock_guard lock(abortMutex_);
        aborted_.push_back(lid);
      }
      Log("abort of link " + std::to_string(lid));
      reply.Reply(xid).I32(0);
    }
    if (c.SendAll(rpc::Record(reply.Bytes()), kSendTimeout) != net::TcpConnection::Result::kOk) return;
  }
}

std::string Servers::PortmapperReply(std::string_view bytes) {
  rpc::Reader call(bytes);
  const rpc::CallHeader h = rpc::ReadCall(call);
  if (!call.ok() || !h.IsCall()) return {};
  rpc::Writer reply;
  if (h.prog != rpc::kPortmapper) return reply.Reply(h.xid, 1).Bytes();
  if (h.proc == 0) return reply.Reply(h.xid).Bytes();  // NULL
  if (h.proc != rpc::kGetPort) return reply.Reply(h.xid, 3).Bytes();
  const std::uint32_t wantedProg = call.U32(), wantedVers = call.U32(), protocol = call.U32();
  std::uint32_t port = 0;
  if (wantedProg == rpc::kDeviceCore && wantedVers == rpc::kVxiVersion && protocol == 6) port = vxi11Port_;
  if (wantedProg == rpc::kDeviceAsync && wantedVers == rpc::kVxiVersion && protocol == 6) port = abortPort_;
  return reply.Reply(h.xid).U32(port).Bytes();
}

void Servers::ServePortmapper(net::TcpConnection c) {
  std::string record;
  while (!Stopping() && (c.Buffered() || WaitReadable(c.Descriptor(), -1))) {
    if (rpc::ReceiveRecord(c, record, net::Millis(5000)) != net::TcpConnection::Result::kOk) return;
    const std::string reply = PortmapperReply(record);
    if (reply.empty() || c.SendAll(rpc::Record(reply), kSendTimeout) != net::TcpConnection::Result::kOk) return;
  }
}

void Servers::UdpPortmapper(int fd) {
  char buf[1500];
  while (!Stopping() && WaitReadable(fd, -1)) {
    sockaddr_storage from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) continue;
    const std::string reply = PortmapperReply(std::string_view(buf, static_cast<std::size_t>(n)));
    if (!reply.empty()) ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
  }
}

}  // namespace sim

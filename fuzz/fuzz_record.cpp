// ONC RPC over TCP as the simulator's servers take it: the input is the byte
// stream a client sends.
//
//  1. Record marking: net::rpc::ReceiveRecord reads the stream from a socket
//     until it fails; the records and the way it ends must be what a plain
//     reading of the fragments gives.
//  2. XDR: every record is read with net::rpc::Reader (call header, words
//     and opaque data) from a buffer of exactly its size, and answered by the
//     portmapper (sim::detail::PortmapperReply).
//  3. The simulator's VXI-11 channels: the same stream goes to the abort
//     channel and then to the core channel of one Vxi11Server, each served on
//     a thread as the servers do, with this thread as the client: it sends
//     the stream, half-closes, and takes the replies until the server closes.
//     A device_read waits up to the time-out the client gives, so a run that
//     takes longer than kServeBudget is stopped as the servers are stopped.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "net/Tcp.h"
#include "net/Xdr.h"
#include "sim/server/Acceptor.h"
#include "sim/server/Portmapper.h"
#include "sim/server/Vxi11Server.h"
#include "sim/Zentrix8.h"

namespace {

namespace rpc = net::rpc;
using Result = net::TcpConnection::Result;
using Clock = std::chrono::steady_clock;

constexpr auto kServeBudget = std::chrono::milliseconds(200);
constexpr const char* kUnit = "FuzzRecord";
constexpr sim::detail::Vxi11Ports kPorts{1024, 1025};

std::uint32_t Word(std::string_view b, std::size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// The records of a stream by the rule of record marking, and how reading ends
// when the stream is closed after it.
struct Expected {
  std::vector<std::string> records;
  Result end = Result::kClosed;
};
Expected ExpectedRecords(std::string_view s) {
  Expected e;
  std::string record;
  std::size_t pos = 0;
  for (;;) {
    if (s.size() - pos < 4) return e;  // the stream ends within a marker
    const std::uint32_t m = Word(s, pos);
    pos += 4;
    const std::size_t length = m & 0x7fffffffu;
    if (record.size() + length > rpc::kMaxRecord) {
      e.end = Result::kError;
      return e;
    }
    if (s.size() - pos < length) return e;  // ... or within a fragment
    record.append(s.substr(pos, length));
    pos += length;
    if (m & 0x80000000u) {
      e.records.push_back(std::move(record));
      record.clear();
    }
  }
}

// A socket pair; the first end is handed to the code under test.
struct SocketPair {
  int fd[2] = {-1, -1};
  SocketPair() {
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd) == 0, "socketpair: %s", std::strerror(errno));
    const int size = 1 << 20;  // the kernel caps it; the input is smaller anyway
    ::setsockopt(fd[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(fd[0], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  ~SocketPair() {
    for (int f : fd)
      if (f >= 0) ::close(f);
  }
  net::TcpConnection TakeFirst() {
    net::TcpConnection c;
    c.Adopt(net::Fd(fd[0]), "fuzz client");
    fd[0] = -1;
    return c;
  }
  void CloseSecond() {
    ::close(fd[1]);
    fd[1] = -1;
  }
};

void CheckRecordMarking(std::string_view stream, std::vector<std::string>& records) {
  SocketPair pair;
  // All of it goes in before reading (the input is far below the socket's buffer).
  ::fcntl(pair.fd[1], F_SETFL, O_NONBLOCK);
  std::size_t sent = 0;
  while (sent < stream.size()) {
    const ssize_t n = ::send(pair.fd[1], stream.data() + sent, stream.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  stream = stream.substr(0, sent);
  pair.CloseSecond();
  net::TcpConnection c = pair.TakeFirst();
  const Expected expected = ExpectedRecords(stream);
  std::string record;
  Result r;
  // The stream is all there and closed behind: the time-out is never waited for.
  while ((r = rpc::ReceiveRecord(c, record, net::Millis(1000))) == Result::kOk) {
    FUZZ_CHECK(records.size() < expected.records.size(), "ReceiveRecord found more records (%zu) than there are",
               records.size() + 1);
    FUZZ_CHECK(record == expected.records[records.size()], "record %zu: %zu bytes received, %zu sent", records.size(),
               record.size(), expected.records[records.size()].size());
    records.push_back(record);
  }
  FUZZ_CHECK(records.size() == expected.records.size(), "ReceiveRecord found %zu records of %zu", records.size(),
             expected.records.size());
  FUZZ_CHECK(r == expected.end, "reading ended with %d, expected %d (%s)", static_cast<int>(r),
             static_cast<int>(expected.end), c.Error().c_str());
}

void CheckXdr(const std::string& record) {
  // A buffer of exactly the record's size, so any read past it is caught.
  const std::unique_ptr<char[]> exact(new char[record.size() + 1]);
  std::memcpy(exact.get(), record.data(), record.size());
  const std::string_view bytes(exact.get(), record.size());
  const auto inside = [&](std::string_view v) {
    return v.empty() || (v.data() >= bytes.data() && v.data() + v.size() <= bytes.data() + bytes.size());
  };

  rpc::Reader r(bytes);
  const rpc::CallHeader h = rpc::ReadCall(r);
  // The rest as a sequence of words and opaque data, till it runs out.
  for (int i = 0; r.ok() && i < 4096; ++i) {
    if (i % 3 == 2) {
      const std::size_t max = i % 2 ? 400 : rpc::kMaxRecord;
      const std::string_view v = r.Opaque(max);
      FUZZ_CHECK(inside(v) && v.size() <= max, "Opaque gave %zu bytes outside the record", v.size());
    } else {
      r.U32();
    }
  }

  // Writing and reading back gives the same data.
  rpc::Writer w;
  w.U32(h.xid).Opaque(bytes).I32(-1);
  FUZZ_CHECK(w.Bytes().size() % 4 == 0, "XDR data of %zu bytes is not padded to 4", w.Bytes().size());
  rpc::Reader back(w.Bytes());
  FUZZ_CHECK(back.U32() == h.xid && back.Opaque() == bytes && back.I32() == -1 && back.ok(),
             "an XDR round trip of %zu bytes lost data", bytes.size());
  back.U32();
  FUZZ_CHECK(!back.ok(), "the reader read past its data");

  const std::string reply = sim::detail::PortmapperReply(bytes, kPorts);
  if (!reply.empty()) {
    FUZZ_CHECK(reply.size() % 4 == 0 && reply.size() >= 24, "a portmapper reply of %zu bytes", reply.size());
    FUZZ_CHECK(Word(reply, 0) == h.xid, "the portmapper replied to another call");
  }
}

// Serves one connection with `serve` on a thread of `acceptor`, playing the
// client here: sends `stream`, half-closes, takes replies until the server
// closes its end or the budget is spent.  The server is stopped then.
void Serve(sim::detail::Acceptor& acceptor, std::string_view stream, std::function<void(net::TcpConnection&)> serve) {
  std::string error;
  FUZZ_CHECK(acceptor.Open({}, error, {}), "Acceptor::Open: %s", error.c_str());
  SocketPair pair;
  auto server = std::make_shared<net::TcpConnection>(pair.TakeFirst());
  FUZZ_CHECK(acceptor.Spawn([serve = std::move(serve), server] {
               serve(*server);
               server->Close();  // the client sees the end
             }),
             "no thread for the server");
  const int fd = pair.fd[1];
  ::fcntl(fd, F_SETFL, O_NONBLOCK);
  const auto deadline = Clock::now() + kServeBudget;
  std::size_t sent = 0;
  bool sending = true;
  char buf[65536];
  for (;;) {
    if (sending && sent == stream.size()) {
      ::shutdown(fd, SHUT_WR);
      sending = false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
    const int n = ::poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (sending && (p.revents & (POLLOUT | POLLERR))) {
      const ssize_t w = ::send(fd, stream.data() + sent, std::min<std::size_t>(stream.size() - sent, 65536), MSG_NOSIGNAL);
      if (w > 0) sent += static_cast<std::size_t>(w);
      else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) sending = false;  // the server went
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
      if (got == 0) break;  // the server closed its end
      if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
    }
  }
  pair.CloseSecond();  // a server blocked in a send sees the client gone
  acceptor.Stop();     // ... and one waiting for an answer sees the servers stop
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view stream(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> records;
  CheckRecordMarking(stream, records);
  for (const std::string& record : records) CheckXdr(record);
  if (fuzz::TooManyMeasurements(stream)) return 0;  // the servers would only measure for long

  const std::shared_ptr<sim::Zentrix8> unit = sim::Zentrix8::Replace(kUnit);
  unit->SetTimeScale(0);
  unit->SetRebootSeconds(0);
  sim::detail::Acceptor acceptor;
  sim::detail::DeviceLock lock(acceptor.StopFlag());
  sim::detail::Vxi11Server vxi11(acceptor, lock);
  // One connection to each channel, one after the other (an abort only counts
  // while its link's read is in progress, which needs the two at once; not here,
  // so the runs stay repeatable).
  Serve(acceptor, stream, [&vxi11](net::TcpConnection& c) { vxi11.ServeAbort(c); });
  Serve(acceptor, stream, [&vxi11](net::TcpConnection& c) { vxi11.ServeCore(c, kUnit, kPorts.abort); });
  return 0;
}

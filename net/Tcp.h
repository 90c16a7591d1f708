// A TCP connection with deadlines: connect, send and receive each give up
// after their time-out and say why in words a person can act on.
#pragma once

#include <chrono>
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Export.h"

namespace net {

using Millis = std::chrono::milliseconds;

// Owns a socket descriptor; closes it when destroyed.
class QUORVEL_API Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(); }
  void Reset();
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Bytes received and not yet handed out; taking from the front is cheap.
class ByteQueue {
 public:
  bool empty() const { return head_ == data_.size(); }
  std::size_t size() const { return data_.size() - head_; }
  std::size_t find(char c) const {
    const std::size_t at = data_.find(c, head_);
    return at == std::string::npos ? at : at - head_;
  }
  void append(std::string_view bytes) {
    if (head_ > 0 && head_ >= data_.size() / 2) {  // drop what was taken before growing
      data_.erase(0, head_);
      head_ = 0;
    }
    data_.append(bytes);
  }
  std::string take(std::size_t n) {
    n = std::min(n, size());
    std::string out = data_.substr(head_, n);
    head_ += n;
    if (head_ == data_.size()) clear();
    return out;
  }
  std::string_view view() const { return std::string_view(data_).substr(head_); }
  // The first n bytes appended to `out` instead (a caller that keeps its buffer).
  void takeInto(std::string& out, std::size_t n) {
    n = std::min(n, size());
    out.append(data_, head_, n);
    head_ += n;
    if (head_ == data_.size()) clear();
  }
  void clear() {
    data_.clear();
    head_ = 0;
  }

 private:
  std::string data_;
  std::size_t head_ = 0;
};

class QUORVEL_API TcpConnection {
 public:
  enum class Result { kOk, kTimeout, kClosed, kError };

  // Connects within `timeout`; on failure the connection is not open and
  // Error() says why ("connection refused by 127.0.0.1:5025", ...).
  bool Connect(const std::string& host, std::uint16_t port, Millis timeout);
  void Close() {
    fd_.Reset();
    inbuf_.clear();
  }
  // Takes over an accepted socket (made non-blocking here).
  void Adopt(Fd fd, std::string peer);
  int Descriptor() const { return fd_.get(); }
  bool IsOpen() const { return static_cast<bool>(fd_); }

  Result SendAll(std::string_view data, Millis timeout);
  // Receives what is there (at least one byte) into `out`, appending.
  Result ReceiveSome(std::string& out, std::size_t max, Millis timeout);
  // Receives exactly `n` bytes, appending.
  Result ReceiveExactly(std::string& out, std::size_t n, Millis timeout);
  // Bytes received ahead of what was asked for, waiting to be read.
  bool Buffered() const { return !inbuf_.empty(); }
  std::string_view BufferedBytes() const { return inbuf_.view(); }
  const std::string& Error() const { return error_; }
  const std::string& Peer() const { return peer_; }

 private:
  Result Fail(Result r, const std::string& why);
  bool AllowReceiveWait(Millis left);
  Fd fd_;
  // A connection we made waits for answers in the receive itself (one system
  // call, as a plain blocking client does) with this much time allowed; an
  // accepted one stays non-blocking for its server's poll loop.
  bool waitsInReceive_ = false;
  Millis receiveWait_{0};
  ByteQueue inbuf_;  // received beyond what was asked for; taken from the front cheaply
  std::string peer_;
  std::string error_;
};

// A listening socket on `host` (e.g. "127.0.0.1"), port 0 = any free port.
QUORVEL_API Fd Listen(const std::string& host, std::uint16_t port, std::string& error, std::uint16_t& bound, bool udp = false);

// A connection taken from a listening socket, or why none was.
struct Accepted {
  Fd fd;
  std::string peer;             // "10.0.0.7:50312"
  bool outOfResources = false;  // no descriptor or memory for it: the client waits in the backlog
  std::string error;
};
QUORVEL_API Accepted Accept(int listenFd);

// The local IPv4 address of a connected socket ("192.0.2.7"; "" when it has none).
QUORVEL_API std::string LocalAddress(int fd);

// Ends both directions of a socket another thread may be blocked on; the
// descriptor stays open until its owner closes it.
QUORVEL_API void ShutDown(int fd);

}  // namespace net

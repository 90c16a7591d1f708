// XDR encoding and ONC RPC record marking, as VXI-11 and the portmapper use
// them: every field a 32-bit big-endian word, opaque data padded to 4.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/Tcp.h"
#include "net/Vxi11.h"

namespace net::rpc {

// What an accepted call came to (the word after the verifier of a reply).
enum AcceptStat : std::uint32_t {
  kSuccess = 0,
  kProgramUnavailable = 1,
  kProgramMismatch = 2,   // followed by the lowest and highest version offered
  kProcedureUnavailable = 3,
  kGarbageArguments = 4,
};

inline constexpr std::uint32_t kPortmapper = 100000, kPortmapperVersion = 2;
enum PortmapperProcedure : std::uint32_t {
  kPortmapperNull = 0,
  kPortmapperSet = 1,
  kPortmapperUnset = 2,
  kGetPort = 3,
  kPortmapperDump = 4,
  kPortmapperCallIt = 5,
};
// The protocol numbers a mapping names.
inline constexpr std::uint32_t kProtocolTcp = 6, kProtocolUdp = 17;

inline constexpr std::uint32_t kDeviceCore = 0x0607AF, kDeviceAsync = 0x0607B0, kVxiVersion = 1;
// The interrupt channel: the device calls the client's device_intr_srq.
inline constexpr std::uint32_t kDeviceInterrupt = 0x0607B1, kDeviceIntrSrq = 30;
// The VXI-11 procedures by the names the callers of rpc give them.
using enum vxi11::Procedure;
inline constexpr std::int32_t kFlagWaitLock = 0x01, kFlagEnd = 0x08, kFlagTermChar = 0x80;
inline constexpr std::int32_t kReasonReqCnt = 1, kReasonChr = 2, kReasonEnd = 4;
inline constexpr std::size_t kMaxRecord = 80u << 20;  // a record larger than this is refused

class Writer {
 public:
  Writer& U32(std::uint32_t v) {
    const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
    buf_.append(b, 4);
    return *this;
  }
  Writer& I32(std::int32_t v) { return U32(static_cast<std::uint32_t>(v)); }
  Writer& Opaque(std::string_view data) {
    U32(static_cast<std::uint32_t>(data.size()));
    buf_.append(data);
    buf_.append((4 - data.size() % 4) % 4, '\0');
    return *this;
  }
  // An RPC call header (no credentials).
  Writer& Call(std::uint32_t xid, std::uint32_t prog, std::uint32_t vers, std::uint32_t proc) {
    return U32(xid).U32(0).U32(2).U32(prog).U32(vers).U32(proc).U32(0).U32(0).U32(0).U32(0);
  }
  // An accepted, successful RPC reply header.
  Writer& Reply(std::uint32_t xid, std::uint32_t acceptStat = kSuccess) { return U32(xid).U32(1).U32(0).U32(0).U32(0).U32(acceptStat); }
  const std::string& Bytes() const { return buf_; }
  Writer& Raw(std::string_view bytes) {
    buf_.append(bytes);
    return *this;
  }
  void Clear() { buf_.clear(); }
  // For a writer kept across records (its buffer stays allocated): start a
  // record with room for its marker, and fill the marker in at the end.
  Writer& StartRecord() {
    buf_.clear();
    return U32(0);
  }
  const std::string& FinishRecord() {
    const std::uint32_t m = 0x80000000u | static_cast<std::uint32_t>(buf_.size() - 4);
    buf_[0] = static_cast<char>(m >> 24);
    buf_[1] = static_cast<char>(m >> 16);
    buf_[2] = static_cast<char>(m >> 8);
    buf_[3] = static_cast<char>(m);
    return buf_;
  }

 private:
  std::string buf_;
};

class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}
  std::uint32_t U32() {
    if (pos_ + 4 > data_.size()) {
      ok_ = false;
      return 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(data_.data() + pos_);
    pos_ += 4;
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
  }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  std::string_view Opaque(std::size_t max = kMaxRecord) {
    const std::uint32_t n = U32();
    const std::size_t padded = (static_cast<std::size_t>(n) + 3) / 4 * 4;
    if (!ok_ || n > max || pos_ + padded > data_.size()) {
      ok_ = false;
      return {};
    }
    const std::string_view out = data_.substr(pos_, n);
    pos_ += padded;
    return out;
  }
  bool ok() const { return ok_; }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// The header of an RPC call, credentials and verifier read past.
struct CallHeader {
  std::uint32_t xid = 0, type = 0, rpcVersion = 0, prog = 0, vers = 0, proc = 0;
  bool IsCall() const { return type == 0 && rpcVersion == 2; }
};
inline CallHeader ReadCall(Reader& r) {
  CallHeader h;
  h.xid = r.U32();
  h.type = r.U32();
  h.rpcVersion = r.U32();
  h.prog = r.U32();
  h.vers = r.U32();
  h.proc = r.U32();
  r.U32();
  r.Opaque(400);  // credential
  r.U32();
  r.Opaque(400);  // verifier
  return h;
}

// One record as one last fragment.
inline std::string Record(std::string_view payload) {
  Writer w;
  w.U32(0x80000000u | static_cast<std::uint32_t>(payload.size()));
  return w.Bytes() + std::string(payload);
}

// Whether `bytes` begin with a whole record (all its fragments).
inline bool HoldsWholeRecord(std::string_view bytes) {
  while (bytes.size() >= 4) {
    const std::uint32_t m = Reader(bytes.substr(0, 4)).U32();
    const std::size_t length = m & 0x7fffffffu;
    if (bytes.size() - 4 < length) return false;
    if (m & 0x80000000u) return true;
    bytes.remove_prefix(4 + length);
  }
  return false;
}

// Reads one whole record (all its fragments) within `timeout` for the whole
// record: fragments that trickle in (even empty ones) do not buy more time.
// kError when it is too large.
inline TcpConnection::Result ReceiveRecord(TcpConnection& c, std::string& record, Millis timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  const auto left = [&] { return std::max(Millis(0), std::chrono::duration_cast<Millis>(deadline - Clock::now())); };
  record.clear();
  std::string marker;
  for (;;) {
    marker.clear();
    TcpConnection::Result r = c.ReceiveExactly(marker, 4, left());
    if (r != TcpConnection::Result::kOk) return r;
    const std::uint32_t m = Reader(marker).U32();
    const std::size_t length = m & 0x7fffffffu;
    if (record.size() + length > kMaxRecord) return TcpConnection::Result::kError;
    r = c.ReceiveExactly(record, length, left());
    if (r != TcpConnection::Result::kOk) return r;
    if (m & 0x80000000u) return TcpConnection::Result::kOk;
    if (left() == Millis(0)) return TcpConnection::Result::kTimeout;
  }
}

}  // namespace net::rpc

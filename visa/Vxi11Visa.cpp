// VXI-11 over ONC RPC: the portmapper gives the core channel, create_link a
// link; device_write and device_read carry the messages; destroy_link ends it.
// A shared unit's operations: device_lock/unlock, device_clear,
// device_readstb, and service requests over an interrupt channel the unit
// connects back to.

#include <deque>
#include <thread>

#include "core/Vb.h"
#include "net/Tcp.h"
#include "visa/Network.h"
#include "net/Vxi11.h"
#include "platform/System.h"
#include "net/Xdr.h"

namespace visa {

namespace {

using Clock = std::chrono::steady_clock;
namespace vxi11 = net::vxi11;

std::string Vxi11ErrorText(std::int32_t code) {
  switch (code) {
    case vxi11::kSyntaxError: return "syntax error";
    case vxi11::kDeviceNotAccessible: return "device not accessible";
    case vxi11::kInvalidLinkIdentifier: return "invalid link identifier";
    case vxi11::kParameterError: return "parameter error";
    case vxi11::kChannelNotEstablished: return "channel not established";
    case vxi11::kOperationNotSupported: return "operation not supported";
    case vxi11::kOutOfResources: return "out of resources";
    case vxi11::kDeviceLockedByAnotherLink: return "device locked by another link";
    case vxi11::kNoLockHeldByThisLink: return "no lock held by this link";
    case vxi11::kIoTimeout: return "I/O timeout";
    case vxi11::kIoError: return "I/O error";
    case vxi11::kInvalidAddress: return "invalid address";
    case vxi11::kAbort: return "abort";
    case vxi11::kChannelAlreadyEstablished: return "channel already established";
    default: return "error " + std::to_string(code);
  }
}

// The VISA status of a failed call.
long StatusOf(std::int32_t code) {
  switch (code) {
    case vxi11::kIoTimeout: return visa::kVisaErrorTimeout;
    case vxi11::kDeviceLockedByAnotherLink: return visa::kVisaErrorResourceLocked;
    case vxi11::kAbort: return visa::kVisaErrorAbort;
    default: return visa::kVisaErrorIo;
  }
}

class Vxi11Visa : public visa::VisaSessionBase {
 public:
  ~Vxi11Visa() override { Close(); }

  void Open() override {
    Close();
    TcpipResource r;
    std::string error;
    if (!ParseTcpip(resource(), r, error)) return Refuse(error);
    std::uint16_t port = r.port;
    if (port == 0 && !AskPortmapper(r.host, port, error)) return Refuse(error);
    if (!core_.Connect(r.host, port, options_.openTimeout)) return Refuse(core_.Error());
    rpc::Writer args;
    args.I32(static_cast<std::int32_t>(platform::ProcessId())).U32(0).U32(0).Opaque(r.device);
    rpc::Reader reply("");
    if (!Call(rpc::kCreateLink, args, reply, options_.timeout)) return Refuse(error_);
    const std::int32_t err = reply.I32();
    lid_ = reply.I32();
    abortPort_ = static_cast<std::uint16_t>(reply.U32());
    host_ = r.host;
    maxRecvSize_ = std::max<std::uint32_t>(1024, reply.U32());
    if (!reply.ok() || err != vxi11::kNoError) {
      core_.Close();
      return Refuse("the unit refused the link to '" + r.device + "': " + Vxi11ErrorText(err));
    }
    linked_ = true;
    Succeed();
  }

  void Close() override {
    ahead_.clear();
    if (linked_ && core_.IsOpen()) Collect(0);
    inFlight_.clear();
    CloseInterruptChannel();
    if (linked_ && core_.IsOpen()) {
      rpc::Writer args;
      args.I32(lid_);
      rpc::Reader reply("");
      Call(rpc::kDestroyLink, args, reply, Millis(500));
    }
    linked_ = false;
    core_.Close();
    abort_.Close();
  }

  // A new message: what is left of an earlier answer is stale, never the next answer.
  void Write(std::string_view text) override {
    ahead_.clear();
    std::string_view bare = text;
    while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r')) bare.remove_suffix(1);
    // A query's write is not waited for: its read follows at once and takes
    // the write's reply first (a failed write fails that read).
    if (!bare.empty() && bare.back() == '?' && options_.sendEnd && text.size() <= maxRecvSize_ && Linked()) {
      if (!Collect(kWriteWindow - 1)) return;
      writeArgs_.Clear();
      writeArgs_.I32(lid_).U32(static_cast<std::uint32_t>(options_.timeout.count())).U32(0).I32(rpc::kFlagEnd).Opaque(text);
      std::uint32_t xid = 0;
      if (!SendCall(rpc::kDeviceWrite, writeArgs_, xid, options_.timeout)) return;
      inFlight_.push_back(xid);
      return Succeed();
    }
    Send(text);
  }
  void WriteBlock(std::span<const std::uint8_t> block) override {
    ahead_.clear();
    Send(std::string_view(reinterpret_cast<const char*>(block.data()), block.size()));
  }

  std::string Read() override { return Read(1 << 24); }
  std::string Read(long maxBytes) override {
    if (!Linked()) return {};
    const std::size_t max = maxBytes > 0 ? static_cast<std::size_t>(maxBytes) : 1;
    std::string out;
    if (!ahead_.empty()) {
      // Served from what an earlier read brought in; it never runs past the message's end.
      out = ahead_.take(max);
      Succeed();
      return out;
    }
    // Until END or the term character; a reply that only filled the request
    // (even exactly) means: read again.  The whole read has one deadline,
    // whatever the unit sends meanwhile (empty pieces without END included).
    const auto deadline = Clock::now() + options_.timeout;
    while (out.size() < max) {
      const Millis left = std::chrono::duration_cast<Millis>(deadline - Clock::now());
      if (left <= Millis(0)) {
        Fail(visa::kVisaErrorTimeout, "no complete answer within " + std::to_string(options_.timeout.count()) + " ms");
        return {};
      }
      rpc::Writer args;
      // Ask for a whole large answer at once; what the caller did not ask for waits in ahead_.
      args.I32(lid_)
          .U32(1u << 20)
          .U32(static_cast<std::uint32_t>(left.count()))
          .U32(0)
          .I32(options_.termChar ? rpc::kFlagTermChar : 0)
          .U32('\n');
      // The read goes out before the replies of writes still in flight are
      // collected (a query's write and its read cross the network together).
      rpc::Reader reply("");
      std::uint32_t xid = 0;
      const auto callDeadline = Clock::now() + left + Millis(1000);
      if (!SendCall(rpc::kDeviceRead, args, xid, left) || !Collect(0) || !AwaitReply(xid, reply, callDeadline)) return {};
      const std::int32_t err = reply.I32();
      const std::int32_t reason = reply.I32();
      const std::string_view data = reply.Opaque();
      if (!reply.ok()) return Broken("a garbled read reply from the unit"), std::string();
      if (err != vxi11::kNoError) {
        Fail(StatusOf(err), "the unit's read failed: " + Vxi11ErrorText(err));
        return {};
      }
      const std::size_t take = std::min(data.size(), max - out.size());
      out.append(data.substr(0, take));
      ahead_.append(data.substr(take));
      if ((reason & (rpc::kReasonEnd | rpc::kReasonChr)) || !ahead_.empty()) break;
      if (data.empty()) Pause(std::min(left, Millis(10)));  // nothing and no end: do not hammer the unit
    }
    Succeed();
    return out;
  }

  long LockExclusive(Millis wait) override {
    rpc::Writer args;
    args.I32(lid_).I32(rpc::kFlagWaitLock).U32(Ms(wait));
    rpc::Reader reply("");
    const std::int32_t err = Outcome(rpc::kDeviceLock, args, reply, wait + options_.timeout);
    if (err == vxi11::kDeviceLockedByAnotherLink)
      Fail(visa::kVisaErrorResourceLocked, "another station holds the unit's lock (waited " + std::to_string(wait.count()) + " ms)");
    else if (err == vxi11::kAbort)
      Fail(visa::kVisaErrorAbort, "the lock request was aborted");
    else if (err > 0)
      Fail(visa::kVisaErrorIo, "the unit's lock failed: " + Vxi11ErrorText(err));
    return Status();
  }

  long Unlock() override {
    rpc::Writer args;
    args.I32(lid_);
    rpc::Reader reply("");
    const std::int32_t err = Outcome(rpc::kDeviceUnlock, args, reply, options_.timeout);
    if (err == vxi11::kNoLockHeldByThisLink) Fail(visa::kVisaErrorNotLocked, "this station holds no lock on the unit");
    else if (err > 0) Fail(visa::kVisaErrorIo, "the unit's unlock failed: " + Vxi11ErrorText(err));
    return Status();
  }

  // The unit drops this link's input and answers; what was read ahead goes too.
  long Clear() override {
    ahead_.clear();
    rpc::Reader reply("");
    const std::int32_t err = Outcome(rpc::kDeviceClear, GenericArgs(), reply, options_.timeout, true);
    if (err > 0) Fail(StatusOf(err),
                      "the unit's device clear failed: " + Vxi11ErrorText(err));
    return Status();
  }

  long ReadStatusByte(std::uint8_t& stb) override {
    rpc::Reader reply("");
    const std::int32_t err = Outcome(rpc::kDeviceReadStb, GenericArgs(), reply, options_.timeout);
    if (err == 0) {
      const std::uint32_t value = reply.U32();
      if (!reply.ok()) return Broken("a garbled status byte reply from the unit"), Status();
      stb = static_cast<std::uint8_t>(value & 0xFF);
    } else if (err > 0) {
      Fail(StatusOf(err),
           "the unit's status byte read failed: " + Vxi11ErrorText(err));
    }
    return Status();
  }

  // An interrupt channel the unit connects back to (on the address this end
  // of the core channel has), then device_enable_srq with this link's handle.
  long EnableServiceRequest() override {
    if (interrupt_.IsOpen()) return Succeed(), Status();
    if (!Linked()) return Status();
    const std::string local = net::LocalAddress(core_.Descriptor());
    std::string error;
    std::uint16_t port = 0;
    listener_ = net::Listen(local, 0, error, port);
    std::uint32_t address = 0;
    for (std::size_t start = 0, n = 0; n < 4; ++n) {  // the dotted address as the 32-bit number RPC carries
      address = address << 8 | static_cast<std::uint32_t>(std::stoul(local.substr(start)));
      start = local.find('.', start) + 1;
    }
    if (!listener_) return Fail(visa::kVisaErrorIo, "no interrupt channel: " + error), Status();
    rpc::Writer args;
    args.U32(address).U32(port).U32(rpc::kDeviceInterrupt).U32(rpc::kVxiVersion).U32(0);  // TCP
    rpc::Reader reply("");
    std::int32_t err = Outcome(rpc::kCreateInterruptChannel, args, reply, options_.timeout);
    if (err > 0) Fail(visa::kVisaErrorIo, "the unit opened no interrupt channel: " + Vxi11ErrorText(err));
    if (err != 0) return listener_.Reset(), Status();
    // The unit connected before it replied; its connection waits to be taken.
    const auto deadline = Clock::now() + options_.timeout;
    for (;;) {
      net::Accepted a = net::Accept(listener_.get());
      if (a.fd) {
        interrupt_.Adopt(std::move(a.fd), a.peer);
        break;
      }
      if (Clock::now() >= deadline) {
        listener_.Reset();
        return Fail(visa::kVisaErrorTimeout, "the unit did not connect its interrupt channel"), Status();
      }
      Pause(Millis(5));
    }
    listener_.Reset();
    const std::string handle = "quorvel link " + std::to_string(lid_);
    rpc::Writer enable;
    enable.I32(lid_).U32(1).Opaque(handle);
    err = Outcome(rpc::kDeviceEnableSrq, enable, reply, options_.timeout);
    if (err > 0) Fail(visa::kVisaErrorIo, "the unit did not enable service requests: " + Vxi11ErrorText(err));
    if (err != 0) CloseInterruptChannel();
    return Status();
  }

  // One service request (device_intr_srq on the interrupt channel) within `wait`.
  long WaitServiceRequest(Millis wait) override {
    if (!interrupt_.IsOpen() && EnableServiceRequest() < 0) return Status();
    const auto deadline = Clock::now() + wait;
    for (;;) {
      const Millis left = std::max(Millis(0), std::chrono::duration_cast<Millis>(deadline - Clock::now()));
      const auto r = rpc::ReceiveRecord(interrupt_, interruptRecord_, left);
      if (r == TcpConnection::Result::kTimeout)
        return Fail(visa::kVisaErrorTimeout, "no service request within " + std::to_string(wait.count()) + " ms"), Status();
      if (r != TcpConnection::Result::kOk) {
        interrupt_.Close();
        return Fail(visa::kVisaErrorConnectionLost, "the unit closed its interrupt channel"), Status();
      }
      rpc::Reader call(interruptRecord_);
      const rpc::CallHeader h = rpc::ReadCall(call);
      if (!call.ok() || !h.IsCall()) continue;
      rpc::Writer reply;  // the unit may not wait for it; it costs nothing to send
      reply.StartRecord().Reply(h.xid);
      interrupt_.SendAll(reply.FinishRecord(), Millis(100));
      if (h.prog == rpc::kDeviceInterrupt && h.proc == rpc::kDeviceIntrSrq) return Succeed(), Status();
    }
  }

 private:
  [[noreturn]] void Refuse(const std::string& why) { RefuseOpen(visa::kVisaErrorResourceNotFound, why); }
  void Broken(const std::string& why) {
    Fail(visa::kVisaErrorConnectionLost, why);
    core_.Close();
    linked_ = false;
  }
  bool Linked() {
    if (linked_) return true;
    Fail(visa::kVisaErrorInvalidObject, error_.empty() ? "no VXI-11 link is open" : error_);
    return false;
  }

  static void Pause(Millis ms) { std::this_thread::sleep_for(ms); }
  static std::uint32_t Ms(Millis ms) { return static_cast<std::uint32_t>(std::clamp<Millis::rep>(ms.count(), 0, 0x7fffffff)); }

  // Trigger, clear and readstb: link, flags, lock time-out, I/O time-out.
  rpc::Writer GenericArgs() const {
    rpc::Writer args;
    args.I32(lid_).I32(0).U32(0).U32(Ms(options_.timeout));
    return args;
  }

  // A call whose reply starts with the VXI-11 error: that error (0 with the
  // status set to success), or -1 when the call failed (status set).  The
  // writes in flight are collected first; `anyway` goes on past one that failed.
  std::int32_t Outcome(std::uint32_t proc, const rpc::Writer& args, rpc::Reader& reply, Millis timeout, bool anyway = false) {
    if (!Linked()) return -1;
    if (!Collect(0) && !anyway) return -1;
    if (!linked_) return -1;
    if (!Call(proc, args, reply, timeout + Millis(1000))) return -1;
    const std::int32_t err = reply.I32();
    if (!reply.ok()) return Broken("a garbled reply from the unit"), -1;
    if (err == vxi11::kNoError) Succeed();
    return err;
  }

  void CloseInterruptChannel() {
    listener_.Reset();
    if (!interrupt_.IsOpen()) return;
    interrupt_.Close();
    if (linked_ && core_.IsOpen()) {
      rpc::Reader reply("");
      Call(rpc::kDestroyInterruptChannel, rpc::Writer(), reply, Millis(500));
    }
  }

  // One RPC on the core channel, within one deadline; replies to earlier
  // calls that timed out are dropped (and do not buy more time).
  bool Call(std::uint32_t proc, const rpc::Writer& args, rpc::Reader& result, Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    std::uint32_t xid = 0;
    return SendCall(proc, args, xid, timeout) && AwaitReply(xid, result, deadline);
  }

  bool SendCall(std::uint32_t proc, const rpc::Writer& args, std::uint32_t& xid, Millis timeout) {
    xid = ++xid_;
    // The record marker, the call header and the arguments in one buffer, kept between calls.
    callBuffer_.StartRecord().Call(xid, rpc::kDeviceCore, rpc::kVxiVersion, proc).Raw(args.Bytes());
    const auto r = core_.SendAll(callBuffer_.FinishRecord(), timeout);
    if (r != TcpConnection::Result::kOk) return Broken(core_.Error()), false;
    return true;
  }

  bool AwaitReply(std::uint32_t xid, rpc::Reader& result, Clock::time_point deadline) {
    for (;;) {
      const auto r = rpc::ReceiveRecord(core_, replyBuffer_,
                                        std::max(Millis(0), std::chrono::duration_cast<Millis>(deadline - Clock::now())));
      if (r == TcpConnection::Result::kTimeout) {
        const std::string why = core_.Error();
        Abort();  // the unit ends the call it still works on; its late reply is dropped later
        Fail(visa::kVisaErrorTimeout, why);
        return false;
      }
      if (r != TcpConnection::Result::kOk) return Broken(core_.Error().empty() ? "an oversized reply" : core_.Error()), false;
      rpc::Reader reply(replyBuffer_);
      if (reply.U32() != xid) continue;  // a stale reply
      const std::uint32_t type = reply.U32(), replyStat = reply.U32();
      reply.U32();
      reply.Opaque(400);  // verifier
      const std::uint32_t acceptStat = reply.U32();
      if (!reply.ok() || type != 1 || replyStat != 0 || acceptStat != 0)
        return Broken("the unit rejected the call (RPC status " + std::to_string(replyStat) + "/" +
                      std::to_string(acceptStat) + ")"),
               false;
      result = reply;
      return true;
    }
  }

  // The replies of the writes still in flight, oldest first, until at most
  // `keep` remain; false (status set) when one says the write failed.
  bool Collect(std::size_t keep) {
    while (inFlight_.size() > keep) {
      const std::uint32_t xid = inFlight_.front();
      inFlight_.pop_front();
      rpc::Reader reply("");
      if (!AwaitReply(xid, reply, Clock::now() + options_.timeout + Millis(1000))) {
        inFlight_.clear();
        return false;
      }
      const std::int32_t err = reply.I32();
      if (!reply.ok() || err != vxi11::kNoError) {
        inFlight_.clear();
        Fail(StatusOf(err), "the unit's write failed: " + Vxi11ErrorText(err));
        return false;
      }
    }
    return true;
  }

  // Pieces of a message that does not end yet (a firmware image in chunks)
  // go out without waiting for each reply: up to kWriteWindow calls are in
  // flight.  The message's last piece, and every other operation, collect
  // the replies first, so a failed piece is reported before the message is
  // taken as sent.
  void Send(std::string_view data) {
    if (!Linked()) return;
    do {
      const std::string_view piece = data.substr(0, maxRecvSize_);
      data.remove_prefix(piece.size());
      const bool end = data.empty() && options_.sendEnd;
      writeArgs_.Clear();
      writeArgs_.I32(lid_).U32(static_cast<std::uint32_t>(options_.timeout.count())).U32(0);
      writeArgs_.I32(end ? rpc::kFlagEnd : 0).Opaque(piece);
      if (!end && data.empty()) {
        std::uint32_t xid = 0;
        if (!SendCall(rpc::kDeviceWrite, writeArgs_, xid, options_.timeout)) return;
        inFlight_.push_back(xid);
        if (!Collect(kWriteWindow - 1)) return;
        Succeed();
        return;
      }
      if (!Collect(0)) return;
      rpc::Reader reply("");
      if (!Call(rpc::kDeviceWrite, writeArgs_, reply, options_.timeout + Millis(1000))) return;
      const std::int32_t err = reply.I32();
      if (!reply.ok() || err != vxi11::kNoError) {
        Fail(StatusOf(err), "the unit's write failed: " + Vxi11ErrorText(err));
        return;
      }
    } while (!data.empty());
    Succeed();
  }

  // device_abort on the abort channel: makes the call in progress on the link
  // return, so the link is usable again.  Best effort: failures are ignored.
  void Abort() {
    if (!linked_ || abortPort_ == 0) return;
    if (!abort_.IsOpen() && !abort_.Connect(host_, abortPort_, options_.openTimeout)) return;
    rpc::Writer call;
    call.Call(++xid_, rpc::kDeviceAsync, rpc::kVxiVersion, rpc::kDeviceAbort).I32(lid_);
    std::string record;
    if (abort_.SendAll(rpc::Record(call.Bytes()), Millis(500)) != TcpConnection::Result::kOk ||
        rpc::ReceiveRecord(abort_, record, Millis(500)) != TcpConnection::Result::kOk)
      abort_.Close();
  }

  bool AskPortmapper(const std::string& host, std::uint16_t& port, std::string& error) {
    TcpConnection pm;
    if (!pm.Connect(host, PortmapperPort(), options_.openTimeout)) {
      error = "no portmapper at " + host + ":" + std::to_string(PortmapperPort()) + " (" + pm.Error() + ")";
      return false;
    }
    rpc::Writer call;
    call.Call(1, rpc::kPortmapper, rpc::kPortmapperVersion, rpc::kGetPort)
        .U32(rpc::kDeviceCore).U32(rpc::kVxiVersion).U32(6).U32(0);
    std::string record;
    if (pm.SendAll(rpc::Record(call.Bytes()), options_.timeout) != TcpConnection::Result::kOk ||
        rpc::ReceiveRecord(pm, record, options_.timeout) != TcpConnection::Result::kOk) {
      error = "the portmapper at " + host + " did not answer (" + pm.Error() + ")";
      return false;
    }
    rpc::Reader reply(record);
    reply.U32();
    reply.U32();
    reply.U32();
    reply.U32();
    reply.Opaque(400);
    const std::uint32_t accept = reply.U32();
    const std::uint32_t p = reply.U32();
    if (!reply.ok() || accept != 0 || p == 0 || p > 65535) {
      error = "no VXI-11 server is registered at " + host;
      return false;
    }
    port = static_cast<std::uint16_t>(p);
    return true;
  }

  TcpConnection core_;
  TcpConnection abort_;  // opened when a call has to be aborted
  TcpConnection interrupt_;  // the unit's calls of device_intr_srq, once service requests are enabled
  net::Fd listener_;         // where the unit connects its interrupt channel, while it does
  std::string interruptRecord_;
  std::string host_;
  std::uint16_t abortPort_ = 0;
  std::string replyBuffer_;
  rpc::Writer callBuffer_, writeArgs_;  // kept: a call does not allocate anew
  static constexpr std::size_t kWriteWindow = 8;
  std::deque<std::uint32_t> inFlight_;  // writes whose replies are still to come
  ByteQueue ahead_;  // read from the unit, not yet asked for
  std::int32_t lid_ = 0;
  std::uint32_t maxRecvSize_ = 1024;
  std::uint32_t xid_ = 0;
  bool linked_ = false;
};

}  // namespace

std::shared_ptr<visa::IVisaControl> MakeVxi11Visa() { return std::make_shared<Vxi11Visa>(); }

}  // namespace visa

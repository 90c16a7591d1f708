#include "sim/server/Vxi11Server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "net/Vxi11.h"
#include "net/Xdr.h"
#include "sim/server/RpcService.h"
#include "sim/Zentrix8.h"

namespace sim::detail {

namespace {
namespace rpc = net::rpc;
namespace vxi11 = net::vxi11;
constexpr std::uint32_t kMaxRecvSize = 1u << 20;  // what one device_write may carry
}  // namespace

struct Vxi11Server::Link {
  int id = 0;
  Zentrix8::Port port;
  std::atomic<bool> waiting{false};  // a read or a lock wait is in progress
  std::atomic<bool> aborted{false};
  // Service requests: enabled with the client's handle; RQS as last seen.
  bool srqEnabled = false;
  std::string srqHandle;
  bool rqsSeen = false;
  explicit Link(std::shared_ptr<Zentrix8> unit) : port(std::move(unit)) {}
};

std::shared_ptr<Vxi11Server::Link> Vxi11Server::NewLink(const std::string& unit) {
  auto link = std::make_shared<Link>(Zentrix8::Instance(unit));
  std::lock_guard lock(linksMutex_);
  link->id = nextLink_++;
  links_.push_back(link);
  return link;
}

void Vxi11Server::DropLink(int id) {
  std::lock_guard lock(linksMutex_);
  links_.erase(std::remove_if(links_.begin(), links_.end(), [id](const auto& l) { return l->id == id; }), links_.end());
}

bool Vxi11Server::Abort(int id) {
  std::lock_guard lock(linksMutex_);
  for (const auto& l : links_)
    if (l->id == id) {
      if (l->waiting) l->aborted = true;
      return true;
    }
  return false;
}

class Vxi11Server::CoreChannel {
 public:
  CoreChannel(Vxi11Server& server, net::TcpConnection& c, const std::string& unitName, std::uint16_t abortPort)
      : server_(server), acceptor_(server.acceptor_), c_(c), unitName_(unitName), abortPort_(abortPort) {
    acceptor_.Log("VXI-11 client " + c_.Peer() + " connected");
    unit_ = Zentrix8::Instance(unitName_);
  }
  // The connection's links end with it, and their lock.
  ~CoreChannel() {
    for (const auto& l : links_) {
      // Said before it is done, so that the log shows the next holder after this one.
      if (server_.lock_.Holder() == l->id) {
        acceptor_.Log(c_.Peer() + " released the unit's lock: the connection of link " + std::to_string(l->id) + " ended");
        server_.lock_.Unlock(l->id);
      }
      server_.DropLink(l->id);
    }
  }
  CoreChannel(const CoreChannel&) = delete;
  CoreChannel& operator=(const CoreChannel&) = delete;

  void Serve();

 private:
  // After a call: its reply goes out, or the connection ends at once
  // (with the reply sent already, when it needed one).
  enum class Next { kReply, kClose };
  // Each reads its call's arguments and writes its results after the reply header.
  using Procedure = Next (CoreChannel::*)(std::uint32_t xid, rpc::Reader& call);
  Next Dispatch(std::uint32_t proc, std::uint32_t xid, rpc::Reader& call);

  Next Null(std::uint32_t xid, rpc::Reader& call);
  Next CreateLink(std::uint32_t xid, rpc::Reader& call);
  Next DeviceWrite(std::uint32_t xid, rpc::Reader& call);
  Next DeviceRead(std::uint32_t xid, rpc::Reader& call);
  Next DeviceReadStb(std::uint32_t xid, rpc::Reader& call);
  Next DeviceClear(std::uint32_t xid, rpc::Reader& call);
  Next DeviceLock(std::uint32_t xid, rpc::Reader& call);
  Next DeviceUnlock(std::uint32_t xid, rpc::Reader& call);
  Next DeviceEnableSrq(std::uint32_t xid, rpc::Reader& call);
  Next CreateInterruptChannel(std::uint32_t xid, rpc::Reader& call);
  Next DestroyInterruptChannel(std::uint32_t xid, rpc::Reader& call);
  Next DestroyLink(std::uint32_t xid, rpc::Reader& call);
  Next Acknowledge(std::uint32_t xid, rpc::Reader& call);
  Next NotSupported(std::uint32_t xid, rpc::Reader& call);

  // Trigger, clear, remote, local and readstb share their arguments; the
  // link, or null with the error written.
  Link* GenericCall(rpc::Reader& call);
  // Whether the link may go on while another may hold the lock: 0, or the
  // error (11 at once without waitlock, else after its lock time-out).
  std::int32_t Admit(Link& link, std::int32_t flags, std::uint32_t lockTimeoutMs);
  // Calls device_intr_srq for each link whose RQS rose since last looked.
  void CheckServiceRequests();
  void DropLinkHere(std::int32_t lid);

  Link* Find(std::int32_t lid) const {
    for (const auto& l : links_)
      if (l->id == lid) return l.get();
    return nullptr;
  }

  Vxi11Server& server_;
  Acceptor& acceptor_;
  net::TcpConnection& c_;
  const std::string& unitName_;
  const std::uint16_t abortPort_;
  std::shared_ptr<Zentrix8> unit_;
  std::vector<std::shared_ptr<Link>> links_;  // this connection's
  std::string record_, data_;
  rpc::Writer reply_;  // kept: a large answer does not allocate anew for every read
  std::string replies_;  // answered, waiting for the calls that came with them
  net::TcpConnection interrupt_;  // to the client's interrupt server, once it asked for one
  std::uint32_t interruptProgram_ = 0, interruptVersion_ = 0, interruptXid_ = 0;
};

namespace {
// How often a connection with service requests enabled looks at the status byte.
constexpr int kServiceRequestPollMs = 10;
// A lock time-out or an I/O time-out above an hour is taken as an hour.
constexpr std::uint32_t kLongestWaitMs = 3600000;
}  // namespace

void Vxi11Server::CoreChannel::Serve() {
  auto lastHeard = std::chrono::steady_clock::now();
  while (!acceptor_.Stopping()) {
    if (!c_.Buffered()) {
      // With an interrupt channel, the status byte is looked at while the client is quiet.
      const int wait = interrupt_.IsOpen() ? kServiceRequestPollMs : acceptor_.IdleMs();
      if (!acceptor_.WaitReadable(c_.Descriptor(), wait)) {
        if (acceptor_.Stopping() || !interrupt_.IsOpen()) break;
        CheckServiceRequests();
        if (std::chrono::steady_clock::now() - lastHeard > std::chrono::milliseconds(acceptor_.IdleMs())) break;
        continue;
      }
    }
    lastHeard = std::chrono::steady_clock::now();
    // One record within a deadline, however its fragments trickle in.
    if (rpc::ReceiveRecord(c_, record_, net::Millis(5000)) != net::TcpConnection::Result::kOk) break;
    rpc::Reader call(record_);
    const rpc::CallHeader h = rpc::ReadCall(call);
    reply_.StartRecord();
    if (!call.ok() || !h.IsCall()) {
      acceptor_.Log("VXI-11 client " + c_.Peer() + " sent garbage; closing");
      break;
    }
    if (h.prog != rpc::kDeviceCore || h.vers != rpc::kVxiVersion) {
      reply_.Reply(h.xid, h.prog != rpc::kDeviceCore ? rpc::kProgramUnavailable : rpc::kProgramMismatch);
      if (h.prog == rpc::kDeviceCore) reply_.U32(rpc::kVxiVersion).U32(rpc::kVxiVersion);
    } else {
      reply_.Reply(h.xid);
      if (Dispatch(h.proc, h.xid, call) == Next::kClose) {
        if (!replies_.empty()) c_.SendAll(replies_, kSendTimeout);  // what was answered before goes out
        return;
      }
    }
    // Calls that came together are answered together (a query's write and its
    // read: one send), as long as the next call is already here whole.
    replies_ += reply_.FinishRecord();
    if (rpc::HoldsWholeRecord(c_.BufferedBytes())) continue;
    const auto sent = c_.SendAll(replies_, kSendTimeout);
    replies_.clear();
    if (sent != net::TcpConnection::Result::kOk) break;
  }
  acceptor_.Log("VXI-11 client " + c_.Peer() + " gone");
}

Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::Dispatch(std::uint32_t proc, std::uint32_t xid, rpc::Reader& call) {
  static constexpr struct {
    std::uint32_t number;
    Procedure run;
  } kProcedures[] = {
      {vxi11::kNullProcedure, &CoreChannel::Null},
      {vxi11::kCreateLink, &CoreChannel::CreateLink},
      {vxi11::kDeviceWrite, &CoreChannel::DeviceWrite},
      {vxi11::kDeviceRead, &CoreChannel::DeviceRead},
      {vxi11::kDeviceReadStb, &CoreChannel::DeviceReadStb},
      {vxi11::kDeviceTrigger, &CoreChannel::Acknowledge},
      {vxi11::kDeviceClear, &CoreChannel::DeviceClear},
      {vxi11::kDeviceRemote, &CoreChannel::Acknowledge},
      {vxi11::kDeviceLocal, &CoreChannel::Acknowledge},
      {vxi11::kDeviceLock, &CoreChannel::DeviceLock},
      {vxi11::kDeviceUnlock, &CoreChannel::DeviceUnlock},
      {vxi11::kDeviceEnableSrq, &CoreChannel::DeviceEnableSrq},
      {vxi11::kCreateInterruptChannel, &CoreChannel::CreateInterruptChannel},
      {vxi11::kDestroyInterruptChannel, &CoreChannel::DestroyInterruptChannel},
      {vxi11::kDestroyLink, &CoreChannel::DestroyLink},
  };
  for (const auto& p : kProcedures)
    if (p.number == proc) return (this->*p.run)(xid, call);
  return NotSupported(xid, call);
}

// The channel is there; no results.
Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::Null(std::uint32_t, rpc::Reader&) { return Next::kReply; }

Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::CreateLink(std::uint32_t xid, rpc::Reader& call) {
  call.I32();  // client id
  const bool lockDevice = call.U32() != 0;
  const std::uint32_t lockTimeout = call.U32();
  const std::string device(call.Opaque(256));
  if (!call.ok()) {
    reply_.StartRecord().Reply(xid, rpc::kGarbageArguments);
    return Next::kReply;
  }
  if (device.empty() || device.find('\0') != std::string::npos) {
    reply_.I32(vxi11::kDeviceNotAccessible).I32(0).U32(0).U32(0);  // no such device
    return Next::kReply;
  }
  if (links_.size() >= kMaxLinksPerConnection) {
    reply_.I32(vxi11::kOutOfResources).I32(0).U32(0).U32(0);
    return Next::kReply;
  }
  links_.push_back(server_.NewLink(unitName_));
  unit_->Reconnect();
  Link& link = *links_.back();
  const int lid = link.id;
  if (lockDevice) {
    link.waiting = true;
    const auto outcome = server_.lock_.Lock(lid, std::chrono::milliseconds(std::min(lockTimeout, kLongestWaitMs)), &link.aborted);
    link.waiting = false;
    if (outcome != DeviceLock::Outcome::kTaken) {
      DropLinkHere(lid);
      reply_.I32(vxi11::kDeviceLockedByAnotherLink).I32(0).U32(0).U32(0);
      return Next::kReply;
    }
  }
  acceptor_.Log(c_.Peer() + " linked to " + device + " as link " + std::to_string(lid));
  if (lockDevice) acceptor_.Log(c_.Peer() + " locked the unit (link " + std::to_string(lid) + ")");
  reply_.I32(vxi11::kNoError).I32(lid).U32(abortPort_).U32(kMaxRecvSize);
  return Next::kReply;
}

Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::DeviceWrite(std::uint32_t, rpc::Reader& call) {
  const std::int32_t lid = call.I32();
  call.U32();  // io timeout
  const std::uint32_t lockTimeout = call.U32();
  const std::int32_t flags = call.I32();
  const std::string_view data = call.Opaque(kMaxRecvSize);
  Link* link = call.ok() ? Find(lid) : nullptr;
  if (!link) {
    reply_.I32(call.ok() ? vxi11::kInvalidLinkIdentifier : vxi11::kParameterError).U32(0);
    return Next::kReply;
  }
  if (const std::int32_t refused = Admit(*link, flags, lockTimeout)) {
    reply_.I32(refused).U32(0);
    return Next::kReply;
  }
  // The link's port takes the pieces of a message as they come (a
  // firmware block is counted, not kept) and the message at END.
  if (data.size() <= 200) acceptor_.Log(c_.Peer() + " > " + Shown(data));
  link->port.Write(data, (flags & rpc::kFlagEnd) != 0);
  if (unit_->ConnectionDropped()) {
    acceptor_.Log("dropping " + c_.Peer() + " as the fault knob asks");
    return Next::kClose;
  }
  reply_.I32(vxi11::kNoError).U32(static_cast<std::uint32_t>(data.size()));
  if (unit_->Rebooting()) {
    // The write that completed the firmware is acknowledged; then the unit restarts.
    c_.SendAll(replies_ + reply_.FinishRecord(), kSendTimeout);
    replies_.clear();
    acceptor_.Log("the unit restarts after the firmware update; closing " + c_.Peer());
    return Next::kClose;
  }
  return Next::kReply;
}

Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::DeviceRead(std::uint32_t, rpc::Reader& call) {
  using Clock = Zentrix8::Clock;
  const std::int32_t lid = call.I32();
  const std::uint32_t requestSize = call.U32(), ioTimeout = call.U32();
  const std::uint32_t lockTimeout = call.U32();
  const std::int32_t flags = call.I32();
  call.U32();  // term char
  Link* link = call.ok() ? Find(lid) : nullptr;
  if (!link) {
    reply_.I32(call.ok() ? vxi11::kInvalidLinkIdentifier : vxi11::kParameterError).I32(0).Opaque("");
    return Next::kReply;
  }
  if (const std::int32_t refused = Admit(*link, flags, lockTimeout)) {
    reply_.I32(refused).I32(0).Opaque("");
    return Next::kReply;
  }
  // Wait for an answer up to the client's time-out, unless the link is aborted.
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::min(ioTimeout, kLongestWaitMs));
  link->aborted = false;
  link->waiting = true;
  bool aborted = false;
  auto lookedAtStatus = Clock::now();
  for (;;) {
    aborted = link->aborted.exchange(false);
    const auto ready = link->port.AnswerReadyAt();
    if (aborted || (ready && *ready <= Clock::now()) || Clock::now() >= deadline || acceptor_.Stopping()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (interrupt_.IsOpen() && Clock::now() - lookedAtStatus >= std::chrono::milliseconds(kServiceRequestPollMs)) {
      CheckServiceRequests();  // an operation may complete while another link waits here
      lookedAtStatus = Clock::now();
    }
  }
  link->waiting = false;
  if (aborted) {
    reply_.I32(vxi11::kAbort).I32(0).Opaque("");
    return Next::kReply;
  }
  const std::size_t size = std::min<std::size_t>(requestSize, kMaxRecvSize);
  data_.clear();
  link->port.ReadInto(data_, size, (flags & rpc::kFlagTermChar) != 0);
  if (data_.empty()) {
    reply_.I32(vxi11::kIoTimeout).I32(0).Opaque("");
    return Next::kReply;
  }
  acceptor_.Log(c_.Peer() + " < " + Shown(data_));
  std::int32_t reason = 0;
  if (data_.back() == '\n') reason |= rpc::kReasonEnd | ((flags & rpc::kFlagTermChar) ? rpc::kReasonChr : 0);
  else if (data_.size() == size) reason |= rpc::kReasonReqCnt;
  reply_.I32(vxi11::kNoError).I32(reason).Opaque(data_);
  return Next::kReply;
}

Vxi11Server::Link* Vxi11Server::CoreChannel::GenericCall(rpc::Reader& call) {
  const std::int32_t lid = call.I32();
  const std::int32_t flags = call.I32();
  const std::uint32_t lockTimeout = call.U32();
  call.U32();  // io timeout
  Link* link = call.ok() ? Find(lid) : nullptr;
  if (!link) {
    reply_.I32(call.ok() ? vxi11::kInvalidLinkIdentifier : vxi11::kParameterError);
    return nullptr;
  }
  if (const std::int32_t refused = Admit(*link, flags, lockTimeout)) {
    reply_.I32(refused);
    return nullptr;
  }
  return link;
}

std::int32_t Vxi11Server::CoreChannel::Admit(Link& link, std::int32_t flags, std::uint32_t lockTimeoutMs) {
  const std::uint32_t wait = (flags & rpc::kFlagWaitLock) ? std::min(lockTimeoutMs, kLongestWaitMs) : 0;
  link.aborted = false;
  link.waiting = true;
  const auto outcome = server_.lock_.WaitFree(link.id, std::chrono::milliseconds(wait), &link.aborted);
  link.waiting = false;
  switch (outcome) {
    case DeviceLock::Outcome::kTaken: return vxi11::kNoError;
    case DeviceLock::Outcome::kAborted: return vxi11::kAbort;
    default: return vxi11::kDeviceLockedByAnotherLink;
  }
}

// The unit's IEEE 488.2 status byte, with this link's MAV.
Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::DeviceReadStb(std::uint32_t, rpc::Reader& call) {
  Link* link = GenericCall(call);
  if (!link) {
    reply_.U32(0);
    return Next::kReply;
  }
  reply_.I32(vxi11::kNoError).U32(static_cast<std::uint32_t>(unit_->SerialPoll(link->port)));
  return Next::kReply;
}

// This link's input and answers go, and with them its MAV.
Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::DeviceClear(std::uint32_t, rpc::Reader& call) {
  Link* link = GenericCall(call);
  if (!link) return Next::kReply;
  link->port.Clear();
  acceptor_.Log(c_.Peer() + " cleared link " + std::to_string(link->id));
  reply_.I32(vxi11::kNoError);
  return Next::kReply;
}

Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::DeviceLock(std::uint32_t, rpc::Reader& call) {
  const std::int32_t lid = call.I32();
  const std::int32_t flags = call.I32();
  const std::uint32_t lockTimeout = call.U32();
  Link* link = call.ok() ? Find(lid) : nullptr;
  if (!link) {
    reply_.I32(call.ok() ? vxi11::kInvalidLinkIdentifier : vxi11::kParameterError);
    return Next::kReply;
  }
  const std::uint32_t wait = (flags & rpc::kFlagWaitLock) ? std::min(lockTimeout, kLongestWaitMs) : 0;
  link->aborted = false;
  link->waiting = true;
  const auto outcome = server_.lock_.Lock(lid, std::chrono::milliseconds(wait), &link->aborted);
  link->waiting = false;
  if (outcome == DeviceLock::Outcome::kTaken) {
    acceptor_.Log(c_.Peer() + " locked the unit (link " + std::to_string(lid) + ")");
    reply_.I32(vxi11::kNoError);
  } else {
    reply_.I32(outcome == DeviceLock::Outcome::kAborted ? vxi11::kAbort : vxi11::kDeviceLockedByAnotherLink);
  }
  return Next::kReply;
}

Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::DeviceUnlock(std::uint32_t, rpc::Reader& call) {
  const std::int32_t lid = call.I32();
  if (!call.ok() || !Find(lid)) {
    reply_.I32(call.ok() ? vxi11::kInvalidLinkIdentifier : vxi11::kParameterError);
    return Next::kReply;
  }
  // Only this connection can give this link's lock back, so the look and the release cannot be parted.
  if (server_.lock_.Holder() != lid) {
    reply_.I32(vxi11::kNoLockHeldByThisLink);
    return Next::kReply;
  }
  acceptor_.Log(c_.Peer() + " unlocked the unit (link " + std::to_string(lid) + ")");
  server_.lock_.Unlock(lid);
  reply_.I32(vxi11::kNoError);
  return Next::kReply;
}

Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::DeviceEnableSrq(std::uint32_t, rpc::Reader& call) {
  const std::int32_t lid = call.I32();
  const bool enable = call.U32() != 0;
  const std::string_view handle = call.Opaque(40);
  Link* link = call.ok() ? Find(lid) : nullptr;
  if (!link) {
    reply_.I32(call.ok() ? vxi11::kInvalidLinkIdentifier : vxi11::kParameterError);
    return Next::kReply;
  }
  link->srqEnabled = enable;
  link->srqHandle.assign(handle);
  // Only a rise after this call is a request: one standing now is not sent.
  link->rqsSeen = enable && (unit_->SerialPoll(link->port) & 64) != 0;
  reply_.I32(vxi11::kNoError);
  return Next::kReply;
}

// The client's interrupt server is called on the address the client connected
// from (whatever address it names), so a client cannot point the unit elsewhere.
Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::CreateInterruptChannel(std::uint32_t, rpc::Reader& call) {
  call.U32();  // host address
  const std::uint32_t port = call.U32(), program = call.U32(), version = call.U32(), family = call.U32();
  if (!call.ok()) {
    reply_.I32(vxi11::kParameterError);
    return Next::kReply;
  }
  if (interrupt_.IsOpen()) {
    reply_.I32(vxi11::kChannelAlreadyEstablished);
    return Next::kReply;
  }
  if (family != 0 || port == 0 || port > 65535) {  // TCP only
    reply_.I32(family != 0 ? vxi11::kOperationNotSupported : vxi11::kParameterError);
    return Next::kReply;
  }
  const std::string& peer = c_.Peer();
  const std::string host = peer.substr(0, peer.rfind(':'));
  if (!interrupt_.Connect(host, static_cast<std::uint16_t>(port), net::Millis(2000))) {
    acceptor_.Log("the interrupt channel to " + host + ":" + std::to_string(port) + " failed: " + interrupt_.Error());
    reply_.I32(vxi11::kChannelNotEstablished);
    return Next::kReply;
  }
  interruptProgram_ = program;
  interruptVersion_ = version;
  acceptor_.Log(c_.Peer() + " opened an interrupt channel to port " + std::to_string(port));
  reply_.I32(vxi11::kNoError);
  return Next::kReply;
}

Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::DestroyInterruptChannel(std::uint32_t, rpc::Reader&) {
  if (!interrupt_.IsOpen()) {
    reply_.I32(vxi11::kChannelNotEstablished);
    return Next::kReply;
  }
  interrupt_.Close();
  reply_.I32(vxi11::kNoError);
  return Next::kReply;
}

void Vxi11Server::CoreChannel::CheckServiceRequests() {
  if (!interrupt_.IsOpen()) return;
  // The client's replies to earlier calls are not waited for; they are taken and dropped here.
  std::string ignored;
  while (interrupt_.ReceiveSome(ignored, 4096, net::Millis(0)) == net::TcpConnection::Result::kOk && !ignored.empty())
    ignored.clear();
  for (const auto& link : links_) {
    if (!link->srqEnabled) continue;
    const bool rqs = (unit_->SerialPoll(link->port) & 64) != 0;
    if (rqs && !link->rqsSeen) {
      rpc::Writer call;
      call.StartRecord().Call(++interruptXid_, interruptProgram_, interruptVersion_, rpc::kDeviceIntrSrq)
          .Opaque(link->srqHandle);
      if (interrupt_.SendAll(call.FinishRecord(), net::Millis(500)) != net::TcpConnection::Result::kOk) {
        acceptor_.Log("the interrupt channel of " + c_.Peer() + " broke: " + interrupt_.Error());
        interrupt_.Close();
        return;
      }
      acceptor_.Log("service request to " + c_.Peer() + " (link " + std::to_string(link->id) + ")");
    }
    link->rqsSeen = rqs;
  }
}

void Vxi11Server::CoreChannel::DropLinkHere(std::int32_t lid) {
  if (server_.lock_.Holder() == lid) {
    acceptor_.Log(c_.Peer() + " released the unit's lock: link " + std::to_string(lid) + " destroyed");
    server_.lock_.Unlock(lid);
  }
  links_.erase(std::remove_if(links_.begin(), links_.end(), [lid](const auto& l) { return l->id == lid; }), links_.end());
  server_.DropLink(lid);
}

Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::DestroyLink(std::uint32_t, rpc::Reader& call) {
  const std::int32_t lid = call.I32();
  if (!Find(lid)) {
    reply_.I32(vxi11::kInvalidLinkIdentifier);
    return Next::kReply;
  }
  DropLinkHere(lid);
  reply_.I32(vxi11::kNoError);
  return Next::kReply;
}

// Trigger, remote and local: the unit has nothing they change, but a link
// locked out waits or is refused as for any other call.
Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::Acknowledge(std::uint32_t, rpc::Reader& call) {
  if (GenericCall(call)) reply_.I32(vxi11::kNoError);
  return Next::kReply;
}

Vxi11Server::CoreChannel::Next Vxi11Server::CoreChannel::NotSupported(std::uint32_t, rpc::Reader&) {
  reply_.I32(vxi11::kOperationNotSupported);
  return Next::kReply;
}

void Vxi11Server::ServeCore(net::TcpConnection& c, const std::string& unitName, std::uint16_t abortPort) {
  CoreChannel(*this, c, unitName, abortPort).Serve();
}

void Vxi11Server::ServeAbort(net::TcpConnection& c) {
  ServeRpc(acceptor_, c, [this](std::string_view record) -> std::string {
    rpc::Reader call(record);
    const rpc::CallHeader h = rpc::ReadCall(call);
    if (!call.ok() || !h.IsCall()) return {};
    rpc::Writer reply;
    if (h.prog == rpc::kDeviceAsync && h.proc == vxi11::kNullProcedure) return reply.Reply(h.xid).Bytes();
    if (h.prog != rpc::kDeviceAsync || h.proc != vxi11::kDeviceAbort)
      return reply.Reply(h.xid, h.prog != rpc::kDeviceAsync ? rpc::kProgramUnavailable : rpc::kProcedureUnavailable).Bytes();
    const std::int32_t lid = call.I32();
    if (!call.ok() || !Abort(lid)) return reply.Reply(h.xid).I32(vxi11::kInvalidLinkIdentifier).Bytes();
    acceptor_.Log("abort of link " + std::to_string(lid));
    return reply.Reply(h.xid).I32(vxi11::kNoError).Bytes();
  });
}

}  // namespace sim::detail

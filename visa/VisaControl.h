// The VISA control the driver talks through, as an abstract interface with
// exactly the operations the driver uses.  Each operation carries the
// dispatch id under which the driver has always known it.
//
// The implementation is chosen from the resource string when the session
// opens: a host may hand the driver a factory of its own, else transports
// and the simulator registered for a resource prefix in the VisaRegistry
// serve it, so the driver never names one.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Export.h"
#include "platform/Platform.h"

namespace visa {

// Dispatch ids of the control's operations.
inline constexpr long kDispResourceName = 202;  // property put: the VISA resource
inline constexpr long kDispOpen = 285;          // open the session
inline constexpr long kDispClose = 206;         // close the session
inline constexpr long kDispOptions = 205;       // property get: the session options object
inline constexpr long kDispWrite = 260;         // write a text or a byte block
inline constexpr long kDispRead = 257;          // read an answer (optionally at most N bytes)
inline constexpr long kDispStatus = 287;        // property get: status of the last transfer
inline constexpr long kDispSetBuffer = 300;     // set up the session's buffers (mask, size)

// Properties of the session options object, as our transports read them.
inline constexpr long kOptionTermCharEnabled = 10;   // Boolean: a read ends at the line feed
inline constexpr long kOptionWriteBufferSize = 12;   // Integer: bytes per write
inline constexpr long kOptionSendEnd = 2;            // Boolean: a write ends the message (END)
inline constexpr long kOptionTimeout = 13;           // Integer: ms a write or read may take
inline constexpr long kOptionOpenTimeout = 14;       // Integer: ms the open may take to reach the unit

// What a session uses when nobody set its time-outs: 2 s for an answer (as
// common VISA libraries), 2 s to reach the unit.
inline constexpr long kDefaultTimeoutMs = 2000;
inline constexpr long kDefaultOpenTimeoutMs = 2000;

// Error numbers of the VISA transport: a session that cannot be opened, a
// failed write or read.
inline constexpr long ERROR_VISA_OPEN = 4010;
inline constexpr long ERROR_VISA_IO = 4012;

// Buffer mask of dispatch 300: the formatted-I/O input (16) and output (32) buffers.
inline constexpr long kBufferFormattedIn = 16;
inline constexpr long kBufferFormattedOut = 32;

// Status values: 0 success, positive success with a warning, negative failure.
inline constexpr long kVisaSuccess = 0;
inline constexpr long kVisaErrorInvalidObject = -1073807346;     // no session
inline constexpr long kVisaErrorResourceNotFound = -1073807343;  // nothing answers at the resource
inline constexpr long kVisaErrorTimeout = -1073807339;           // no answer in time
inline constexpr long kVisaErrorIo = -1073807298;                // the transfer failed
inline constexpr long kVisaErrorConnectionLost = -1073807194;    // the peer went away
inline constexpr long kVisaErrorResourceLocked = -1073807345;    // another station holds the unit's lock
inline constexpr long kVisaErrorNotLocked = -1073807204;         // an unlock without the lock
inline constexpr long kVisaErrorAbort = -1073807312;             // the operation was aborted
inline constexpr long kVisaErrorNotSupported = -1073807257;      // the transport has no such operation

class QUORVEL_API IVisaOptions {
 public:
  virtual ~IVisaOptions() = default;
  virtual void SetBool(long property, bool value) = 0;
  virtual void SetInteger(long property, long value) = 0;
};

class QUORVEL_API IVisaControl {
 public:
  virtual ~IVisaControl() = default;
  virtual void SetResourceName(const std::string& resource) = 0;  // 202
  virtual std::string ResourceName() const = 0;                    // 202 (get)
  // 285.  Raises a vb::Error when no session can be opened.
  virtual void Open() = 0;
  virtual void Close() = 0;                                        // 206
  virtual IVisaOptions& Options() = 0;                             // 205
  virtual void Write(std::string_view text) = 0;                   // 260, a String
  virtual void WriteBlock(std::span<const std::uint8_t> block) = 0;  // 260, a Byte array
  virtual std::string Read() = 0;                                  // 257
  virtual std::string Read(long maxBytes) = 0;                     // 257 with a byte count
  // The same appended to `out`: a caller that keeps its buffer (a long list)
  // saves a copy.  Returns Status(); on a failure `out` is as it was.
  virtual long ReadAppend(std::string& out, long maxBytes) {
    std::string piece = Read(maxBytes);
    if (Status() >= 0) out += piece;
    return Status();
  }
  virtual long Status() const = 0;                                 // 287
  virtual void SetBuffer(long mask, long size) = 0;                // 300
  // Why the last transfer failed, in words a person can act on ("" when it did not).
  virtual std::string LastErrorText() const = 0;

  // A unit shared between stations (VXI-11): VISA's exclusive lock with a
  // time-out (waits up to `wait` for another station's lock), unlock, device
  // clear, status byte (serial poll), and service requests (enable, then
  // wait up to `wait` for one).  Each returns the status it leaves in
  // Status(); a transport without them answers kVisaErrorNotSupported.
  virtual long LockExclusive(std::chrono::milliseconds /*wait*/) { return kVisaErrorNotSupported; }
  virtual long Unlock() { return kVisaErrorNotSupported; }
  virtual long Clear() { return kVisaErrorNotSupported; }
  virtual long ReadStatusByte(std::uint8_t& /*stb*/) { return kVisaErrorNotSupported; }
  virtual long EnableServiceRequest() { return kVisaErrorNotSupported; }
  virtual long WaitServiceRequest(std::chrono::milliseconds /*wait*/) { return kVisaErrorNotSupported; }
};

// What every session implementation keeps alike: the resource name, the
// options the transports read (END on writes, reads ending at the line
// feed), and the status of the last transfer with its reason.
class QUORVEL_API VisaSessionBase : public IVisaControl {
 public:
  struct QUORVEL_API SessionOptions : IVisaOptions {
    void SetBool(long property, bool value) override;
    void SetInteger(long property, long value) override;
    bool sendEnd = true;    // a write ends the message
    bool termChar = false;  // a read ends at the line feed
    std::chrono::milliseconds timeout{kDefaultTimeoutMs};
    std::chrono::milliseconds openTimeout{kDefaultOpenTimeoutMs};
  };
  void SetResourceName(const std::string& resource) override { resource_ = resource; }
  std::string ResourceName() const override { return resource_; }
  IVisaOptions& Options() override { return options_; }
  long Status() const override { return status_; }
  void SetBuffer(long, long) override {}
  std::string LastErrorText() const override { return status_ < 0 ? error_ : std::string(); }
  // Not supported, and the status says so in words.
  long LockExclusive(std::chrono::milliseconds) override { return Unsupported("locks"); }
  long Unlock() override { return Unsupported("locks"); }
  long Clear() override { return Unsupported("a device clear"); }
  long ReadStatusByte(std::uint8_t&) override { return Unsupported("a status byte read"); }
  long EnableServiceRequest() override { return Unsupported("service requests"); }
  long WaitServiceRequest(std::chrono::milliseconds) override { return Unsupported("service requests"); }

 protected:
  void Succeed() {
    status_ = kVisaSuccess;
    error_.clear();
  }
  void Fail(long status, std::string why) {
    status_ = status;
    error_ = std::move(why);
  }
  const std::string& resource() const { return resource_; }
  // The open failed: status, reason, and error 4010 "VISA Open: <reason>".
  [[noreturn]] void RefuseOpen(long status, std::string why);
  long Unsupported(const std::string& what);
  SessionOptions options_;
  std::string error_;

 private:
  std::string resource_;
  long status_ = kVisaSuccess;
};

// Makes the control for a resource string (null: this factory does not
// serve it); the platform's services carry one from the host.
using VisaFactory = platform::VisaFactory;

// Keeps a factory registered; unregisters when destroyed.
class QUORVEL_API VisaRegistration {
 public:
  VisaRegistration() = default;
  explicit VisaRegistration(long id) : id_(id) {}
  VisaRegistration(VisaRegistration&& o) noexcept : id_(o.id_) { o.id_ = 0; }
  VisaRegistration& operator=(VisaRegistration&& o) noexcept;
  VisaRegistration(const VisaRegistration&) = delete;
  VisaRegistration& operator=(const VisaRegistration&) = delete;
  ~VisaRegistration();

 private:
  long id_ = 0;
};

class QUORVEL_API VisaRegistry {
 public:
  static VisaRegistry& Instance();
  // The factory serves resources that start with `prefix` (case-insensitive);
  // the longest matching prefix wins, the latest registration among equals.
  [[nodiscard]] VisaRegistration Register(std::string prefix, VisaFactory factory);
  // Null when no factory serves the resource.
  std::shared_ptr<IVisaControl> Create(const std::string& resource) const;
  void Unregister(long id);

 private:
  struct Entry {
    long id;
    std::string prefix;
    VisaFactory factory;
  };
  mutable std::vector<Entry> entries_;
  long nextId_ = 1;
};

}  // namespace visa

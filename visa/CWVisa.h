// The VISA control the driver's hidden form holds (cwVisa1).
#pragma once

#include <memory>
#include <string>

#include "core/Export.h"
#include "visa/VisaControl.h"

namespace visa {

// The control the hidden form holds (cwVisa1): it keeps the resource name
// and the session's options and, when the session opens, takes a fresh
// implementation for the resource - from the host's factory when it gave
// one, else from the registry - and passes every operation on.
class QUORVEL_API CWVisa : public IVisaControl {
 public:
  explicit CWVisa(VisaFactory factory = {}) : factory_(std::move(factory)) {}
  void SetResourceName(const std::string& resource) override { resource_ = resource; }
  std::string ResourceName() const override { return resource_; }
  void Open() override;
  void Close() override;
  // Before the first open, and between sessions, the options are kept here
  // and handed to the next session when it opens.
  IVisaOptions& Options() override;
  void Write(std::string_view text) override;
  void WriteBlock(std::span<const std::uint8_t> block) override;
  std::string Read() override;
  std::string Read(long maxBytes) override;
  long ReadAppend(std::string& out, long maxBytes) override;
  long Status() const override;
  void SetBuffer(long mask, long size) override;
  std::string LastErrorText() const override;
  long LockExclusive(std::chrono::milliseconds wait) override;
  long Unlock() override;
  long Clear() override;
  long ReadStatusByte(std::uint8_t& stb) override;
  long EnableServiceRequest() override;
  long WaitServiceRequest(std::chrono::milliseconds wait) override;
  // The implementation in use (null before the first open).
  const std::shared_ptr<IVisaControl>& Implementation() const { return impl_; }

 private:
  // Passes options to the session; the time-outs are also kept, so that
  // every later session starts with them.
  class HeldOptions : public IVisaOptions {
   public:
    explicit HeldOptions(CWVisa& owner) : owner_(owner) {}
    void SetBool(long property, bool value) override;
    void SetInteger(long property, long value) override;
    void ApplyTo(IVisaOptions& options) const;

   private:
    CWVisa& owner_;
    long timeoutMs_ = 0, openTimeoutMs_ = 0;  // 0: the session's own default
  };
  void NoSession();
  VisaFactory factory_;
  std::string resource_;
  std::shared_ptr<IVisaControl> impl_;
  HeldOptions held_{*this};
  long status_ = kVisaSuccess;  // our own status while there is no implementation
  std::string error_;
};

}  // namespace visa

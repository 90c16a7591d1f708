#include "visa/CWVisa.h"

#include "core/Vb.h"

namespace visa {

void CWVisa::Open() {
  std::shared_ptr<IVisaControl> impl = factory_ ? factory_(resource_) : nullptr;
  if (!impl) impl = VisaRegistry::Instance().Create(resource_);
  if (!impl) {
    impl_.reset();
    status_ = kVisaErrorResourceNotFound;
    error_ = "no VISA transport serves the resource '" + resource_ + "'";
    vb::Raise(ERROR_VISA_OPEN, "CWVisa", "VISA Open: " + error_);
  }
  impl_ = std::move(impl);
  status_ = kVisaSuccess;
  error_.clear();
  impl_->SetResourceName(resource_);
  held_.ApplyTo(impl_->Options());
  impl_->Open();
}

void CWVisa::Close() {
  if (impl_) impl_->Close();
}

IVisaOptions& CWVisa::Options() { return held_; }

void CWVisa::HeldOptions::SetBool(long property, bool value) {
  if (owner_.impl_) owner_.impl_->Options().SetBool(property, value);
}

void CWVisa::HeldOptions::SetInteger(long property, long value) {
  if (property == kOptionTimeout) timeoutMs_ = value;
  if (property == kOptionOpenTimeout) openTimeoutMs_ = value;
  if (owner_.impl_) owner_.impl_->Options().SetInteger(property, value);
}

void CWVisa::HeldOptions::ApplyTo(IVisaOptions& options) const {
  if (timeoutMs_ > 0) options.SetInteger(kOptionTimeout, timeoutMs_);
  if (openTimeoutMs_ > 0) options.SetInteger(kOptionOpenTimeout, openTimeoutMs_);
}

void CWVisa::NoSession() {
  status_ = kVisaErrorInvalidObject;
  error_ = "no VISA session is open";
}

void CWVisa::Write(std::string_view text) {
  if (impl_) return impl_->Write(text);
  NoSession();
}

void CWVisa::WriteBlock(std::span<const std::uint8_t> block) {
  if (impl_) return impl_->WriteBlock(block);
  NoSession();
}

std::string CWVisa::Read() {
  if (impl_) return impl_->Read();
  NoSession();
  return {};
}

std::string CWVisa::Read(long maxBytes) {
  if (impl_) return impl_->Read(maxBytes);
  NoSession();
  return {};
}

long CWVisa::ReadAppend(std::string& out, long maxBytes) {
  if (impl_) return impl_->ReadAppend(out, maxBytes);
  NoSession();
  return status_;
}

long CWVisa::Status() const { return impl_ ? impl_->Status() : status_; }

// The operations of shared units go to the session, or find none.
long CWVisa::LockExclusive(std::chrono::milliseconds wait) {
  if (impl_) return impl_->LockExclusive(wait);
  NoSession();
  return status_;
}
long CWVisa::Unlock() {
  if (impl_) return impl_->Unlock();
  NoSession();
  return status_;
}
long CWVisa::Clear() {
  if (impl_) return impl_->Clear();
  NoSession();
  return status_;
}
long CWVisa::ReadStatusByte(std::uint8_t& stb) {
  if (impl_) return impl_->ReadStatusByte(stb);
  NoSession();
  return status_;
}
long CWVisa::EnableServiceRequest() {
  if (impl_) return impl_->EnableServiceRequest();
  NoSession();
  return status_;
}
long CWVisa::WaitServiceRequest(std::chrono::milliseconds wait) {
  if (impl_) return impl_->WaitServiceRequest(wait);
  NoSession();
  return status_;
}

void CWVisa::SetBuffer(long mask, long size) {
  if (impl_) impl_->SetBuffer(mask, size);
}

std::string CWVisa::LastErrorText() const { return impl_ ? impl_->LastErrorText() : error_; }

}  // namespace visa

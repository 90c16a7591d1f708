#include "io/VisaControl.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "io/Vb.h"

namespace io {

namespace {
std::mutex g_registryMutex;

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}
}  // namespace

VisaRegistration& VisaRegistration::operator=(VisaRegistration&& o) noexcept {
  if (this != &o) {
    if (id_) VisaRegistry::Instance().Unregister(id_);
    id_ = o.id_;
    o.id_ = 0;
  }
  return *this;
}

VisaRegistration::~VisaRegistration() {
  if (id_) VisaRegistry::Instance().Unregister(id_);
}

VisaRegistry& VisaRegistry::Instance() {
  static VisaRegistry registry;
  return registry;
}

VisaRegistration VisaRegistry::Register(std::string prefix, VisaFactory factory) {
  std::lock_guard lock(g_registryMutex);
  const long id = nextId_++;
  entries_.push_back({id, std::move(prefix), std::move(factory)});
  return VisaRegistration(id);
}

void VisaRegistry::Unregister(long id) {
  std::lock_guard lock(g_registryMutex);
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; }),
                 entries_.end());
}

std::shared_ptr<IVisaControl> VisaRegistry::Create(const std::string& resource) const {
  VisaFactory chosen;
  {
    std::lock_guard lock(g_registryMutex);
    std::size_t best = 0;
    bool found = false;
    for (const auto& e : entries_)
      if (StartsWithNoCase(resource, e.prefix) && (!found || e.prefix.size() >= best)) {
        best = e.prefix.size();
        chosen = e.factory;
        found = true;
      }
  }
  return chosen ? chosen(resource) : nullptr;
}

void CWVisa::Open() {
  auto impl = VisaRegistry::Instance().Create(resource_);
  if (!impl) {
    impl_.reset();
    status_ = kVisaErrorResourceNotFound;
    error_ = "no VISA transport serves the resource '" + resource_ + "'";
    vb::Raise(4010, "CWVisa", "VISA Open: " + error_);
  }
  impl_ = std::move(impl);
  status_ = kVisaSuccess;
  error_.clear();
  impl_->SetResourceName(resource_);
  impl_->Open();
}

void CWVisa::Close() {
  if (impl_) impl_->Close();
}

IVisaOptions& CWVisa::Options() { return impl_ ? impl_->Options() : detached_; }

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

long CWVisa::Status() const { return impl_ ? impl_->Status() : status_; }

void CWVisa::SetBuffer(long mask, long size) {
  if (impl_) impl_->SetBuffer(mask, size);
}

std::string CWVisa::LastErrorText() const { return impl_ ? impl_->LastErrorText() : error_; }

}  // namespace io

#include "visa/VisaControl.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "core/Vb.h"

namespace visa {

namespace {
std::mutex g_registryMutex;
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
      if (vb::StartsWithNoCase(resource, e.prefix) && (!found || e.prefix.size() >= best)) {
        best = e.prefix.size();
        chosen = e.factory;
        found = true;
      }
  }
  return chosen ? chosen(resource) : nullptr;
}

void VisaSessionBase::SessionOptions::SetBool(long property, bool value) {
  if (property == kOptionSendEnd) sendEnd = value;
  if (property == kOptionTermCharEnabled) termChar = value;
}

void VisaSessionBase::SessionOptions::SetInteger(long property, long value) {
  if (value <= 0) return;  // no time-out of zero or less: keep what is set
  if (property == kOptionTimeout) timeout = std::chrono::milliseconds(value);
  if (property == kOptionOpenTimeout) openTimeout = std::chrono::milliseconds(value);
}

long VisaSessionBase::Unsupported(const std::string& what) {
  const std::string& r = resource_;
  const bool socket = r.size() >= 8 && vb::Upper(std::string_view(r).substr(r.size() - 8)) == "::SOCKET";
  Fail(kVisaErrorNotSupported, (socket ? "a raw socket resource has no " : "this resource has no ") + what +
                                   " (a VXI-11 resource, TCPIP::host::inst0::INSTR, has)");
  return Status();
}

void VisaSessionBase::RefuseOpen(long status, std::string why) {
  Fail(status, std::move(why));
  vb::Raise(ERROR_VISA_OPEN, "VISA", "VISA Open: " + error_);
}

}  // namespace visa

#include "sim/InProcessVisa.h"

#include <thread>

#include "core/Vb.h"

namespace sim {

std::shared_ptr<visa::IVisaControl> MakeInProcessVisa(const std::string& resource) {
  if (!vb::StartsWithNoCase(resource, "SIM::")) return nullptr;
  return std::make_shared<InProcessVisa>();
}

visa::VisaRegistration RegisterInProcessVisa() {
  return visa::VisaRegistry::Instance().Register("SIM::", MakeInProcessVisa);
}

std::string UnitNameOf(const std::string& resource) {
  const std::string rest = resource.size() > 5 ? resource.substr(5) : std::string();
  const std::size_t end = rest.find("::");
  const std::string name = rest.substr(0, end);
  return name.empty() ? std::string("Zentrix8") : name;
}

void InProcessVisa::Open() {
  unit_ = Zentrix8::Instance(UnitNameOf(resource()));
  if (unit_->Rebooting()) RefuseOpen(visa::kVisaErrorResourceNotFound, "the simulated unit is restarting");
  unit_->Reconnect();
  port_ = std::make_unique<Zentrix8::Port>(unit_);
  Succeed();
}

void InProcessVisa::Close() {
  port_.reset();
  unit_.reset();
  Succeed();
}

bool InProcessVisa::Usable() {
  if (!unit_) {
    Fail(visa::kVisaErrorInvalidObject, "no session is open");
    return false;
  }
  if (unit_->Rebooting()) {
    Fail(visa::kVisaErrorConnectionLost, "the unit does not answer: it restarts after a firmware update");
    return false;
  }
  if (unit_->ConnectionDropped()) {
    Fail(visa::kVisaErrorConnectionLost, "the unit closed the connection");
    return false;
  }
  return true;
}

void InProcessVisa::Write(std::string_view text) {
  if (!Usable()) return;
  port_->Write(text, options_.sendEnd);
  if (unit_->ConnectionDropped()) return Fail(visa::kVisaErrorConnectionLost, "the unit closed the connection");
  Succeed();
}

void InProcessVisa::WriteBlock(std::span<const std::uint8_t> block) {
  Write(std::string_view(reinterpret_cast<const char*>(block.data()), block.size()));
}

std::string InProcessVisa::Read(long maxBytes) {
  if (!Usable()) return {};
  // Like a VISA read: collect until the line feed (when the session ends
  // reads there), the byte count, or the time-out; pieces are joined.
  const std::size_t max = maxBytes > 0 ? static_cast<std::size_t>(maxBytes) : 1;
  const auto deadline = Zentrix8::Clock::now() + options_.timeout;
  std::string out;
  while (out.size() < max) {
    const auto ready = port_->AnswerReadyAt();
    if (!ready || *ready > deadline) {
      if (!out.empty()) break;  // what came so far
      if (ready) std::this_thread::sleep_until(deadline);
      Fail(visa::kVisaErrorTimeout, "no answer from the unit within " + std::to_string(options_.timeout.count()) + " ms");
      return {};
    }
    if (*ready > Zentrix8::Clock::now()) std::this_thread::sleep_until(*ready);
    const std::string piece = port_->Read(max - out.size());
    out += piece;
    if (options_.termChar && piece.find('\n') != std::string::npos) break;
  }
  Succeed();
  return out;
}

}  // namespace sim

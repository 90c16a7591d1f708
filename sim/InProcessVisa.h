// A VISA control that connects the driver straight to a simulated unit in
// the same process: resource "SIM::<name>::INSTR" ("SIM::Zentrix8::INSTR" is
// the default unit).  No network, so tests and the embedded default need none.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "visa/VisaControl.h"
#include "sim/Zentrix8.h"

namespace sim {

inline constexpr const char* kDefaultResource = "SIM::Zentrix8::INSTR";

// Makes "SIM::" resources reach simulated units while the registration lives.
visa::VisaRegistration RegisterInProcessVisa();
// The same as a factory a host can hand a driver of its own.
std::shared_ptr<visa::IVisaControl> MakeInProcessVisa(const std::string& resource);

// The unit a "SIM::" resource names ("SIM::Bench2::INSTR" -> "Bench2").
std::string UnitNameOf(const std::string& resource);

class InProcessVisa : public visa::VisaSessionBase {
 public:
  void Open() override;
  void Close() override;
  void Write(std::string_view text) override;
  void WriteBlock(std::span<const std::uint8_t> block) override;
  std::string Read() override { return Read(1 << 20); }
  std::string Read(long maxBytes) override;

 private:
  bool Usable();

  std::shared_ptr<Zentrix8> unit_;
  std::unique_ptr<Zentrix8::Port> port_;  // this session's own answers
};

}  // namespace sim

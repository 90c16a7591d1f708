// A VISA control that connects the driver straight to a simulated unit in
// the same process: resource "SIM::<name>::INSTR" ("SIM::Zentrix8::INSTR" is
// the default unit).  No network, so tests and the embedded default need none.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "io/VisaControl.h"
#include "sim/Zentrix8.h"

namespace sim {

inline constexpr const char* kDefaultResource = "SIM::Zentrix8::INSTR";

// Makes "SIM::" resources reach simulated units while the registration lives.
io::VisaRegistration RegisterInProcessVisa();

// The unit a "SIM::" resource names ("SIM::Bench2::INSTR" -> "Bench2").
std::string UnitNameOf(const std::string& resource);

class InProcessVisa : public io::IVisaControl {
 public:
  // How long a read waits for an answer before it times out (2 s, as
  // common VISA libraries default to).
  static std::chrono::milliseconds Timeout();
  static void SetTimeout(std::chrono::milliseconds timeout);

  void SetResourceName(const std::string& resource) override { resource_ = resource; }
  std::string ResourceName() const override { return resource_; }
  void Open() override;
  void Close() override;
  io::IVisaOptions& Options() override { return options_; }
  void Write(std::string_view text) override;
  void WriteBlock(std::span<const std::uint8_t> block) override;
  std::string Read() override { return Read(1 << 20); }
  std::string Read(long maxBytes) override;
  long Status() const override { return status_; }
  void SetBuffer(long, long) override {}
  std::string LastErrorText() const override { return status_ < 0 ? error_ : std::string(); }

 private:
  class Options_ : public io::IVisaOptions {
   public:
    void SetBool(long property, bool value) override {
      if (property == io::kOptionSendEnd) sendEnd = value;
      if (property == io::kOptionTermCharEnabled) termChar = value;
    }
    void SetInteger(long, long) override {}
    bool sendEnd = true;
    bool termChar = false;
  };
  bool Usable();
  void Fail(long status, std::string why);

  std::string resource_;
  std::shared_ptr<Zentrix8> unit_;
  Options_ options_;
  long status_ = io::kVisaSuccess;
  std::string error_;
};

}  // namespace sim

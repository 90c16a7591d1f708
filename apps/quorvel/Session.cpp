#include "quorvel/Session.h"

#include <sys/stat.h>

#include "io/modMain.h"
#include "sim/InProcessVisa.h"
#include "visa/Network.h"

namespace quorvel {

// Message boxes of the driver (a missing path, say) become lines on stderr.
class Session::TerminalMessageBox : public platform::IMessageBox {
 public:
  explicit TerminalMessageBox(std::ostream& err) : err_(err) {}
  long Show(const std::string& text, long style, const std::string&) override {
    err_ << "quorvel: " << text << "\n";
    return (style & 7) == platform::vbYesNo ? platform::vbNo : platform::vbOK;
  }

 private:
  std::ostream& err_;
};

Session::Session(const Options& o, std::ostream& out, std::ostream& err, Desktop desktop)
    : o_(o), out_(out), err_(err), desktop_(std::move(desktop)) {}

Session::~Session() = default;

bool Session::Open(int& status) {
  const bool desktop = desktop_.platform.events != nullptr;
  // A configuration named on the command line must be there: no silent defaults.
  if (!o_.config.empty()) {
    struct stat st{};
    if (::stat(o_.config.c_str(), &st) != 0) {
      err_ << "quorvel: the configuration " << o_.config << " does not exist\n";
      status = kUsage;
      return false;
    }
  }
  host_ = host::ReferenceHost::Open(host::ReferenceHost::ConfigPath(o_.config),
                                    desktop ? desktop_.platform.events : platform_.events);
  for (const std::string& w : host_->Warnings()) err_ << "quorvel: warning: " << w << "\n";
  const std::vector<std::string> names = host_->DeviceNames();
  const std::string name = o_.device.empty() ? names.front() : o_.device;
  bool known = false;
  for (const auto& n : names) known = known || n == name;
  if (!known) {
    err_ << "quorvel: no device named '" << name << "' in " << host_->ConfigFile() << " (devices:";
    for (const auto& n : names) err_ << " " << n;
    err_ << ")\n";
    status = kUsage;
    return false;
  }
  std::string address = o_.address;
  if (address.empty()) {
    // No unit given: the embedded simulator answers, and the tool says so.
    const std::string listed = host_->Address(name);
    if (listed.empty() || listed == clsQuorvelUnit::kDefaultAddress) {
      address = sim::kDefaultResource;
      err_ << "quorvel: no unit given for " << name << "; the embedded Zentrix8 simulator answers (" << address << ")\n";
    }
  }
  if (!address.empty()) {
    host_->OverrideDeviceValue(name, "Address", address);
    host_->OverrideDeviceValue(name, "Interface", "60");
  }
  platform::Services services = platform_.services();
  services.messageBox = std::make_shared<TerminalMessageBox>(err_);
  if (desktop) services = desktop_.platform;
  // The tool's own transports: the network, else the embedded simulator.
  services.visa = [](const std::string& resource) {
    auto control = visa::MakeNetworkVisa(resource);
    return control ? control : sim::MakeInProcessVisa(resource);
  };
  unit_ = std::make_unique<clsQuorvelUnit>(desktop_.host ? desktop_.host(host_->services()) : host_->services(), services);
  unit_->clsDevice_Name(name);
  return true;
}

bool Session::Connect() {
  unit_->clsDevice_Status(1);
  if (unit_->clsDevice_Status() == 1) return true;
  err_ << "quorvel: no unit answered at " << unit_->AddressText() << "; simulation: values are neutral\n";
  return false;
}

int Session::ErrorStatusVerdict() {
  if (host_->StopRequested()) {
    err_ << "quorvel: stopped by the user\n";
    return kInterrupted;
  }
  const vb::Long status = unit_->GetErrorStatus();
  if (status == esNONE) return kOk;
  err_ << "quorvel: the unit's error status is " << status << " (" << unit_->GetErrorDescription(status) << ")\n";
  return kUnitErrors;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string Num(double v) { return modMain::FormatCommandNumber(v); }

std::string Hz(double f) {
  if (f >= 1e9) return Num(f / 1e9) + " GHz";
  if (f >= 1e6) return Num(f / 1e6) + " MHz";
  return Num(f) + " Hz";
}

std::string Dbm(double v) { return vb::Format(v, "0.000") + " dBm"; }

}  // namespace quorvel

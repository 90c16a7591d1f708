// The host a scripting program gets: the file-backed reference host for
// every object created through the component, and the embedded Zentrix8
// simulator for each device whose entry names no unit.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "driver/Defaults.h"
#include "driver/clsQuorvelUnit.h"
#include "refhost/ReferenceHost.h"
#include "sim/InProcessVisa.h"
#include "visa/Network.h"

namespace {

void Copy(const std::string& text, char* out, uint32_t size) {
  if (!out || size == 0) return;
  const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

}  // namespace

// Installs the host for the process; `config` may be null for the default
// file.  0 and a summary in `message`, or 1 and the reason.
extern "C" __attribute__((visibility("default"))) int QuorvelHost_Install(const char* config, char* message,
                                                                          uint32_t size) {
  try {
    static std::shared_ptr<host::ReferenceHost> current;
    auto host = host::ReferenceHost::Open(host::ReferenceHost::ConfigPath(config ? config : ""));
    std::string summary = "host configuration " + host->ConfigFile() + (host->DeviceNames().size() == 1 &&
                          host->Address(host->DeviceNames().front()).empty() ? " (not there or empty: one default device)" : "");
    for (const std::string& name : host->DeviceNames()) {
      const std::string listed = host->Address(name);
      if (listed.empty() || listed == clsQuorvelUnit::kDefaultAddress) {
        host->OverrideDeviceValue(name, "Address", sim::kDefaultResource);
        host->OverrideDeviceValue(name, "Interface", "60");
        summary += "; " + name + ": embedded simulator (" + sim::kDefaultResource + ")";
      } else {
        summary += "; " + name + ": " + listed;
      }
    }
    platform::Services platform;
    platform.visa = [](const std::string& resource) {
      auto control = visa::MakeNetworkVisa(resource);
      return control ? control : sim::MakeInProcessVisa(resource);
    };
    defaults::Install(host->services(), platform);
    current = std::move(host);
    Copy(summary, message, size);
    return 0;
  } catch (const std::exception& e) {
    Copy(e.what(), message, size);
    return 1;
  } catch (...) {
    Copy("unknown failure", message, size);
    return 1;
  }
}

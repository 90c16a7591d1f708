#include "comhost/HostInstall.h"

#include <memory>
#include <string>

#include "driver/Defaults.h"
#include "driver/clsQuorvelUnit.h"
#include "platform/Desktop.h"
#include "refhost/ReferenceHost.h"
#include "sim/InProcessVisa.h"
#include "visa/Network.h"

namespace comhost {

std::string InstallHost(const std::string& config) {
  static std::shared_ptr<host::ReferenceHost> current;
  auto host = host::ReferenceHost::Open(host::ReferenceHost::ConfigPath(config));
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
  // The system's message boxes and event pump where it has them (Windows),
  // else the headless stand-ins.
  platform::Services platform = platform::DesktopServices();
  platform.visa = [](const std::string& resource) {
    auto control = visa::MakeNetworkVisa(resource);
    return control ? control : sim::MakeInProcessVisa(resource);
  };
  defaults::Install(host->services(), platform);
  current = std::move(host);
  return summary;
}

}  // namespace comhost

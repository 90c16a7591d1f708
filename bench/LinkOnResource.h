// The SCPI link alone, connected to a resource: what the link itself costs,
// without the rest of the driver object.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "io/ScpiLink.h"
#include "platform/Headless.h"
#include "testsupport/RecordingHost.h"

struct LinkOnResource {
  std::shared_ptr<host::RecordingHost> host = host::RecordingHost::Create();  // its pause returns at once
  platform::HeadlessPlatform plat;
  io::ScpiLink link{host->services(), plat.services(), "clsQuorvelUnit"};

  explicit LinkOnResource(const std::string& resource) {
    host->traceEnabled = false;
    link.SetResourceName(resource);
    link.CreateForm();
    if (!link.Open()) throw std::runtime_error("no unit answers at " + resource);
  }
};

// The command layer alone, on fields of its own, connected to a resource:
// what the driver itself costs, without the rest of the driver object.
#pragma once

#include <memory>
#include <string>

#include "host/RecordingHost.h"
#include "io/CommandLayer.h"
#include "platform/Headless.h"

struct LayerOnFields {
  vb::Long status = 1, interfaceCode = 60, errStatus = 0, sysErr = 0, logOption = 0;
  bool done = true, pending = false, abort = false;
  std::unique_ptr<io::frmVISA> form = std::make_unique<io::frmVISA>();
  std::shared_ptr<host::RecordingHost> host = host::RecordingHost::Create();  // its pause returns at once
  host::Services services = host->services();
  platform::HeadlessPlatform plat;
  platform::Services platformServices = plat.services();
  io::CommandLayer layer{{status, interfaceCode, done, pending, abort, errStatus, sysErr, logOption, form},
                         services, platformServices, "clsQuorvelUnit"};

  explicit LayerOnFields(const std::string& resource) {
    host->traceEnabled = false;
    form->cwVisa1.SetResourceName(resource);
    form->cwVisa1.Open();
    form->cwVisa1.Options().SetBool(io::kOptionTermCharEnabled, true);
  }
};

// The real driver on the recording host, connected in process to a fresh
// simulated unit of its own.
#pragma once

#include <atomic>
#include <string>

#include "Probe.h"
#include "sim/InProcessVisa.h"
#include "sim/Zentrix8.h"

struct SimulatedUnit : DriverFixture {
  visa::VisaRegistration registration = sim::RegisterInProcessVisa();
  std::string name = "Test" + std::to_string(++Counter());
  std::shared_ptr<sim::Zentrix8> model;

  explicit SimulatedUnit(sim::Scenario scenario = {}, bool connect = true, long timeoutMs = 0)
      : model(sim::Zentrix8::Replace(name, std::move(scenario))) {
    model->SetTimeScale(0);  // operations complete at once; the driver still polls for them
    auto& device = AddDevice("Z1");
    device.address = "SIM::" + name + "::INSTR";
    device.timeout = timeoutMs;
    unit->clsDevice_Name("Z1");
    if (connect) unit->clsDevice_Status(1);
  }
  static std::atomic<int>& Counter() {
    static std::atomic<int> n{0};
    return n;
  }
};

// Test access to the driver's private state and operations.
#pragma once

#include <memory>

#include "driver/clsQuorvelUnit.h"
#include "testsupport/RecordingHost.h"
#include "platform/Headless.h"
#include "testsupport/ScriptedVisa.h"

struct clsQuorvelUnitProbe {
  static PortSettings& Port(clsQuorvelUnit& u, long s) { return u.m_Port(s); }
  static double& Attenuator(clsQuorvelUnit& u, long a) { return u.m_Attenuator(a); }
  static void UpdateSampling(clsQuorvelUnit& u, long port) { u.UpdateSampling(port); }
  static void InitPortDefaults(clsQuorvelUnit& u) { u.InitPortDefaults(); }
  static void ResetUnitCaches(clsQuorvelUnit& u) { u.ResetUnitCaches(); }
  static bool ReadConfig(clsQuorvelUnit& u) { return u.ReadConfig(); }
  static bool WriteConfig(clsQuorvelUnit& u) { return u.WriteConfig(); }
  static void SetSettings(clsQuorvelUnit& u, std::shared_ptr<host::ISettings> s) { u.m_Settings = std::move(s); }
  static bool HasSettings(const clsQuorvelUnit& u) { return u.m_Settings != nullptr; }
  static bool HasConnection(const clsQuorvelUnit& u) { return u.m_dvlCon != nullptr; }
  static vb::Long& LogOption(clsQuorvelUnit& u) { return u.m_LogOption; }
  static vb::Long& SumPortMask(clsQuorvelUnit& u) { return u.m_SumPortMask; }
  static vb::Long& SysErrOverflow(clsQuorvelUnit& u) { return u.m_SysErrOverflow; }
  static std::optional<std::vector<AttTable>>& AttTables(clsQuorvelUnit& u) { return u.m_AttTables; }
  static void NewParameter(clsQuorvelUnit& u) { u.m_clsDialog_NewParameter(); }
  static void CheckDevicePhysical(clsQuorvelUnit& u, vb::Long wanted) { u.CheckDevicePhysical(wanted); }
  // The unit's session: status, interface, tracked operation, error status.
  static io::ScpiLink& Link(clsQuorvelUnit& u) { return u.m_Link; }
  static void RoundAttenuatorStep(AttTableProp& p) { clsQuorvelUnit::RoundAttenuatorStep(p); }
  static vb::Long DialogType(const clsQuorvelUnit& u) { return u.m_DialogType; }
  static bool HasSettingsObject(const clsQuorvelUnit& u) { return u.m_Settings != nullptr; }
};

// A driver on a recording host and a headless platform.
struct DriverFixture {
  std::shared_ptr<host::RecordingHost> host = host::RecordingHost::Create();
  platform::HeadlessPlatform platform;
  std::unique_ptr<clsQuorvelUnit> unit;

  // `visa`: the driver's own VISA factory (else the process-wide registry serves it).
  explicit DriverFixture(visa::VisaFactory visa = {}) {
    platform::Services services = platform.services();
    services.visa = std::move(visa);
    unit = std::make_unique<clsQuorvelUnit>(host->services(), services);
  }
  host::RecordingHost::Device& AddDevice(const std::string& name) {
    auto& d = host->devices[name];
    d.address = "TCPIP::127.0.0.1::inst0::INSTR";
    d.description = "Zentrix8 on the bench";
    return d;
  }
};

// A driver connected to the scripted VISA double ("SCRIPTED::Z1"): named,
// and the presence check has opened the session.
struct ConnectedDriver : DriverFixture {
  std::shared_ptr<visa::ScriptedVisa> visa = visa::ScriptedVisa::Create();
  visa::VisaRegistration registration = visa->Install("SCRIPTED::");

  explicit ConnectedDriver(bool connect = true) {
    AddDevice("Z1").address = "SCRIPTED::Z1";
    unit->clsDevice_Name("Z1");
    if (connect) clsQuorvelUnitProbe::CheckDevicePhysical(*unit, 1);
    host->traces.clear();
  }
  io::ScpiLink& cmd() { return clsQuorvelUnitProbe::Link(*unit); }
  // The ESR answers of a completion wait: `zeros` polls without completion, then done.
  void ExpectCompletion(int zeros, const std::string& systemError = "0,\"No error\"\n") {
    for (int i = 0; i < zeros; ++i) visa->Expect("*ESR?", {"0\n"});
    visa->Expect("*ESR?", {"1\n"});
    visa->Expect(":SYSTEM:ERR:ALL?", {systemError});
  }
};

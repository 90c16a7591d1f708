// The host's device interface: naming and the host data refresh.
#include "driver/clsQuorvelUnit.h"
#include "driver/modMain.h"

void clsQuorvelUnit::clsDevice_Name(const std::string& Name) {
  Traced("Let clsDevice_Name", [&](io::ErrorFrame& f) {
    f.Step([&] {
      m_Name = Name;
      m_Link.MarkUnitGone();
    });
    f.Step([&] { m_Settings = host::Require(m_Host.utility).CreateSettings(1, 10, "dummy", 0, 0); });
    f.Step([&] { ReadConfig(); });
    f.Step([&] { m_dvlCon = host::Require(m_Host.deviceList).Connection(); });
    f.Step([&] { m_DeviceType = host::Require(m_Host.deviceList).DeviceType(m_Name); });
    f.Step([&] { m_clsDialog_NewParameter(); });
    f.Step([&] {
      m_Info.Address = m_Link.ResourceName();
      // The naming defaults; UpdateSampling is not run here, so the sample
      // counts stay as the last derivation left them.
      m_MinFrequency = kMinFrequency;
      m_MaxFrequency = kMaxFrequency;
      m_AttTables.emplace();
      m_SumPortMask = 0;
      for (vb::Long s = 1; s <= 8; ++s) {
        PortSettings& p = m_Port(s);
        p.Frequency = m_MinFrequency;
        p.MeasTime = 0.001;
        p.SampleRate = 1000000;
        p.SubSampleRate = 0;
      }
    });
    f.Step([&] { m_Settings.reset(); });
  });
}

void clsQuorvelUnit::m_clsDialog_NewParameter() {
  // Each step on its own: a failing host look-up is skipped, the rest runs.
  auto attempt = [](auto&& step) {
    try {
      step();
    } catch (...) {
    }
  };
  attempt([&] { m_Description = host::Require(m_Host.deviceList).Description(m_Name); });
  // A failing interface look-up keeps the interface code the driver has,
  // rather than dropping it to 0 and with it every unit access.
  attempt([&] {
    const vb::Long code = host::Require(m_Host.deviceList).Interface(m_Name);
    if (code == kInterfaceVisa) {
      // The link keeps the resource from here on, for every open and reconnect.
      attempt([&] { m_Link.SetResourceName(host::Require(m_Host.deviceList).Address(m_Name)); });
      attempt([&] { m_Link.SetTimeout(host::Require(m_Host.deviceList).Timeout(m_Name)); });
      m_Link.CreateForm();
    }
    m_Link.SetInterface(code);
  });
  attempt([&] {
    const host::DeviceRecord record = host::Require(m_Host.deviceList).GetDeviceRecord(m_Name);
    m_Info.SerialNumber = vb::Trim(record[host::kDeviceRecordSerialNumber]);
  });
}

bool clsQuorvelUnit::ReadConfig() {
  return Traced("ReadConfig", [&](io::ErrorFrame& f) {
    f.Step([&] { m_LogOption = 0; });
    const std::string stored =
        f.Step([&] { return host::Require(m_Settings).ReadValue(m_Name, "Logging Option", "0"); });
    // Only the whole number 1 sets the option; any other value leaves it clear.
    if (vb::Val(stored) == 1) m_LogOption |= 1;
    return true;
  });
}

bool clsQuorvelUnit::WriteConfig() {
  return Traced("WriteConfig", [&](io::ErrorFrame& f) {
    f.Step([&] { host::Require(m_Settings).WriteValue(m_Name, "Logging Option", (m_LogOption & 1) ? "1" : "0"); });
    return true;
  });
}

void clsQuorvelUnit::clsDevice_Status(vb::Long Status) {
  if (Status == m_Link.Status()) return;
  m_Link.SetStatus(Status);
  clsDevice_Check();
  if (m_Link.Status() == 1) clsDevice_Initialize();
}

void clsQuorvelUnit::clsDevice_Check() {
  Traced("clsDevice_Check", [&](io::ErrorFrame& f) { f.Step([&] { CheckDevicePhysical(m_Link.Status()); }); });
}

void clsQuorvelUnit::clsDevice_Initialize() {
  const auto describe = [&](const vb::Error& e) { return "QuorvelUnit-" + m_Name + ": " + e.Description(); };
  Traced(
      "clsDevice_Initialize",
      [&](io::ErrorFrame&) {
        if (m_Link.Interface() != kInterfaceVisa) return;
        try {
          ClearUnitFlags();
          WriteCmd(BuildCmd(modMain::cmdReset, modMain::ckSetting, 0));
          auto identify = [&] {
            WriteCmd(std::string("*IDN?") + '\n');
            return vb::Split(ReadAnswer(), ",");
          };
          std::vector<std::string> fields = identify();
          if (fields.size() < 2) {
            // Reconnect once and ask again.
            m_Link.Reconnect();
            fields = identify();
          }
          if (fields.size() < 2) vb::Raise(4011);
          // Maker and model are not kept; a short answer is an index error.
          if (fields.size() < 3) vb::Raise(vb::err::SubscriptOutOfRange);
          m_Info.SerialNumber = vb::Trim(fields[2]);
          if (fields.size() < 4) vb::Raise(vb::err::SubscriptOutOfRange);
          m_Info.FirmwareVersion = vb::Trim(fields[3]);
          m_Link.MarkUnitPresent();
        } catch (const vb::Error& e) {
          // A unit that cannot be reached leaves the driver quietly in simulation.
          const long n = e.Number();
          if (n != visa::ERROR_VISA_OPEN && n != visa::ERROR_VISA_IO && n != 4999) throw;
          m_Link.MarkUnitGone();
          clsDevice_Check();
        }
      },
      io::FrameOptions{{}, describe});
}

namespace {
// One tab list for every driver object: refilled only by a service dialog.
std::vector<host::TabEntry>& SharedTabs() {
  static std::vector<host::TabEntry> tabs;
  return tabs;
}
constexpr vb::Long kDialogContext = 4108;
constexpr vb::Long kServiceDialog = 4;
}  // namespace

const std::vector<host::TabEntry>& clsQuorvelUnit::TabList() { return SharedTabs(); }

void clsQuorvelUnit::clsDevice_ShowDeviceDialog(vb::Long DialogType, std::shared_ptr<host::ISettings> Settings,
                                                const std::string&) {
  const auto describe = [&](const vb::Error& e) { return "QuorvelUnit-" + m_Name + ": " + e.Description(); };
  Traced(
      "clsDevice_ShowDeviceDialog",
      [&](io::ErrorFrame& f) {
        f.Step([&] {
          m_clsDialog = host::Require(m_Host.deviceList).DeviceDialog(m_Name);
          // The host announces changed device data through this event.
          m_clsDialogEvents = host::Require(m_clsDialog).OnNewParameter([this] {
            try {
              m_clsDialog_NewParameter();
            } catch (...) {
            }
          });
        });
        m_Settings = std::move(Settings);
        if (DialogType == 0) {
          f.Step([&] { ReadConfig(); });
          f.Step([&] { WriteConfig(); });
        } else if (DialogType == kServiceDialog) {
          m_DialogType = kServiceDialog;
          f.Step([&] {
            m_TestForm = CreateServiceForm(m_Host, m_Platform);
            m_TestForm->SetParams(DialogType, *this);
          });
          f.Step([&] {
            const std::string title = host::Require(m_Host.text).GetText(host::kTextMeasurementPage);
            SharedTabs() = {{title, m_TestForm->FrameHandle(ServiceFrame::fraTest)},
                            {"Burstsearch", m_TestForm->FrameHandle(ServiceFrame::fraBurstsearch)},
                            {"Firmware Update", m_TestForm->FrameHandle(ServiceFrame::fraFWUpdate)}};
            m_clsDialog->SetCaption(title);
            m_TestForm->SetHelpContextID(kDialogContext);
          });
        }
        f.Step([&] {
          m_clsDialog->SetTabs(SharedTabs());
          m_clsDialog->SetContext(kDialogContext);
          m_clsDialog->ShowDialog(DialogType);
        });
      },
      io::FrameOptions{{}, describe});
}

void clsQuorvelUnit::clsDevice_StartTest() {
  Traced("clsDevice_StartTest", [](io::ErrorFrame&) {});
}

void clsQuorvelUnit::clsDevice_StopTest() {
  Traced("clsDevice_StopTest", [&](io::ErrorFrame& f) {
    if (m_Link.Status() == 1) f.Step([&] { ResetQuorvelUnit(); });
  });
}

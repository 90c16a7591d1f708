// The presence check: opens or closes the VISA session and sets m_Status.
#include "driver/clsQuorvelUnit.h"

void clsQuorvelUnit::CheckDevicePhysical(vb::Long wanted) {
  Traced("CheckDevicePhysical", [&](io::ErrorFrame& f) {
    if (wanted == 0) {
      m_Status = 0;
      if (m_Interface == kInterfaceVisa && m_VisaForm) f.Step([&] { Visa().Close(); });
      ResetUnitCaches();
      return;
    }
    if (m_Interface != kInterfaceVisa) return;
    if (!f.Step([&] { return host::Require(m_Host.deviceList).IsAvailable(m_Name); })) {
      m_Status = 0;
      ResetUnitCaches();
      return;
    }
    if (!m_VisaForm) m_VisaForm = std::make_unique<io::frmVISA>();
    f.Step([&] { Visa().SetResourceName(m_Address); });
    bool opened = true;
    try {
      Visa().Open();
    } catch (...) {
      opened = false;  // not present; no error reaches the caller
    }
    if (opened) {
      f.Step([&] { Visa().Options().SetBool(io::kOptionTermCharEnabled, true); });
      if (m_Platform.events) m_Platform.events->DoEvents();
      f.Step([&] { Visa().Options().SetBool(io::kOptionTermCharEnabled, true); });
      if (Visa().Status() == 0) {
        m_Status = 1;
        return;
      }
    }
    // Not present: through our own status property, which closes the session.
    f.Step([&] { clsDevice_Status(0); });
    ResetUnitCaches();
  });
}

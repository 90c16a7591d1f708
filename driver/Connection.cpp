// The presence check: opens or closes the VISA session and sets the status.
#include "driver/clsQuorvelUnit.h"

void clsQuorvelUnit::CheckDevicePhysical(vb::Long wanted) {
  Traced("CheckDevicePhysical", [&](io::ErrorFrame& f) {
    const bool visa = m_Link.Interface() == kInterfaceVisa;
    if (wanted == 0) {
      m_Link.MarkUnitGone();
      if (visa && m_Link.HasForm()) f.Step([&] { m_Link.Close(); });
      ResetUnitCaches();
      return;
    }
    if (!visa) return;
    if (!f.Step([&] { return host::Require(m_Host.deviceList).IsAvailable(m_Name); })) {
      m_Link.MarkUnitGone();
      ResetUnitCaches();
      return;
    }
    if (f.Step([&] { return m_Link.Open(); })) return;  // present: status 1
    // Not present: through our own status property, which closes the session.
    f.Step([&] { clsDevice_Status(0); });
    ResetUnitCaches();
  });
}

std::string clsQuorvelUnit::ScpiExchange(const std::string& text) {
  return Traced("ScpiExchange", [&](io::ErrorFrame& f) {
    return f.Step([&] { return m_Link.Exchange(text, text.find('?') != std::string::npos); });
  });
}

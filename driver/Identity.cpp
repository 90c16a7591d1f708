// Unit identity, reset and part data.
#include "driver/clsQuorvelUnit.h"
#include "io/modMain.h"

void clsQuorvelUnit::ResetQuorvelUnit() {
  Traced("ResetQuorvelUnit", [&](io::ErrorFrame& f) {
    f.Step([&] { MeasurementAbort(); });
    // The abort raised m_Abort on a connected unit; clearing it lets the
    // reset command pass the completion wait.
    f.Step([&] {
      m_OpcDone = m_OpcPending = false;
      m_ErrStatus = 0;
      m_SysErrOverflow = 0;
      m_Abort = false;
    });
    f.Step([&] { WriteCmd(BuildCmd(modMain::cmdReset, modMain::ckSetting, 0)); });
    f.Step([&] { InitPortDefaults(); });
    // Cleared right after the reset was sent: the next command does not wait for it.
    f.Step([&] {
      m_OpcDone = m_OpcPending = false;
      m_ErrStatus = 0;
      m_SysErrOverflow = 0;
    });
  });
}

// Measurement control: start, abort and read a measurement.
#include "driver/clsQuorvelUnit.h"
#include "io/modMain.h"

void clsQuorvelUnit::MeasurementAbort() {
  Traced("Abort", [&](io::ErrorFrame& f) {
    if (!m_Cmd.Connected()) return;
    // Straight to the control, not through WriteCmd: this runs while another
    // call of this object waits for the operation being aborted.
    f.Step([&] {
      const std::string cmd = BuildCmd(modMain::cmdAbort, modMain::ckSetting, -1);
      Visa().Write(cmd);
      if (Visa().Status() < 0) {
        m_Status = 0;
        vb::Raise(io::ERROR_VISA_IO, kObjectName, "VISA Cmd: " + cmd);
      }
    });
    m_OpcPending = false;
    m_OpcDone = false;
    m_ErrStatus |= esABORT;
    m_Abort = true;
  });
}

// A program of a C++ user: installs the reference host (the embedded
// simulator when the host configuration names no unit), makes a driver
// object, identifies the unit and measures the RMS power on DUT1.
//   consumer [CONFIG]
#include <cstdio>
#include <exception>

#include "comhost/QuorvelHost.h"
#include "driver/clsQuorvelUnit.h"

int main(int argc, char** argv) {
  char message[2048];
  if (QuorvelHost_Install(argc > 1 ? argv[1] : nullptr, message, sizeof message) != 0) {
    std::fprintf(stderr, "consumer: the host could not be installed: %s\n", message);
    return 1;
  }
  std::printf("%s\n", message);
  try {
    clsQuorvelUnit unit;
    unit.clsDevice_Name("Zentrix8");
    unit.clsDevice_Status(1);  // opens the session
    unit.clsDevice_Initialize();
    const host::DeviceInfo info = unit.clsDevice_Info();
    std::printf("unit: serial %s, firmware %s at %s\n", info.SerialNumber.c_str(), info.FirmwareVersion.c_str(),
                info.Address.c_str());
    unit.SetFrequency(2.4e9, ppDUT1, true);
    unit.SetMeasTime(0.01, ppDUT1, true);
    const std::string queue = unit.GetSystemError();
    if (queue.rfind("0,", 0) != 0) {
      std::fprintf(stderr, "consumer: the unit refused the settings: %s\n", queue.c_str());
      return 1;
    }
    const double rms = unit.GetRMS(ppDUT1);
    const vb::Long status = unit.GetErrorStatus();
    if (status != esNONE) {
      std::fprintf(stderr, "consumer: error status %d: %s\n", status, unit.GetErrorDescription(status).c_str());
      return 1;
    }
    std::printf("DUT1: %.2f dBm RMS\n", rms);
  } catch (const vb::Error& e) {
    std::fprintf(stderr, "consumer: error %ld: %s\n", e.Number(), e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "consumer: %s\n", e.what());
    return 1;
  }
  return 0;
}

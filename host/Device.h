// The host's generic device interface, which every driver of the host
// implements: name, address, status, check, initialise, settings files,
// device dialog, start and stop of a test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Settings.h"
#include "core/Export.h"
#include "core/Vb.h"

namespace host {

// What clsDevice_Info reports to the host.
struct DeviceInfo {
  std::string InfoText;
  std::string FirmwareVersion;
  std::string SerialNumber;
  std::string Address;
};

// Members keep the names under which a driver implements them.
class QUORVEL_API clsDevice {
 public:
  virtual ~clsDevice() = default;
  virtual std::string clsDevice_Name() const = 0;
  virtual void clsDevice_Name(const std::string& Name) = 0;
  virtual std::string clsDevice_Description() const = 0;
  virtual std::string clsDevice_DeviceType() const = 0;
  virtual vb::Long clsDevice_Interface() const = 0;
  virtual vb::Long clsDevice_Address() const = 0;
  virtual void clsDevice_Status(vb::Long Status) = 0;
  virtual vb::Long clsDevice_Status() const = 0;
  virtual DeviceInfo clsDevice_Info() const = 0;
  virtual double clsDevice_MaxFrequency() const = 0;
  virtual double clsDevice_MinFrequency() const = 0;
  virtual void clsDevice_ShowDeviceDialog(vb::Long DialogType, std::shared_ptr<ISettings> Settings,
                                          const std::string& Text) = 0;
  virtual void clsDevice_Initialize() = 0;
  virtual void clsDevice_Check() = 0;
  virtual void clsDevice_WriteSettingsFile(std::shared_ptr<ISettings>& file, const std::string& Section) = 0;
  virtual void clsDevice_ReadSettingsFile(std::shared_ptr<ISettings>& file, const std::string& Section) = 0;
  virtual void clsDevice_StartTest() = 0;
  virtual void clsDevice_StopTest() = 0;
  virtual std::vector<vb::Long> clsDevice_GetInterfaces(const std::string& DeviceType) = 0;
  virtual std::string clsDevice_GetSettingsString(std::shared_ptr<ISettings>& file, const std::string& Section) = 0;
};

}  // namespace host

// The host's device list: every look-up is keyed by the device name.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "host/DeviceDialog.h"
#include "core/Export.h"

namespace host {

// Eleven strings of the host's device record; the ninth (index 8) is the serial number.
using DeviceRecord = std::array<std::string, 11>;
inline constexpr std::size_t kDeviceRecordSerialNumber = 8;

// The host's connection to its device list; the driver only keeps it.
class QUORVEL_API IDeviceListConnection {
 public:
  virtual ~IDeviceListConnection() = default;
};

class QUORVEL_API IDeviceList {
 public:
  virtual ~IDeviceList() = default;
  virtual std::shared_ptr<IDeviceListConnection> Connection() = 0;
  virtual std::shared_ptr<IDeviceDialog> DeviceDialog(const std::string& name) = 0;
  virtual std::string Description(const std::string& name) = 0;
  virtual long Interface(const std::string& name) = 0;  // 60 = reached over VISA
  virtual std::string Address(const std::string& name) = 0;
  virtual DeviceRecord GetDeviceRecord(const std::string& name) = 0;
  virtual std::string DeviceType(const std::string& name) = 0;
  virtual bool IsAvailable(const std::string& name) = 0;
  // The time-out of the device's session for each write and read, in ms;
  // 0 leaves the transport's own (hosts that keep none need not answer).
  virtual long Timeout(const std::string&) { return 0; }
};

}  // namespace host

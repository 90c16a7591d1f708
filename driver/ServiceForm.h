// The driver's service form as the driver sees it.  The dialog registers a
// factory for the real form (dialog::RegisterServiceForm); without one the
// driver makes a headless form that has frame handles and keeps the
// firmware progress text.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Export.h"
#include "core/Vb.h"
#include "host/Services.h"
#include "platform/Platform.h"

class clsQuorvelUnit;

enum class ServiceFrame { fraTest, fraBurstsearch, fraFWUpdate };

class QUORVEL_API IServiceForm {
 public:
  virtual ~IServiceForm() = default;
  // Keeps the driver and fills the form; Mode is accepted and not used.
  virtual void SetParams(vb::Long Mode, clsQuorvelUnit& quorvelUnit) = 0;
  // Window handle of a frame handed to the host's dialog as a page.
  virtual vb::Long FrameHandle(ServiceFrame frame) const = 0;
  virtual void SetHelpContextID(vb::Long context) = 0;
  // Caption of the firmware tab's progress label (lb_fw_status).
  virtual void SetFirmwareStatus(const std::string& caption) = 0;
};

// Makes the form with the services of the driver that shows it.
using ServiceFormFactory =
    std::function<std::unique_ptr<IServiceForm>(const host::Services& host, const platform::Services& platform)>;

// The dialog's factory; an empty one restores the headless form.  Gives
// back the factory it replaces.
QUORVEL_API ServiceFormFactory SetServiceFormFactory(ServiceFormFactory factory);
QUORVEL_API std::unique_ptr<IServiceForm> CreateServiceForm(const host::Services& host,
                                                            const platform::Services& platform);

class QUORVEL_API HeadlessServiceForm : public IServiceForm {
 public:
  HeadlessServiceForm();
  void SetParams(vb::Long Mode, clsQuorvelUnit& quorvelUnit) override;
  vb::Long FrameHandle(ServiceFrame frame) const override;
  void SetHelpContextID(vb::Long context) override { helpContext_ = context; }
  void SetFirmwareStatus(const std::string& caption) override;
  const std::string& FirmwareStatus() const { return firmwareStatus_; }
  // Every caption the label showed, oldest first (a progress sink may watch it).
  const std::vector<std::string>& FirmwareStatusHistory() const { return firmwareHistory_; }
  std::function<void(const std::string&)> onFirmwareStatus;
  vb::Long HelpContextID() const { return helpContext_; }
  clsQuorvelUnit* Driver() const { return driver_; }

 private:
  vb::Long handles_[3];
  vb::Long helpContext_ = 0;
  std::string firmwareStatus_;
  std::vector<std::string> firmwareHistory_;
  clsQuorvelUnit* driver_ = nullptr;
};

// The firmware update frame (fraFWUpdate): choosing a file and uploading it.
#include "dialog/frmQuorvelUnitTest.h"

#include "dialog/Texts.h"
#include "driver/clsQuorvelUnit.h"
#include "platform/PointerRestore.h"

namespace dialog {

void frmQuorvelUnitTest::cmdSelFirmware_Click() {
  if (!simulation_ && platform_.fileDialog) {
    const std::string chosen = platform_.fileDialog->ShowOpen("All Files (*.*)|*.*|Zentrix Firmware (*.fw)|*.fw", 2, firmwarePath_);
    if (!chosen.empty()) {
      firmwarePath_ = chosen;
      const std::size_t slash = chosen.find_last_of("\\/");
      firmwareFileName_ = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
      lb_fw_filename(1).Caption(firmwareFileName_);
      lb_fw_filename(1).ToolTipText(chosen);
      if (chosen.size() >= 3 && vb::Upper(chosen.substr(chosen.size() - 3)) == ".FW") cmdStartFirwareUpdate.Enabled(true);
    }
  }
  lb_fw_status.Caption("");
}

void frmQuorvelUnitTest::cmdStartFirwareUpdate_Click() {
  cmdStartFirwareUpdate.Enabled(false);
  fraFWUpdate.Enabled(false);
  fraTest.Enabled(false);
  lb_fw_status.Caption("");
  auto reenable = [&] {
    cmdStartFirwareUpdate.Enabled(true);
    fraFWUpdate.Enabled(true);
    fraTest.Enabled(true);
  };
  const long answer = platform_.messageBox
                          ? platform_.messageBox->Show("Are you sure to perform the firmware upload to the device?",
                                                       platform::vbYesNoCancel + platform::vbExclamation, "")
                          : platform::vbNo;
  if (answer == platform::vbYes && driver_) {
    int result = 0;
    try {
      result = driver_->Transfer_FirmwareFile(firmwarePath_);
    } catch (...) {
      // A failed transfer must not leave the tab unusable: say so, then pass the error on.
      lb_fw_status.Caption("Firmware update failed !");
      reenable();
      throw;
    }
    if (result < 0) {
      lb_fw_status.Caption("Firmware update failed !");
      if (platform_.messageBox) platform_.messageBox->Show("Selected file is not a Zentrix firmware.", platform::vbCritical, "Error");
    } else if (result == 1) {
      driver_->Device().clsDevice_Status(0);
      const std::string text = std::string("Firmware sucessfull uploaded to the Zentrix") + kCrLf + kCrLf +
                               "Device now is rebooting." + kCrLf + "State is set to virtual." + kCrLf + kCrLf +
                               "Please wait until the device has restarted.";
      lb_fw_status.Caption(text);
      lb_fw_version(1).Caption("");
      if (platform_.messageBox) platform_.messageBox->Show(text, platform::vbInformation, "");
    }
  }
  reenable();
}

}  // namespace dialog

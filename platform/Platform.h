// Our stand-ins for the platform the driver leans on: message boxes, the
// screen's mouse pointer, the window-event pump (DoEvents), the file dialog,
// and the way to the VISA control (its floor is visa/).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/Export.h"
#include "core/Vb.h"
#include "platform/System.h"

namespace visa {
class IVisaControl;
}

namespace platform {

// Makes the VISA control for a resource string (null: not served).
using VisaFactory = std::function<std::shared_ptr<visa::IVisaControl>(const std::string& resource)>;

// Message box buttons, icons and answers, with VB's values.
enum MsgBoxStyle : long {
  vbOKOnly = 0,
  vbOKCancel = 1,
  vbYesNoCancel = 3,
  vbYesNo = 4,
  vbCritical = 16,
  vbQuestion = 32,
  vbExclamation = 48,
  vbInformation = 64,
};
enum MsgBoxResult : long { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

// Mouse pointers, with VB's values.
enum MousePointer : long { vbDefault = 0, vbHourglass = 11, vbArrowHourglass = 13, vbCustom = 99 };

class QUORVEL_API IMessageBox {
 public:
  virtual ~IMessageBox() = default;
  // style = buttons + icon; the answer is one of MsgBoxResult.
  virtual long Show(const std::string& text, long style, const std::string& title) = 0;
};

class QUORVEL_API IMousePointer {
 public:
  virtual ~IMousePointer() = default;
  virtual long Get() = 0;
  virtual void Set(long pointer) = 0;
};

class QUORVEL_API IEventPump {
 public:
  virtual ~IEventPump() = default;
  // Runs pending window events; they may call back into the driver.
  virtual void DoEvents() = 0;
};

// The common file-open dialog.
class QUORVEL_API IFileDialog {
 public:
  virtual ~IFileDialog() = default;
  // Shows the dialog with a filter ("All Files (*.*)|*.*|Zentrix Firmware (*.fw)|*.fw"),
  // the filter shown first (counted from 1) and the file name to start from;
  // the chosen full path, or "" when the user cancelled.
  virtual std::string ShowOpen(const std::string& filter, long filterIndex, const std::string& fileName) = 0;
};

struct Services {
  std::shared_ptr<IMessageBox> messageBox;
  std::shared_ptr<IMousePointer> mouse;
  std::shared_ptr<IEventPump> events;
  std::shared_ptr<IFileDialog> fileDialog;
  // Makes the VISA control for a resource; when empty (or when it gives
  // null) the process-wide VisaRegistry serves the resource.
  VisaFactory visa;
};

// A new window handle, unique in the process.
QUORVEL_API vb::Long NewWindowHandle();

}  // namespace platform

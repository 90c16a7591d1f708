// The platform stand-ins on Qt: message boxes, the busy pointer, the event
// pump that keeps the window alive while the driver waits, the file dialog.
#pragma once

#include <memory>

#include "platform/Platform.h"

class QWidget;

namespace panel {

// `parent` (may be null) owns the message boxes and file dialogs.
platform::Services QtPlatform(QWidget* parent);

}  // namespace panel

// One Qt widget per control of the form model: the widget follows the
// model's change notifications, and what the user does goes back to the
// model's handlers.  Widgets carry the control's name as object name.
#pragma once

#include "dialog/Controls.h"

class QWidget;

namespace panel {

// The widget tree of a frame and everything in it.
QWidget* Render(dialog::Control& frame, QWidget* parent);

}  // namespace panel

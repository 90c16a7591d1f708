// One Qt widget per control of the form model: the widget follows the
// model's change notifications, and what the user does goes back to the
// model's handlers.  Widgets carry the control's name as object name.
#pragma once

#include <string>
#include <vector>

#include "dialog/Controls.h"

class QWidget;

namespace panel {

// The widget tree of a frame and everything in it.
QWidget* Render(dialog::Control& frame, QWidget* parent);

// A list box line as the window shows it in a fixed-width font: each tab
// goes to the next of the list's tab stops (dialog units, four to a
// character), beyond them to the next multiple of eight characters.
std::string ExpandTabs(const std::string& text, const std::vector<vb::Long>& stops);

}  // namespace panel

#include "dialog/Controls.h"

#include <algorithm>
#include <cmath>

namespace dialog {

Control::Control(std::string name, Kind kind, Control* container)
    : name_(std::move(name)), kind_(kind), container_(container) {
  if (container_) container_->children_.push_back(this);
}

void Control::OrderChildren(const std::vector<const Control*>& order) {
  std::vector<Control*> sorted;
  for (const Control* wanted : order)
    for (Control* c : children_)
      if (c == wanted) sorted.push_back(c);
  for (Control* c : children_)
    if (std::find(sorted.begin(), sorted.end(), c) == sorted.end()) sorted.push_back(c);
  children_ = std::move(sorted);
}

void Control::Changed(std::string_view property) {
  for (const auto& o : observers_) o(*this, property);
}

void Control::Caption(std::string caption) { Set(caption_, std::move(caption), "Caption"); }

void Control::Enabled(bool enabled) { Set(enabled_, enabled, "Enabled"); }

void Control::Visible(bool visible) { Set(visible_, visible, "Visible"); }

void Control::ToolTipText(std::string text) { Set(toolTip_, std::move(text), "ToolTipText"); }

void Control::FontBold(bool bold) { Set(bold_, bold, "FontBold"); }

void Control::ForeColor(std::uint32_t color) { Set(foreColor_, color, "ForeColor"); }

void Control::BackColor(std::uint32_t color) { Set(backColor_, color, "BackColor"); }

void CommandButton::Click() {
  // A disabled button, or one in a disabled frame, takes no clicks.
  for (const Control* c = this; c; c = c->Container())
    if (!c->Enabled()) return;
  RunClick();
}

void CheckBox::SetValue(vb::Long value) {
  value = value ? 1 : 0;
  if (value == value_) return;
  value_ = value;
  Changed("Value");
  RunClick();
}

void ListControl::Clear() {
  entries_.clear();
  index_ = -1;
  Changed("List");
}

void ListControl::AddItem(std::string text, vb::Long itemData) {
  entries_.push_back({std::move(text), itemData});
  Changed("List");
}

void ListControl::SetListIndex(vb::Long index) {
  if (index < -1 || index >= ListCount()) vb::Raise(vb::err::InvalidCall);
  index_ = index;
  Changed("ListIndex");
  RunClick();
}

vb::Long ListControl::ItemData(vb::Long index) const {
  if (index < 0 || index >= ListCount()) vb::Raise(vb::err::InvalidCall);
  return entries_[static_cast<std::size_t>(index)].itemData;
}

vb::Long ListControl::SelectedItemData() const { return index_ < 0 ? 0 : ItemData(index_); }

std::string ListControl::SelectedText() const {
  return index_ < 0 ? std::string() : entries_[static_cast<std::size_t>(index_)].text;
}

void ListControl::SetTabStops(std::vector<vb::Long> stops) {
  tabStops_ = std::move(stops);
  Changed("TabStops");
}

void ListControl::SetDropHeight(vb::Long pixels) {
  dropHeight_ = pixels;
  Changed("DropHeight");
}

NumericTextBox::NumericTextBox(std::string name, Control* container, Format format, double value)
    : Control(std::move(name), Kind::NumericTextBox, container), format_(std::move(format)) {
  Value(value);
}

void NumericTextBox::Value(double value) {
  value_ = value;
  Text(Display());
  Changed("Value");
}

std::string NumericTextBox::Display() const {
  std::string pattern = "0";
  if (format_.decimals > 0) pattern += "." + std::string(static_cast<std::size_t>(format_.decimals), '0');
  std::string text = vb::Format(value_ / std::pow(10.0, format_.exponent), pattern);
  const std::string unit = format_.dimension + format_.unit;
  return unit.empty() ? text : text + " " + unit;
}

void Timer::Interval(vb::Long ms) { Set(interval_, ms, "Interval"); }

}  // namespace dialog

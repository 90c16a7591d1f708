// The controls of the service form, as a model without a toolkit: each
// holds the properties the form's handlers use and tells its observers when
// one changes, so that a renderer can follow it and a test can read it.
// A user's action is a call: Click() on a button, SetValue() on a check box,
// SetListIndex() on a list, Tick() on a timer; each runs the form's handler
// as the window system would.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Export.h"
#include "core/Vb.h"

namespace dialog {

enum class Kind { Frame, Label, TextBox, NumericTextBox, CommandButton, CheckBox, ComboBox, ListBox, Timer };

// VB's colours: 0x00BBGGRR.
inline constexpr std::uint32_t kColorDefault = 0xFFFFFFFF;  // the system's colour
inline constexpr std::uint32_t kColorRed = 0x000000FF;
inline constexpr std::uint32_t kColorDarkRed = 0x00000080;
inline constexpr std::uint32_t kColorLightGrey = 0x00E0E0E0;

class QUORVEL_API Control {
 public:
  // Called with the control and the name of the property that changed.
  using Observer = std::function<void(const Control&, std::string_view property)>;

  Control(std::string name, Kind kind, Control* container = nullptr);
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& Name() const { return name_; }
  Kind ControlKind() const { return kind_; }
  Control* Container() const { return container_; }
  const std::vector<Control*>& Children() const { return children_; }

  // Caption of a label, button, check box or frame; text of a text box.
  const std::string& Caption() const { return caption_; }
  void Caption(std::string caption);
  const std::string& Text() const { return caption_; }
  void Text(std::string text) { Caption(std::move(text)); }
  bool Enabled() const { return enabled_; }
  void Enabled(bool enabled);
  bool Visible() const { return visible_; }
  void Visible(bool visible);
  const std::string& ToolTipText() const { return toolTip_; }
  void ToolTipText(std::string text);
  bool FontBold() const { return bold_; }
  void FontBold(bool bold);
  std::uint32_t ForeColor() const { return foreColor_; }
  void ForeColor(std::uint32_t color);
  std::uint32_t BackColor() const { return backColor_; }
  void BackColor(std::uint32_t color);

  void Observe(Observer observer) { observers_.push_back(std::move(observer)); }
  // Puts the listed children first, in this order (the layout's order).
  void OrderChildren(const std::vector<const Control*>& order);
  // The form's handler of this control's Click (or Timer) event.
  void OnClick(std::function<void()> handler) { onClick_ = std::move(handler); }

 protected:
  void Changed(std::string_view property);
  // Stores a property and tells the observers, when it changes.
  template <class T>
  void Set(T& field, T value, std::string_view property) {
    if (field == value) return;
    field = std::move(value);
    Changed(property);
  }
  void RunClick() {
    if (onClick_) onClick_();
  }

 private:
  std::string name_;
  Kind kind_;
  Control* container_;
  std::vector<Control*> children_;
  std::string caption_;
  bool enabled_ = true;
  bool visible_ = true;
  std::string toolTip_;
  bool bold_ = false;
  std::uint32_t foreColor_ = kColorDefault;
  std::uint32_t backColor_ = kColorDefault;
  std::vector<Observer> observers_;
  std::function<void()> onClick_;
};

using Frame = Control;
using Label = Control;
using TextBox = Control;

class QUORVEL_API CommandButton : public Control {
 public:
  using Control::Control;
  // The user clicks: the handler runs when the button and its frames are enabled.
  void Click();
};

class QUORVEL_API CheckBox : public Control {
 public:
  using Control::Control;
  vb::Long Value() const { return value_; }  // 0 cleared, 1 checked
  // As in VB, a change of the value from code runs the Click handler too.
  void SetValue(vb::Long value);
  // The user clicks: the value toggles.
  void Click() { SetValue(value_ ? 0 : 1); }

 private:
  vb::Long value_ = 0;
};

// A combo box (drop-down list) or a list box: entries with item data.
class QUORVEL_API ListControl : public Control {
 public:
  struct Entry {
    std::string text;
    vb::Long itemData = 0;
  };
  using Control::Control;
  void Clear();
  void AddItem(std::string text, vb::Long itemData = 0);
  vb::Long ListCount() const { return static_cast<vb::Long>(entries_.size()); }
  const std::vector<Entry>& Entries() const { return entries_; }
  // -1 when nothing is selected.
  vb::Long ListIndex() const { return index_; }
  // Selecting an entry, from code or by the user, runs the Click handler;
  // an index outside -1 .. ListCount-1 raises 5 (invalid argument).
  void SetListIndex(vb::Long index);
  // Item data of the selected entry; 0 when nothing is selected.
  vb::Long SelectedItemData() const;
  std::string SelectedText() const;
  vb::Long ItemData(vb::Long index) const;
  // Tab stops of a list box, in dialog units.
  const std::vector<vb::Long>& TabStops() const { return tabStops_; }
  void SetTabStops(std::vector<vb::Long> stops);
  // Height of the drop-down list in pixels.
  vb::Long DropHeight() const { return dropHeight_; }
  void SetDropHeight(vb::Long pixels);

 private:
  std::vector<Entry> entries_;
  vb::Long index_ = -1;
  std::vector<vb::Long> tabStops_;
  vb::Long dropHeight_ = 0;
};

using ComboBox = ListControl;
using ListBox = ListControl;

// The host's numeric text box: a value in base units shown with a unit,
// a dimension prefix ("G" with exponent 9 shows 5e9 as 5,000 G).
class QUORVEL_API NumericTextBox : public Control {
 public:
  struct Format {
    std::string unit;
    std::string dimension;
    vb::Long exponent = 0;
    vb::Long decimals = 3;
    double minimum = -1e308;
    double maximum = 1e308;
  };
  NumericTextBox(std::string name, Control* container, Format format, double value);
  double Value() const { return value_; }
  // The value as given from code; minimum and maximum bound what a user
  // types (the renderer's part), not what the form sets.
  void Value(double value);
  const Format& Properties() const { return format_; }
  // What the box shows: the value in its dimension, the decimals, the unit.
  std::string Display() const;

 private:
  Format format_;
  double value_ = 0;
};

class QUORVEL_API Timer : public Control {
 public:
  using Control::Control;
  vb::Long Interval() const { return interval_; }
  void Interval(vb::Long ms);
  // The interval passed: the Timer handler runs when the timer is enabled.
  void Tick() {
    if (Enabled()) RunClick();
  }

 private:
  vb::Long interval_ = 0;
};

// A control array: members by index, an index without a member raises 9.
template <class T>
class ControlArray {
 public:
  T& operator()(vb::Long index) const {
    for (const auto& [i, c] : members_)
      if (i == index) return *c;
    vb::Raise(vb::err::SubscriptOutOfRange);
  }
  void Add(vb::Long index, std::unique_ptr<T> control) { members_.emplace_back(index, std::move(control)); }
  vb::Long LBound() const { return members_.empty() ? 0 : members_.front().first; }
  vb::Long UBound() const { return members_.empty() ? -1 : members_.back().first; }

 private:
  std::vector<std::pair<vb::Long, std::unique_ptr<T>>> members_;
};

}  // namespace dialog

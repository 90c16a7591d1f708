#include "Renderer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <QHBoxLayout>

namespace panel {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Captions up to this long are labels of a field and are not wrapped.
constexpr int kOneLineCaption = 32;

// Enabled, visible, caption, tooltip, bold and colours of every widget.
template <class W>
void Follow(dialog::Control& c, W* widget, std::function<void()> caption) {
  QPointer<W> w(widget);
  widget->setObjectName(Q(c.Name()));
  auto apply = [w, &c, caption](std::string_view property) {
    if (!w) return;
    if (property.empty() || property == "Enabled") w->setEnabled(c.Enabled());
    // A label with nothing to say takes no room (an error status with no error is no grey bar).
    const bool empty = c.ControlKind() == dialog::Kind::Label && c.Caption().empty();
    if (property.empty() || property == "Visible" || property == "Caption") w->setVisible(c.Visible() && !empty);
    if (property.empty() || property == "ToolTipText") w->setToolTip(Q(c.ToolTipText()));
    if (property.empty() || property == "FontBold") {
      QFont f = w->font();
      f.setBold(c.FontBold());
      w->setFont(f);
    }
    if (property.empty() || property == "ForeColor" || property == "BackColor") {
      QString style;
      auto rgb = [](std::uint32_t vb) { return QColor(int(vb & 0xFF), int((vb >> 8) & 0xFF), int((vb >> 16) & 0xFF)).name(); };
      if (c.ForeColor() != dialog::kColorDefault) style += "color:" + rgb(c.ForeColor()) + ";";
      if (c.BackColor() != dialog::kColorDefault) style += "background-color:" + rgb(c.BackColor()) + ";";
      if (!style.isEmpty()) w->setStyleSheet(style);
    }
    if ((property.empty() || property == "Caption") && caption) caption();
  };
  apply({});
  c.Observe([apply](const dialog::Control&, std::string_view property) { apply(property); });
}

QWidget* Leaf(dialog::Control& c, QWidget* parent);
QWidget* FrameWidget(dialog::Control& c, QWidget* parent);

// Whether label `c` is element 1 of the label array whose element 0 is `before`.
bool IsValueOf(const dialog::Control& c, const dialog::Control& before) {
  if (before.ControlKind() != dialog::Kind::Label) return false;
  const std::string& a = before.Name();
  const std::string& b = c.Name();
  return a.size() > 3 && a.size() == b.size() && a.compare(a.size() - 3, 3, "(0)") == 0 &&
         b.compare(b.size() - 3, 3, "(1)") == 0 && a.compare(0, a.size() - 3, b, 0, b.size() - 3) == 0;
}

// Controls in rows: a label with the controls after it up to the next
// label, and a label that only follows a control (a unit) at its end.
void AddRows(QGridLayout* grid, const std::vector<dialog::Control*>& controls, QWidget* box) {
  int row = 0, column = 0;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    dialog::Control* child = controls[i];
    if (child->ControlKind() == dialog::Kind::Timer) {
      Leaf(*child, box);
      continue;
    }
    const bool label = child->ControlKind() == dialog::Kind::Label;
    const bool nextIsField = i + 1 < controls.size() && controls[i + 1]->ControlKind() != dialog::Kind::Label &&
                             controls[i + 1]->ControlKind() != dialog::Kind::Frame;
    const bool unit = label && column >= 2 && !nextIsField;
    // A caption and its value as two labels of one array (lb_fw_version(0), (1)): one row.
    // (Not when the second labels an input of its own: "Measurement Values:", "RMS" [box].)
    const auto inputKind = [](dialog::Kind k) {
      return k == dialog::Kind::TextBox || k == dialog::Kind::NumericTextBox || k == dialog::Kind::ComboBox;
    };
    const bool labelsInput = i + 1 < controls.size() && inputKind(controls[i + 1]->ControlKind());
    const bool value = label && column == 1 && i > 0 && !labelsInput && IsValueOf(*child, *controls[i - 1]);
    if (value) {
      grid->addWidget(Leaf(*child, box), row++, 1, 1, 2);
      column = 0;
      continue;
    }
    if (column > 0 && (child->ControlKind() == dialog::Kind::Frame || (label && !unit))) {
      ++row;
      column = 0;
    }
    QWidget* w = child->ControlKind() == dialog::Kind::Frame ? FrameWidget(*child, box) : Leaf(*child, box);
    if (child->ControlKind() == dialog::Kind::Frame || child->ControlKind() == dialog::Kind::ListBox) {
      grid->addWidget(w, row++, 0, 1, 3);
      column = 0;
      continue;
    }
    grid->addWidget(w, row, column++);
    if (!label && column == 1) {  // a control without a label before it has a row of its own
      ++row;
      column = 0;
    }
    if (column >= 3) {
      ++row;
      column = 0;
    }
  }
  grid->setRowStretch(row + 1, 1);
}

// A frame: a group box (or a plain page for the frames without caption).
// A frame that holds frames shows its first one on the left and the rest
// on the right.
QWidget* FrameWidget(dialog::Control& c, QWidget* parent) {
  QWidget* box = c.Caption().empty() ? new QWidget(parent) : new QGroupBox(Q(c.Caption()), parent);
  std::vector<dialog::Control*> children = c.Children();
  const auto frames = std::count_if(children.begin(), children.end(),
                                    [](const dialog::Control* x) { return x->ControlKind() == dialog::Kind::Frame; });
  if (frames >= 2 && children.front()->ControlKind() == dialog::Kind::Frame) {
    auto* columns = new QHBoxLayout(box);
    columns->addWidget(FrameWidget(*children.front(), box), 1, Qt::AlignTop);
    auto* right = new QWidget(box);
    AddRows(new QGridLayout(right), {children.begin() + 1, children.end()}, right);
    columns->addWidget(right, 1, Qt::AlignTop);
  } else {
    AddRows(new QGridLayout(box), children, box);
  }
  if (auto* group = qobject_cast<QGroupBox*>(box)) {
    QPointer<QGroupBox> g(group);
    Follow(c, group, [g, &c] {
      if (g) g->setTitle(Q(c.Caption()));
    });
  } else {
    Follow<QWidget>(c, box, {});
  }
  return box;
}

QWidget* Leaf(dialog::Control& c, QWidget* parent) {
  using dialog::Kind;
  switch (c.ControlKind()) {
    case Kind::CommandButton: {
      auto* b = new QPushButton(parent);
      QPointer<QPushButton> w(b);
      Follow(c, b, [w, &c] {
        if (w) w->setText(Q(c.Caption()));
      });
      auto& button = static_cast<dialog::CommandButton&>(c);
      QObject::connect(b, &QPushButton::clicked, [&button] { button.Click(); });
      return b;
    }
    case Kind::CheckBox: {
      auto* b = new QCheckBox(parent);
      auto& box = static_cast<dialog::CheckBox&>(c);
      QPointer<QCheckBox> w(b);
      Follow(c, b, [w, &c] {
        if (w) w->setText(Q(c.Caption()));
      });
      b->setChecked(box.Value() != 0);
      c.Observe([w, &box](const dialog::Control&, std::string_view p) {
        if (w && p == "Value") w->setChecked(box.Value() != 0);
      });
      QObject::connect(b, &QCheckBox::clicked, [&box](bool checked) { box.SetValue(checked ? 1 : 0); });
      return b;
    }
    case Kind::ComboBox:
    case Kind::ListBox: {
      auto& list = static_cast<dialog::ListControl&>(c);
      if (c.ControlKind() == Kind::ListBox) {
        auto* l = new QListWidget(parent);
        l->setFont(QFont("monospace"));
        QPointer<QListWidget> w(l);
        auto fill = [w, &list] {
          if (!w) return;
          w->clear();
          for (const auto& e : list.Entries()) w->addItem(Q(ExpandTabs(e.text, list.TabStops())));
        };
        Follow<QListWidget>(c, l, {});
        fill();
        c.Observe([fill](const dialog::Control&, std::string_view p) {
          if (p == "List") fill();
        });
        return l;
      }
      auto* combo = new QComboBox(parent);
      QPointer<QComboBox> w(combo);
      auto fill = [w, &list] {
        if (!w) return;
        const QSignalBlocker quiet(w.data());
        w->clear();
        for (const auto& e : list.Entries()) w->addItem(Q(e.text), int(e.itemData));
        w->setCurrentIndex(int(list.ListIndex()));
      };
      Follow<QComboBox>(c, combo, {});
      fill();
      c.Observe([fill](const dialog::Control&, std::string_view p) {
        if (p == "List" || p == "ListIndex") fill();
      });
      QObject::connect(combo, QOverload<int>::of(&QComboBox::activated), [&list](int index) { list.SetListIndex(index); });
      return combo;
    }
    case Kind::NumericTextBox: {
      auto& box = static_cast<dialog::NumericTextBox&>(c);
      auto* e = new QLineEdit(parent);
      QPointer<QLineEdit> w(e);
      Follow(c, e, [w, &box] {
        if (w) w->setText(Q(box.Display()));
      });
      // Typed in the box's dimension ("5.2" in a GHz box is 5.2e9), bounded as the host's box does.
      QObject::connect(e, &QLineEdit::editingFinished, [w, &box] {
        if (!w) return;
        bool ok = false;
        const double typed = w->text().split(' ').first().replace(',', '.').toDouble(&ok);
        const auto& f = box.Properties();
        if (ok && std::isfinite(typed))
          box.Value(std::fmin(std::fmax(typed * std::pow(10.0, f.exponent), f.minimum), f.maximum));
        else
          w->setText(Q(box.Display()));
      });
      return e;
    }
    case Kind::TextBox: {
      auto* e = new QLineEdit(parent);
      QPointer<QLineEdit> w(e);
      Follow(c, e, [w, &c] {
        if (w && w->text() != Q(c.Text())) w->setText(Q(c.Text()));
      });
      QObject::connect(e, &QLineEdit::textEdited, [&c](const QString& text) { c.Text(text.toStdString()); });
      return e;
    }
    case Kind::Timer: {
      auto& t = static_cast<dialog::Timer&>(c);
      auto* timer = new QTimer(parent);
      timer->setObjectName(Q(c.Name()));
      QPointer<QTimer> w(timer);
      auto apply = [w, &t] {
        if (!w) return;
        w->setInterval(int(t.Interval()));
        if (t.Enabled() && t.Interval() > 0) {
          if (!w->isActive()) w->start();
        } else {
          w->stop();
        }
      };
      apply();
      c.Observe([apply](const dialog::Control&, std::string_view) { apply(); });
      QObject::connect(timer, &QTimer::timeout, [&t] { t.Tick(); });
      return nullptr;
    }
    case Kind::Frame: return FrameWidget(c, parent);
    case Kind::Label:
    default: {
      auto* l = new QLabel(parent);
      QPointer<QLabel> w(l);
      Follow(c, l, [w, &c] {
        if (!w) return;
        QString text = Q(c.Caption()).remove('&');
        while (text.endsWith('\n') || text.endsWith('\r')) text.chop(1);  // a version as the unit answered it
        // A caption beside its field stays on one line; a sentence may wrap.
        w->setWordWrap(text.size() > kOneLineCaption);
        w->setText(text);
      });
      return l;
    }
  }
}

}  // namespace

QWidget* Render(dialog::Control& frame, QWidget* parent) { return FrameWidget(frame, parent); }

std::string ExpandTabs(const std::string& text, const std::vector<vb::Long>& stops) {
  std::string out;
  for (const char c : text) {
    if (c != '\t') {
      out += c;
      continue;
    }
    std::size_t next = 0;
    for (const vb::Long stop : stops) {
      const auto column = static_cast<std::size_t>((stop + 3) / 4);
      if (column > out.size()) {
        next = column;
        break;
      }
    }
    if (next == 0) next = (out.size() / 8 + 1) * 8;
    out.append(next - out.size(), ' ');
  }
  return out;
}

}  // namespace panel

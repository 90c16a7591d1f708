#include "QtPlatform.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

namespace panel {

namespace {

class QtMessageBox : public platform::IMessageBox {
 public:
  explicit QtMessageBox(QWidget* parent) : parent_(parent) {}
  long Show(const std::string& text, long style, const std::string& title) override {
    QMessageBox box(parent_);
    box.setText(QString::fromStdString(text));
    box.setWindowTitle(QString::fromStdString(title.empty() ? "Quorvel Unit" : title));
    switch (style & 0x70) {
      case platform::vbCritical: box.setIcon(QMessageBox::Critical); break;
      case platform::vbQuestion: box.setIcon(QMessageBox::Question); break;
      case platform::vbExclamation: box.setIcon(QMessageBox::Warning); break;
      case platform::vbInformation: box.setIcon(QMessageBox::Information); break;
      default: break;
    }
    switch (style & 7) {
      case platform::vbYesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
      case platform::vbYesNoCancel: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel); break;
      case platform::vbOKCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
      default: box.setStandardButtons(QMessageBox::Ok); break;
    }
    switch (box.exec()) {
      case QMessageBox::Yes: return platform::vbYes;
      case QMessageBox::No: return platform::vbNo;
      case QMessageBox::Cancel: return platform::vbCancel;
      default: return platform::vbOK;
    }
  }

 private:
  QPointer<QWidget> parent_;
};

// The screen's pointer: Qt's override cursor, busy for the hourglass kinds.
class QtMousePointer : public platform::IMousePointer {
 public:
  long Get() override { return pointer_; }
  void Set(long pointer) override {
    if (pointer == pointer_) return;
    if (pointer_ != platform::vbDefault) QApplication::restoreOverrideCursor();
    pointer_ = pointer;
    if (pointer == platform::vbDefault) return;
    QApplication::setOverrideCursor(pointer == platform::vbArrowHourglass ? Qt::BusyCursor : Qt::WaitCursor);
  }

 private:
  long pointer_ = platform::vbDefault;
};

class QtEventPump : public platform::IEventPump {
 public:
  void DoEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
};

class QtFileDialog : public platform::IFileDialog {
 public:
  explicit QtFileDialog(QWidget* parent) : parent_(parent) {}
  std::string ShowOpen(const std::string& filter, long filterIndex, const std::string& fileName) override {
    // "All Files (*.*)|*.*|Zentrix Firmware (*.fw)|*.fw": Qt wants "All Files (*.*);;Zentrix Firmware (*.fw)".
    QStringList parts = QString::fromStdString(filter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) filters << parts[i];
    const QString selected = filterIndex >= 1 && filterIndex <= filters.size() ? filters[int(filterIndex - 1)] : QString();
    QString chosen = selected;
    const QString path = QFileDialog::getOpenFileName(parent_, "Select Firmware File", QString::fromStdString(fileName),
                                                      filters.join(";;"), &chosen);
    return path.toStdString();
  }

 private:
  QPointer<QWidget> parent_;
};

}  // namespace

platform::Services QtPlatform(QWidget* parent) {
  platform::Services s;
  s.messageBox = std::make_shared<QtMessageBox>(parent);
  s.mouse = std::make_shared<QtMousePointer>();
  s.events = std::make_shared<QtEventPump>();
  s.fileDialog = std::make_shared<QtFileDialog>(parent);
  return s;
}

}  // namespace panel

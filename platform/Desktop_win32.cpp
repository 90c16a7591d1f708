#include <windows.h>
#include <commdlg.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Desktop.h"
#include "platform/Text_win32.h"

namespace platform {

namespace {

using win32::Utf8;
using win32::Wide;

// VB's button and icon values are Windows' own (vbYesNo = MB_YESNO,
// vbCritical = MB_ICONHAND), and so are the answers (vbYes = IDYES).
class WindowsMessageBox : public IMessageBox {
 public:
  long Show(const std::string& text, long style, const std::string& title) override {
    const int answer = ::MessageBoxW(::GetActiveWindow(), Wide(text).c_str(), Wide(title).c_str(),
                                     static_cast<UINT>(style) | MB_TASKMODAL | MB_SETFOREGROUND);
    if (answer != 0) return answer;
    // No box could be shown (no desktop for this process): the default button answers.
    const long buttons = style & 7;
    return buttons == vbYesNo || buttons == vbYesNoCancel ? vbYes : vbOK;
  }
};

class WindowsMousePointer : public IMousePointer {
 public:
  long Get() override { return pointer_; }
  void Set(long pointer) override {
    pointer_ = pointer;
    // IDC_WAIT, IDC_APPSTARTING and IDC_ARROW, as wide resource names.
    const WORD shape = pointer == vbHourglass ? 32514 : pointer == vbArrowHourglass ? 32650 : 32512;
    ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(shape)));
  }

 private:
  long pointer_ = vbDefault;
};

// DoEvents: the thread's pending window messages, a quit request kept for
// the host's own loop.
class WindowsEventPump : public IEventPump {
 public:
  void DoEvents() override {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
};

class WindowsFileDialog : public IFileDialog {
 public:
  std::string ShowOpen(const std::string& filter, long filterIndex, const std::string& fileName) override {
    const std::wstring wideFilter = Wide(NulSeparatedFilter(filter));
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring start = Wide(fileName);
    if (start.size() < file.size()) start.copy(file.data(), start.size());
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = ::GetActiveWindow();
    ofn.lpstrFilter = wideFilter.c_str();
    ofn.nFilterIndex = static_cast<DWORD>(filterIndex);
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameW(&ofn)) return {};
    return Utf8(file.data());
  }
};

}  // namespace

Services DesktopServices() {
  Services s;
  s.messageBox = std::make_shared<WindowsMessageBox>();
  s.mouse = std::make_shared<WindowsMousePointer>();
  s.events = std::make_shared<WindowsEventPump>();
  s.fileDialog = std::make_shared<WindowsFileDialog>();
  return s;
}

}  // namespace platform

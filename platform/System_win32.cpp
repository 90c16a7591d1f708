// The process, environment, time and libraries on Windows.
#include "platform/System.h"

#include "platform/Text_win32.h"

namespace platform {

using win32::Utf8;
using win32::Wide;

long CurrentThreadId() { return static_cast<long>(::GetCurrentThreadId()); }

long ProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

void BreakIfDebuggerAttached() {
  if (::IsDebuggerPresent()) ::DebugBreak();
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string Environment(const char* name) {
  const std::wstring key = Wide(name);
  const DWORD n = ::GetEnvironmentVariableW(key.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  const DWORD got = ::GetEnvironmentVariableW(key.c_str(), value.data(), n);
  value.resize(got < n ? got : 0);
  return Utf8(value);
}

// The user's roaming settings (%APPDATA%) and local data (%LOCALAPPDATA%).
std::string UserConfigFolder() {
  const std::string base = Environment("APPDATA");
  return base.empty() ? std::string(".") : base;
}

std::string UserDataFolder() {
  const std::string base = Environment("LOCALAPPDATA");
  return base.empty() ? UserConfigFolder() : base;
}

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  ::localtime_s(&tm, &t);
  return tm;
}

SharedLibrary::SharedLibrary(const std::string& path, std::string& error) {
  handle_ = ::LoadLibraryW(Wide(path).c_str());
  if (!handle_) error = win32::ErrorText(::GetLastError());
}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& o) noexcept {
  if (this != &o) {
    if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = o.handle_;
    o.handle_ = nullptr;
  }
  return *this;
}

SharedLibrary::~SharedLibrary() {
  if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
}

void* SharedLibrary::Symbol(const char* name) const {
  return handle_ ? reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name)) : nullptr;
}

std::string ModulePath(const void* address) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
    return {};
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return Utf8(path);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace platform

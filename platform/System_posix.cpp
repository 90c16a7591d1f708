// The process, environment, time and libraries on Linux and other POSIX systems.
#include "platform/System.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace platform {

namespace {

std::string Home() {
  const std::string home = Environment("HOME");
  return home.empty() ? std::string(".") : home;
}

}  // namespace

long CurrentThreadId() { return static_cast<long>(::syscall(SYS_gettid)); }

long ProcessId() { return static_cast<long>(::getpid()); }

void BreakIfDebuggerAttached() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("TracerPid:", 0) == 0) {
      if (std::stol(line.substr(10)) != 0) std::raise(SIGTRAP);
      return;
    }
  }
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::string Environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string UserConfigFolder() {
  const std::string base = Environment("XDG_CONFIG_HOME");
  return base.empty() ? Home() + "/.config" : base;
}

std::string UserDataFolder() {
  const std::string base = Environment("XDG_DATA_HOME");
  return base.empty() ? Home() + "/.local/share" : base;
}

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return tm;
}

SharedLibrary::SharedLibrary(const std::string& path, std::string& error) {
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (!handle_) {
    const char* why = ::dlerror();
    error = why ? why : "unknown reason";
  }
}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& o) noexcept {
  if (this != &o) {
    if (handle_) ::dlclose(handle_);
    handle_ = o.handle_;
    o.handle_ = nullptr;
  }
  return *this;
}

SharedLibrary::~SharedLibrary() {
  if (handle_) ::dlclose(handle_);
}

void* SharedLibrary::Symbol(const char* name) const { return handle_ ? ::dlsym(handle_, name) : nullptr; }

std::string ModulePath(const void* address) {
  Dl_info info{};
  if (!::dladdr(address, &info) || !info.dli_fname) return {};
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(info.dli_fname, ec);
  return ec ? std::string(info.dli_fname) : p.lexically_normal().string();
}

}  // namespace platform

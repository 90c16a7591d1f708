// The host library's one entry point, for a scripting program (Python's
// ctypes) to install the host before it creates objects.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

#include "comhost/HostInstall.h"
#include "comhost/QuorvelHost.h"

namespace {

void Copy(const std::string& text, char* out, uint32_t size) {
  if (!out || size == 0) return;
  const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

}  // namespace

extern "C" int QuorvelHost_Install(const char* config, char* message, uint32_t size) {
  try {
    Copy(comhost::InstallHost(config ? config : ""), message, size);
    return 0;
  } catch (const std::exception& e) {
    Copy(e.what(), message, size);
    return 1;
  } catch (...) {
    Copy("unknown failure", message, size);
    return 1;
  }
}

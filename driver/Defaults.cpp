#include "driver/Defaults.h"

#include <mutex>

#include "platform/Headless.h"

namespace defaults {

namespace {
std::mutex g_mutex;
host::Services g_host;
platform::Services g_platform;
}  // namespace

void Install(host::Services host, platform::Services platform) {
  std::lock_guard lock(g_mutex);
  g_host = std::move(host);
  g_platform = std::move(platform);
}

host::Services Host() {
  std::lock_guard lock(g_mutex);
  if (!g_host.logger)
    vb::Raise(vb::err::ObjectNotSet, "clsQuorvelUnit",
              "no host services are installed: the program installs them (defaults::Install) before it creates a "
              "driver without arguments");
  return g_host;
}

platform::Services Platform() {
  std::lock_guard lock(g_mutex);
  platform::Services p = g_platform;
  if (!p.messageBox) p.messageBox = std::make_shared<platform::HeadlessMessageBox>();
  if (!p.mouse) p.mouse = std::make_shared<platform::HeadlessMousePointer>();
  if (!p.events) p.events = std::make_shared<platform::HeadlessEventPump>();
  if (!p.fileDialog) p.fileDialog = std::make_shared<platform::HeadlessFileDialog>();
  return p;
}

}  // namespace defaults

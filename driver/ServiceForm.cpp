#include "driver/ServiceForm.h"

#include <mutex>

#include "platform/Platform.h"

namespace {
std::mutex g_mutex;
ServiceFormFactory g_factory;
}  // namespace

ServiceFormFactory SetServiceFormFactory(ServiceFormFactory factory) {
  std::lock_guard lock(g_mutex);
  std::swap(g_factory, factory);
  return factory;
}

std::unique_ptr<IServiceForm> CreateServiceForm(const host::Services& host, const platform::Services& platform) {
  ServiceFormFactory factory;
  {
    std::lock_guard lock(g_mutex);
    factory = g_factory;
  }
  return factory ? factory(host, platform) : std::make_unique<HeadlessServiceForm>();
}

HeadlessServiceForm::HeadlessServiceForm()
    : handles_{platform::NewWindowHandle(), platform::NewWindowHandle(), platform::NewWindowHandle()} {}

void HeadlessServiceForm::SetParams(vb::Long, clsQuorvelUnit& quorvelUnit) { driver_ = &quorvelUnit; }

vb::Long HeadlessServiceForm::FrameHandle(ServiceFrame frame) const { return handles_[static_cast<int>(frame)]; }

void HeadlessServiceForm::SetFirmwareStatus(const std::string& caption) {
  firmwareStatus_ = caption;
  firmwareHistory_.push_back(caption);
  if (onFirmwareStatus) onFirmwareStatus(caption);
}

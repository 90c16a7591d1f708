#include "host/DeviceDialog.h"

#include <algorithm>

namespace host {

Subscription& Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    Reset();
    disconnect_ = std::move(other.disconnect_);
    other.disconnect_ = nullptr;
  }
  return *this;
}

void Subscription::Reset() {
  if (disconnect_) {
    auto d = std::move(disconnect_);
    disconnect_ = nullptr;
    d();
  }
}

Subscription NewParameterEvent::Connect(std::function<void()> handler) {
  const long id = nextId_++;
  slots_->push_back({id, std::move(handler)});
  std::weak_ptr<std::vector<Slot>> weak = slots_;
  return Subscription([weak, id] {
    if (auto slots = weak.lock())
      slots->erase(std::remove_if(slots->begin(), slots->end(), [id](const Slot& s) { return s.id == id; }),
                   slots->end());
  });
}

void NewParameterEvent::Raise() {
  // Copy first: a handler may disconnect itself.
  const auto current = *slots_;
  for (const auto& s : current) s.handler();
}

std::size_t NewParameterEvent::HandlerCount() const { return slots_->size(); }

}  // namespace host

// The host's dialog object of one device: the frame of the device dialog
// into which the driver hands its pages, and the source of NewParameter.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Export.h"
#include "core/Vb.h"

namespace host {

// One page handed to the host dialog: caption and the frame's window handle.
struct TabEntry {
  std::string Caption;
  vb::Long Handle = 0;
};

// Keeps an event handler connected; disconnects when destroyed.
class QUORVEL_API Subscription {
 public:
  Subscription() = default;
  explicit Subscription(std::function<void()> disconnect) : disconnect_(std::move(disconnect)) {}
  Subscription(Subscription&& other) noexcept : disconnect_(std::move(other.disconnect_)) { other.disconnect_ = nullptr; }
  Subscription& operator=(Subscription&& other) noexcept;
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  ~Subscription() { Reset(); }
  void Reset();
  explicit operator bool() const { return static_cast<bool>(disconnect_); }

 private:
  std::function<void()> disconnect_;
};

class QUORVEL_API IDeviceDialog {
 public:
  virtual ~IDeviceDialog() = default;
  // The host raises NewParameter when the device's data changed.
  virtual Subscription OnNewParameter(std::function<void()> handler) = 0;
  virtual void SetTabs(const std::vector<TabEntry>& tabs) = 0;
  virtual void SetContext(long context) = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void ShowDialog(long dialogType) = 0;
};

// A ready-made event source for host implementations.
class QUORVEL_API NewParameterEvent {
 public:
  Subscription Connect(std::function<void()> handler);
  void Raise();
  std::size_t HandlerCount() const;

 private:
  struct Slot {
    long id;
    std::function<void()> handler;
  };
  std::shared_ptr<std::vector<Slot>> slots_ = std::make_shared<std::vector<Slot>>();
  long nextId_ = 1;
};

}  // namespace host

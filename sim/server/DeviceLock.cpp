#include "sim/server/DeviceLock.h"

namespace sim::detail {

namespace {
// Aborts and the servers' stop are flags, not notifications: waits look at them this often.
constexpr std::chrono::milliseconds kSlice{20};
}  // namespace

DeviceLock::Outcome DeviceLock::Wait(std::int32_t owner, Millis wait, const std::atomic<bool>* abort,
                                     std::unique_lock<std::mutex>& held) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (holder_ != 0 && holder_ != owner) {
    if (stopping_) return Outcome::kStopping;
    if (abort && *abort) return Outcome::kAborted;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return Outcome::kHeldElsewhere;
    released_.wait_until(held, std::min(deadline, now + kSlice));
  }
  return Outcome::kTaken;
}

DeviceLock::Outcome DeviceLock::Lock(std::int32_t owner, Millis wait, const std::atomic<bool>* abort) {
  std::unique_lock held(mutex_);
  const Outcome outcome = Wait(owner, wait, abort, held);
  if (outcome == Outcome::kTaken) holder_ = owner;
  return outcome;
}

bool DeviceLock::Unlock(std::int32_t owner) {
  {
    std::lock_guard held(mutex_);
    if (owner == 0 || holder_ != owner) return false;
    holder_ = 0;
  }
  released_.notify_all();
  return true;
}

DeviceLock::Outcome DeviceLock::WaitFree(std::int32_t owner, Millis wait, const std::atomic<bool>* abort) {
  std::unique_lock held(mutex_);
  return Wait(owner, wait, abort, held);
}

std::int32_t DeviceLock::Holder() const {
  std::lock_guard held(mutex_);
  return holder_;
}

}  // namespace sim::detail

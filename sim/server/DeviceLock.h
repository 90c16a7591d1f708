// The unit's exclusive lock, as VXI-11 links take it: one holder at a time;
// others wait for it up to their lock time-out, or are refused at once.
// Raw-socket clients cannot lock; their commands wait while a link holds it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace sim::detail {

class DeviceLock {
 public:
  using Millis = std::chrono::milliseconds;
  enum class Outcome { kTaken, kHeldElsewhere, kAborted, kStopping };

  // `stopping` ends every wait (the servers stop).
  explicit DeviceLock(const std::atomic<bool>& stopping) : stopping_(stopping) {}

  // Takes the lock for `owner` (a link id above 0), waiting up to `wait`
  // while another holds it; `abort` (may be null) ends the wait when it
  // turns true.  A holder asking again keeps it.
  Outcome Lock(std::int32_t owner, Millis wait, const std::atomic<bool>* abort = nullptr);
  // False when `owner` does not hold it.
  bool Unlock(std::int32_t owner);
  // Until nobody but `owner` holds it (0: a client that cannot lock), up to `wait`.
  Outcome WaitFree(std::int32_t owner, Millis wait, const std::atomic<bool>* abort = nullptr);
  // Whoever holds it (0: nobody).
  std::int32_t Holder() const;

 private:
  Outcome Wait(std::int32_t owner, Millis wait, const std::atomic<bool>* abort, std::unique_lock<std::mutex>& held);

  const std::atomic<bool>& stopping_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  std::int32_t holder_ = 0;
};

}  // namespace sim::detail

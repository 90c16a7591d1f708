#include "com/Lifetime.h"

#include <atomic>

namespace com {

namespace {
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
}  // namespace

void ObjectCreated() { ++g_objects; }
void ObjectDestroyed() { --g_objects; }
void Lock(bool lock) {
  if (lock) {
    ++g_locks;
  } else {
    long n = g_locks.load();
    while (n > 0 && !g_locks.compare_exchange_weak(n, n - 1)) {
    }
  }
}
bool InUse() { return g_objects > 0 || g_locks > 0; }

}  // namespace com

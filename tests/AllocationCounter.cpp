#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_count{0};
std::atomic<std::size_t> g_largest{0};
}  // namespace

AllocationCounter::AllocationCounter() {
  g_count = 0;
  g_largest = 0;
  g_counting = true;
}
AllocationCounter::~AllocationCounter() { g_counting = false; }
std::size_t AllocationCounter::count() const { return g_count; }
std::size_t AllocationCounter::largest() const { return g_largest; }

void* operator new(std::size_t size) {
  if (g_counting) {
    ++g_count;
    std::size_t seen = g_largest;
    while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
    }
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

// Counts the allocations made through operator new while it lives.
#pragma once

#include <cstddef>

struct AllocationCounter {
  AllocationCounter();
  ~AllocationCounter();
  std::size_t count() const;
  std::size_t largest() const;  // bytes of the largest single allocation
};

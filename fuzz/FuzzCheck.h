// What the fuzzers share: a check that stops the run with a message when an
// invariant of the code under test does not hold (assert() is gone with
// NDEBUG), and the guard against inputs that only ask for long work.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(cond, ...)                                                        \
  do {                                                                               \
    if (!(cond)) {                                                                   \
      std::fprintf(stderr, "%s:%d: check failed: %s\n  ", __FILE__, __LINE__, #cond); \
      std::fprintf(stderr, __VA_ARGS__);                                             \
      std::fprintf(stderr, "\n");                                                    \
      std::abort();                                                                  \
    }                                                                                \
  } while (0)

namespace fuzz {

// A measurement of the simulated unit (":INIT:IMM", ":SENS<n>:RMS:INIT",
// ":SENS<n>:BURS:INIT") records up to 200000 samples on each of eight
// sensors: about 0.3 s with the sanitizers.  An input with more of them than
// this is not run (it would only find the fuzzer's time-out).
inline constexpr std::size_t kMaxMeasurements = 4;

inline bool TooManyMeasurements(std::string_view input) {
  std::size_t found = 0;
  for (std::size_t i = 0; i + 4 <= input.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(input[i])) == 'I' &&
        std::toupper(static_cast<unsigned char>(input[i + 1])) == 'N' &&
        std::toupper(static_cast<unsigned char>(input[i + 2])) == 'I' &&
        std::toupper(static_cast<unsigned char>(input[i + 3])) == 'T' && ++found > kMaxMeasurements)
      return true;
  }
  return false;
}

}  // namespace fuzz

// Model choices where the driver does not say what the unit does.
#pragma once

namespace sim::detail {

inline constexpr long kMaxSamples = 200000;        // the unit records at most this many samples
inline constexpr double kResetSeconds = 0.02;      // "*RST" takes this long
inline constexpr double kBurstSearchSeconds = 0.005;
inline constexpr double kMinFrequency = 10e6, kMaxFrequency = 18e9;

}  // namespace sim::detail

// One command of a message as the command table takes it.
#pragma once

#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "sim/ScpiParsing.h"
#include "sim/Zentrix8.h"

namespace sim {

// Its header as a key with "#" for every numeric suffix ("SENS#:FREQ"), the
// suffixes, the argument text and whether it asks.
struct Zentrix8::Command {
  std::string key;
  std::vector<long> nums;
  std::string args;
  bool query = false;
  std::string text;

  long Num(std::size_t i) const { return i < nums.size() ? nums[i] : 1; }
  double Value() const {
    const double v = detail::ParseDecimal(args);
    // NAN and INF read as numbers, but no setting of the unit can hold them.
    if (!std::isfinite(v)) throw detail::ScpiError{-222, "Data out of range"};
    return v;
  }
  // A whole-number setting the unit keeps as a 32-bit Long.
  long LongValue() const {
    const double v = Value();
    if (v < -2147483648.0 || v > 2147483647.0) throw detail::ScpiError{-222, "Data out of range"};
    return std::lround(v);
  }
  std::string Word() const {
    const std::string w = vb::Upper(detail::Trim(args));
    if (w.empty()) throw detail::ScpiError{-109, "Missing parameter"};
    return w;
  }
  void OneOf(const std::string& w, std::initializer_list<const char*> allowed) const {
    for (const char* a : allowed)
      if (w == a) return;
    throw detail::ScpiError{-224, "Illegal parameter value"};
  }
};

}  // namespace sim

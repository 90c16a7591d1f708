// Pieces the simulator's model and its command table share.
#pragma once

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/Vb.h"
#include "sim/Zentrix8.h"

namespace sim {
namespace detail {

// Model choices where the driver does not say what the unit does:
inline constexpr long kMaxSamples = 200000;        // the unit records at most this many samples
inline constexpr double kResetSeconds = 0.02;      // "*RST" takes this long
inline constexpr double kBurstSearchSeconds = 0.005;
inline constexpr double kMinFrequency = 10e6, kMaxFrequency = 18e9;
// The short form of a SCPI keyword given in its long form ("FREQUENCY" ->
// "FREQ"); any other text comes back as it is.  Upper case in, upper case out.
inline std::string ShortForm(const std::string& keyword) {
  static constexpr std::pair<std::string_view, std::string_view> kLong[] = {
      {"SENSE", "SENS"},         {"FREQUENCY", "FREQ"},   {"SYSTEM", "SYST"},     {"ERROR", "ERR"},
      {"COUNT", "COUN"},         {"VERSION", "VERS"},     {"CORRECTION", "CORR"}, {"ATTENUATION", "ATT"},
      {"BURST", "BURS"},         {"SEARCH", "SEAR"},      {"INITIATE", "INIT"},   {"IMMEDIATE", "IMM"},
      {"TRACE", "TRAC"},         {"CONFIGURE", "CONF"},   {"CALIBRATION", "CAL"}, {"SAMPLE", "SAMP"},
      {"MEASURE", "MEAS"},       {"START", "STAR"},       {"LEVEL", "LEV"},       {"PRECISION", "PREC"},
      {"OPERATION", "OPER"},     {"TRIGGER", "TRIG"},     {"OUTPUT", "OUTP"},     {"CLOCK", "CLOC"},
      {"COMPANION", "COMP"},     {"BYPASS", "BYP"},       {"GENERATOR", "GEN"},   {"VIDEO", "VID"},
      {"DEVICE", "DEV"},         {"MAXIMUM", "MAX"},      {"MINIMUM", "MIN"},     {"ABORT", "ABOR"},
      {"DIVIDERFAST", "DIVF"},   {"DIVIDERSLOW", "DIVS"}, {"ROW", "ROW"},         {"PATH", "PATH"}};
  for (const auto& [longForm, shortForm] : kLong)
    if (keyword == longForm) return std::string(shortForm);
  return keyword;
}

inline constexpr std::size_t kMaxInput = 64u << 20;  // a message (or firmware block) larger than this is refused
inline constexpr const char* kUpload = "SYSTEM:FWUPDATE #";

// An SCPI error the unit queues instead of answering.
struct ScpiError {
  long code;
  std::string text;
};

using vb::Upper;

inline std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Where the data of a firmware message ("SYSTEM:FWUPDATE #<n><length><data>")
// starts and how long it is.  The unit and the socket server, which must not
// split such a message at the line feeds inside its data, read it the same way.
struct BlockHeader {
  enum State { kNone, kPartial, kBad, kComplete };
  State state = kNone;  // kNone: not a firmware message; kPartial: its header is still arriving
  std::size_t dataStart = 0;
  std::size_t length = 0;
};

inline BlockHeader ParseBlockHeader(std::string_view input) {
  // One character may stand before it (a leading ":"); case does not matter.
  const std::size_t at = Upper(input.substr(0, 40)).find(kUpload);
  if (at == std::string::npos || at > 1) return {};
  const std::size_t hash = at + std::string_view(kUpload).size() - 1;
  if (input.size() < hash + 2) return {BlockHeader::kPartial};
  const int digits = input[hash + 1] - '0';
  if (digits < 1 || digits > 9) return {BlockHeader::kBad};
  const std::size_t dataStart = hash + 2 + static_cast<std::size_t>(digits);
  if (input.size() < dataStart) return {BlockHeader::kPartial};
  std::size_t length = 0;
  for (std::size_t i = hash + 2; i < dataStart; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(input[i]))) return {BlockHeader::kBad};
    length = length * 10 + static_cast<std::size_t>(input[i] - '0');
  }
  return {BlockHeader::kComplete, dataStart, length};
}

// Numbers as the unit writes them: "." as decimal point, up to 15 digits, no exponent for ordinary values.
inline std::string Fmt(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

}  // namespace detail

// One command of a message: header as a key with "#" for every numeric
// suffix ("SENS#:FREQ"), the suffixes, the argument text and whether it asks.
struct Zentrix8::Command {
  std::string key;
  std::vector<long> nums;
  std::string args;
  bool query = false;
  std::string text;

  long Num(std::size_t i) const { return i < nums.size() ? nums[i] : 1; }
  double Value() const {
    const std::string_view a = detail::Trim(args);
    if (a.empty()) throw detail::ScpiError{-109, "Missing parameter"};
    double v = 0;
    const char* first = a.data();
    if (*first == '+') ++first;
    const auto [ptr, ec] = std::from_chars(first, a.data() + a.size(), v);
    if (ec != std::errc() || ptr == first) throw detail::ScpiError{-104, "Data type error"};
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

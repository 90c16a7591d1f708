// The SCPI text the unit reads and writes: keywords in their short form,
// blanks stripped, the errors it queues instead of answering, and numbers as
// it writes them.
#pragma once

#include <cctype>
#include <cmath>
#include <charconv>
#include <string>
#include <string_view>
#include <utility>

#include "core/Vb.h"

namespace sim::detail {

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

// A decimal number as IEEE 488.2 sends it ("+5", "2.5", "-1e3", "2.4e9Hz":
// a suffix after the number is the unit's own business).  Throws the unit's
// error for anything else.
inline double ParseDecimal(std::string_view text) {
  const std::string_view a = Trim(text);
  if (a.empty()) throw ScpiError{-109, "Missing parameter"};
  double v = 0;
  const char* first = a.data();
  if (*first == '+') ++first;
  const auto [ptr, ec] = std::from_chars(first, a.data() + a.size(), v);
  if (ec != std::errc() || ptr == first) throw ScpiError{-104, "Data type error"};
  return v;
}

// A register mask (*ESE, *SRE): a decimal number rounded to a whole one, or
// a non-decimal one (#H10, #Q20, #B10000); 0 to 255.
inline long ParseMask(std::string_view text) {
  const std::string_view a = Trim(text);
  double v = 0;
  if (a.size() > 2 && a[0] == '#') {
    const char base = static_cast<char>(std::toupper(static_cast<unsigned char>(a[1])));
    const int radix = base == 'H' ? 16 : base == 'Q' ? 8 : base == 'B' ? 2 : 0;
    if (radix == 0) throw ScpiError{-104, "Data type error"};
    unsigned long n = 0;
    const auto [ptr, ec] = std::from_chars(a.data() + 2, a.data() + a.size(), n, radix);
    if (ec == std::errc::result_out_of_range) throw ScpiError{-222, "Data out of range"};
    if (ec != std::errc() || ptr != a.data() + a.size()) throw ScpiError{-104, "Data type error"};
    v = static_cast<double>(n);
  } else {
    v = ParseDecimal(a);
  }
  v = std::nearbyint(v);  // IEEE 488.2: rounded to the nearest whole number
  if (!(v >= 0 && v <= 255)) throw ScpiError{-222, "Data out of range"};
  return static_cast<long>(v);
}

// Numbers as the unit writes them: "." as decimal point, up to 15 digits, no exponent for ordinary values.
inline std::string Fmt(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

}  // namespace sim::detail

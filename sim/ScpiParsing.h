// The SCPI text the unit reads and writes: keywords in their short form,
// blanks stripped, the errors it queues instead of answering, and numbers as
// it writes them.
#pragma once

#include <cctype>
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

// Numbers as the unit writes them: "." as decimal point, up to 15 digits, no exponent for ordinary values.
inline std::string Fmt(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

}  // namespace sim::detail

// Characters the form's lists and labels are laid out with, and numbers as
// its text boxes show them.
#pragma once

#include <cstdio>
#include <string>

namespace dialog {

inline constexpr char kTab = '\t';               // a list's column break
inline constexpr const char* kCrLf = "\r\n";     // a label's line break

// A value as a text box shows it: up to 15 significant digits; True or False.
inline std::string Shown(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.15g", v);
  return buffer;
}
inline std::string Shown(bool b) { return b ? "True" : "False"; }

}  // namespace dialog

#include "platform/Desktop.h"

namespace platform {

std::string NulSeparatedFilter(const std::string& filter) {
  std::string out;
  for (char c : filter) out += c == '|' ? '\0' : c;
  if (!out.empty() && out.back() != '\0') out += '\0';
  out += '\0';
  return out;
}

}  // namespace platform

// How much input the unit takes, and the firmware message
// ("SYSTEM:FWUPDATE #<n><length><data>") whose data may hold line feeds.
#pragma once

#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/Vb.h"

namespace sim::detail {

inline constexpr std::size_t kMaxInput = 64u << 20;  // a message (or firmware block) larger than this is refused
inline constexpr const char* kUpload = "SYSTEM:FWUPDATE #";

// Where the data of a firmware message starts and how long it is.  The unit
// and the socket server, which must not split such a message at the line
// feeds inside its data, read it the same way.
struct BlockHeader {
  enum State { kNone, kPartial, kBad, kComplete };
  State state = kNone;  // kNone: not a firmware message; kPartial: its header is still arriving
  std::size_t dataStart = 0;
  std::size_t length = 0;
};

inline BlockHeader ParseBlockHeader(std::string_view input) {
  // One character may stand before it (a leading ":"); case does not matter.
  const std::size_t at = vb::Upper(input.substr(0, 40)).find(kUpload);
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

}  // namespace sim::detail

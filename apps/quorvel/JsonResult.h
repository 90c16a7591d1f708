// A result as --json prints it.  Whether the embedded simulator made it
// comes first, so that no simulated value passes for a unit's.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "quorvel/Session.h"

namespace quorvel {

inline std::string JsonResult(const Session& s, const nlohmann::ordered_json& result) {
  nlohmann::ordered_json out = {{"simulator", s.Simulated()}};
  for (const auto& [key, value] : result.items()) out[key] = value;
  return out.dump();
}

// A result of a repeated measurement: the time it began first.
inline nlohmann::ordered_json Stamped(const std::string& time, const nlohmann::ordered_json& result) {
  nlohmann::ordered_json out = {{"time", time}};
  for (const auto& [key, value] : result.items()) out[key] = value;
  return out;
}

}  // namespace quorvel

// The commands of the quorvel tool, by name.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "quorvel/Session.h"

namespace quorvel {

const std::map<std::string, std::function<int(Session&)>>& Commands();

}  // namespace quorvel

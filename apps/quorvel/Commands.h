// The commands of the quorvel tool, by name.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "quorvel/Session.h"

namespace quorvel {

const std::map<std::string, std::function<int(Session&)>>& Commands();

// The main job and its parts (MainJob.cpp).
int RunJob(Session& s);
int BurstSearchJob(Session& s);
int TraceJob(Session& s);

}  // namespace quorvel

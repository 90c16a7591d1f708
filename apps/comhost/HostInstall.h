// The host a scripting program gets: the file-backed reference host for
// every object created through the component, and the embedded Zentrix8
// simulator for each device whose entry names no unit.
#pragma once

#include <string>

namespace comhost {

// Installs it for the process from `config` (empty: the default file) and
// says what it installed; std::exception when the configuration is bad.
std::string InstallHost(const std::string& config);

}  // namespace comhost

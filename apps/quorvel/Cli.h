// The quorvel command-line tool, as a function tests can call.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace quorvel {

// Runs the tool with its arguments (without the program name); returns the
// exit status.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quorvel

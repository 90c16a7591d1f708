// The quorvel command-line tool, as a function tests can call.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace quorvel {

// Runs the tool with its arguments (without the program name); returns the
// exit status.
// `interactive`: standard error is a terminal (progress bars are drawn only then).
// `standalone`: this is the whole program, which may end itself when a
// command does not let go after --timeout or Ctrl-C.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool interactive = false,
        bool standalone = false);

}  // namespace quorvel

// Files the host and its programs read and write: small texts read whole
// with a limit, and whole-file writes that never leave half a file and never
// replace what is not a regular file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/Export.h"

namespace host::files {

// The permission bits a new file gets under the user's umask (0666 & ~umask).
QUORVEL_API mode_t NewFileMode();

// Reads a small text file whole.  Nothing for a missing file; a directory,
// FIFO or device, an unreadable file or one over `limit` bytes raises 75
// naming the path.
QUORVEL_API std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit, const char* source);

// Writes `text` as the whole content of `path`.  A regular file (or a new
// one) is replaced through a temporary file in the same folder and a rename,
// keeping the mode of the file it replaces; a symbolic link stays a link and
// its target is written; a FIFO or character device is written in place; a
// directory or anything else is refused.  Raises 75 with the reason.
QUORVEL_API void WriteFile(const std::string& path, std::string_view text, const char* source);

}  // namespace host::files

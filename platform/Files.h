// Files the host and its programs read and write: small texts read whole
// with a limit, and whole-file writes that never leave half a file and never
// replace what is not a regular file.  One implementation file per
// operating system (Files_posix.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Export.h"

namespace platform::files {

// What is at a path (symbolic links followed).
struct FileStatus {
  enum class Kind { kMissing, kRegular, kDirectory, kOther } kind = Kind::kMissing;
  std::uintmax_t size = 0;  // bytes, for a regular file
  std::string error;        // why it could not be told (kind kMissing)
};
QUORVEL_API FileStatus Status(const std::string& path);

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

// Writes `text` as a new file at `path` with the user's default
// permissions, whole or not at all; an existing file is never replaced
// (raises 58, "<what> exists already: <path>").  Other failures raise 75.
QUORVEL_API void CreateNewFile(const std::string& path, std::string_view text, const char* source, const char* what);

}  // namespace platform::files

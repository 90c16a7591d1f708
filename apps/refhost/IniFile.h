// An INI-style file: "[section]" headers, "key = value" lines, comments
// starting with ";" or "#" (on a line of their own, or after a header or a
// value, behind a blank).  Writing keeps every other line as it was and
// replaces the file only once the new text is completely on disk.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Export.h"

namespace host {

class QUORVEL_API IniFile {
 public:
  // Reads `path`; a missing file gives an empty document.  A line that is
  // neither a section, a key = value pair, a comment nor blank raises error
  // 5 naming the file and the line.
  // A directory, FIFO or device, or a file over kMaxFileBytes, raises 75.
  static IniFile Load(const std::string& path);
  static constexpr std::size_t kMaxFileBytes = 1u << 20;
  static IniFile Parse(const std::string& text, const std::string& nameForErrors);

  bool Exists() const { return exists_; }
  const std::string& Path() const { return path_; }
  std::vector<std::string> Sections() const;
  std::optional<std::string> Get(const std::string& section, const std::string& key) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);
  std::string Text() const;
  // Every key = value line as read, with its line number (0 for one set since).
  struct Entry {
    std::string section, key, value;
    long line = 0;
  };
  std::vector<Entry> Entries() const;
  // Writes to a temporary file beside the target, then renames it over the
  // target; on any failure the old file is left untouched (error 75).
  void Save() const;

 private:
  struct Line {
    std::string raw;      // the line as read (comments, blanks)
    std::string section;  // section the line belongs to
    std::string key;      // non-empty for key = value lines
    std::string value;
    bool header = false;
    std::string comment;  // an inline comment after a header or a value, kept when the value changes
    long number = 0;      // line number in the file as read
  };
  std::vector<Line> lines_;
  std::string path_;
  bool exists_ = false;
};

}  // namespace host

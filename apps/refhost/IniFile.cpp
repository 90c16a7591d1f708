#include "refhost/IniFile.h"

#include <unordered_set>

#include "platform/Files.h"


#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/Vb.h"

namespace host {

namespace {

// A line without its comment: ";" or "#" at its start or after a blank
// begins one ("Address = ... ; the bench unit"); a "#" inside a word stays.
std::pair<std::string, std::string> WithoutComment(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i)
    if ((s[i] == ';' || s[i] == '#') && (i == 0 || s[i - 1] == ' ' || s[i - 1] == '\t'))
      return {vb::StripBlanks(s.substr(0, i)), std::string(s.substr(i))};
  return {vb::StripBlanks(s), {}};
}

}  // namespace

IniFile IniFile::Load(const std::string& path) {
  const std::optional<std::string> text = platform::files::ReadSmallFile(path, kMaxFileBytes, "IniFile");
  IniFile f = text ? Parse(*text, path) : IniFile();
  f.path_ = path;
  f.exists_ = text.has_value();
  return f;
}

IniFile IniFile::Parse(const std::string& text, const std::string& nameForErrors) {
  IniFile f;
  std::string section;
  std::istringstream in(text);
  std::string raw;
  long number = 0;
  while (std::getline(in, raw)) {
    ++number;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    Line line;
    line.raw = raw;
    const auto [s, comment] = WithoutComment(raw);
    line.comment = comment;
    if (s.empty()) {
      line.section = section;
    } else if (s.front() == '[') {
      if (s.back() != ']' || s.size() < 3)
        vb::Raise(vb::err::InvalidCall, "IniFile",
                  nameForErrors + ", line " + std::to_string(number) + ": a section header reads [name]");
      section = vb::StripBlanks(std::string_view(s).substr(1, s.size() - 2));
      line.section = section;
      line.header = true;
    } else {
      const auto eq = s.find('=');
      if (eq == std::string::npos || eq == 0)
        vb::Raise(vb::err::InvalidCall, "IniFile",
                  nameForErrors + ", line " + std::to_string(number) + ": expected [section] or key = value, found '" +
                      s + "'");
      if (section.empty())
        vb::Raise(vb::err::InvalidCall, "IniFile",
                  nameForErrors + ", line " + std::to_string(number) + ": key '" + vb::StripBlanks(s.substr(0, eq)) +
                      "' stands before any [section]");
      line.section = section;
      line.key = vb::StripBlanks(std::string_view(s).substr(0, eq));
      line.value = vb::StripBlanks(std::string_view(s).substr(eq + 1));
    }
    line.number = number;
    f.lines_.push_back(std::move(line));
  }
  return f;
}

std::vector<std::string> IniFile::Sections() const {
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;  // upper-cased: names match without regard to case
  for (const auto& l : lines_)
    if (l.header && seen.insert(vb::Upper(l.section)).second) out.push_back(l.section);
  return out;
}

std::optional<std::string> IniFile::Get(const std::string& section, const std::string& key) const {
  for (const auto& l : lines_)
    if (!l.key.empty() && vb::EqualsNoCase(l.section, section) && vb::EqualsNoCase(l.key, key)) return l.value;
  return std::nullopt;
}

void IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
  // Only what reads back the same is written: no line breaks, no comment
  // starts, no blanks at either end (the reader strips them).
  const auto padded = [](const std::string& t) {
    return !t.empty() && (std::isspace(static_cast<unsigned char>(t.front())) || std::isspace(static_cast<unsigned char>(t.back())));
  };
  const auto startsComment = [](const std::string& t) {
    for (std::size_t i = 0; i < t.size(); ++i)
      if ((t[i] == ';' || t[i] == '#') && (i == 0 || std::isspace(static_cast<unsigned char>(t[i - 1])))) return true;
    return false;
  };
  if (key.empty() || key.find_first_of("=\n\r[;#") != std::string::npos || padded(key) ||
      section.empty() || section.find_first_of("]\n\r;#") != std::string::npos || padded(section))
    vb::Raise(vb::err::InvalidCall, "IniFile",
              "cannot store [" + section + "] " + key + ": keys and sections hold no line breaks, '=', '[', ']', ';' or "
              "'#', and no blanks at either end");
  if (value.find_first_of("\n\r") != std::string::npos || padded(value) || startsComment(value))
    vb::Raise(vb::err::InvalidCall, "IniFile",
              "cannot store " + key + " = '" + value + "': a value holds no line breaks, no blanks at either end and no "
              "';' or '#' after a blank or at its start (they begin a comment)");
  std::size_t lastOfSection = lines_.size();
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    Line& l = lines_[i];
    if (!vb::EqualsNoCase(l.section, section)) continue;
    if (!l.key.empty() && vb::EqualsNoCase(l.key, key)) {
      l.value = value;
      l.raw = l.key + " = " + value + (l.comment.empty() ? "" : "  " + l.comment);
      return;
    }
    if (l.header || !l.key.empty()) lastOfSection = i;
  }
  Line line{key + " = " + value, section, key, value, false, {}};
  if (lastOfSection == lines_.size()) {
    if (!lines_.empty() && !vb::StripBlanks(lines_.back().raw).empty()) lines_.push_back({"", lines_.back().section, "", "", false, {}});
    lines_.push_back({"[" + section + "]", section, "", "", true, {}});
    lines_.push_back(std::move(line));
  } else {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastOfSection) + 1, std::move(line));
  }
}

std::vector<IniFile::Entry> IniFile::Entries() const {
  std::vector<Entry> out;
  for (const auto& l : lines_)
    if (!l.key.empty()) out.push_back({l.section, l.key, l.value, l.number});
  return out;
}

std::string IniFile::Text() const {
  std::string out;
  for (const auto& l : lines_) out += l.raw + "\n";
  return out;
}

void IniFile::Save() const {
  std::error_code ec;
  const std::filesystem::path target(path_);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  platform::files::WriteFile(path_, Text(), "IniFile");
}

}  // namespace host

// The reference host's INI reader (host::IniFile::Parse) on any text.
//
// What must hold besides "no crash":
//  - a text it refuses raises error 5 naming the file and the line, and
//    nothing else escapes;
//  - what it read, written out (Text) and read again, is the same document:
//    the same sections and the same values;
//  - a setting changed with Set reads back the same, before and after the
//    document is written out and read again (as WriteSetting saves the file
//    and the next start reads it).  The setting comes from three comment
//    lines after a line "#fuzz:set": section, key and value, each without
//    its first character (";" or "#"):
//        #fuzz:set
//        ;Zentrix8
//        ;Timeout
//        ;2000
//    Set with QUORVEL_FUZZ_INI_NO_SET=1 to leave this check out.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "core/Vb.h"
#include "refhost/IniFile.h"

namespace {

constexpr const char* kName = "fuzz.ini";

std::optional<host::IniFile> Parse(const std::string& text) {
  try {
    return host::IniFile::Parse(text, kName);
  } catch (const vb::Error& e) {
    FUZZ_CHECK(e.Number() == 5, "Parse raised error %ld: %s", e.Number(), e.Description().c_str());
    FUZZ_CHECK(e.Description().rfind(std::string(kName) + ", line ", 0) == 0, "the error does not name the line: %s",
               e.Description().c_str());
    return std::nullopt;
  }
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t lf = std::min(text.find('\n', start), text.size());
    out.emplace_back(text.substr(start, lf - start));
    start = lf + 1;
  }
  return out;
}

// A key under a section, to compare the values Get finds for it.
struct Setting {
  std::string section, key;
};

std::string Shown(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, 120)) {
    if (c >= 0x20 && c < 0x7f) out += c;
    else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
      out += hex;
    }
  }
  return out;
}

// Every (section, key) Get finds in `a` has the same value in `b`.
void SameValues(const host::IniFile& a, const host::IniFile& b, const std::vector<Setting>& settings) {
  for (const Setting& s : settings) {
    const auto va = a.Get(s.section, s.key), vb = b.Get(s.section, s.key);
    FUZZ_CHECK(va == vb, "[%s] %s reads '%s', after writing and reading again '%s'", Shown(s.section).c_str(),
               Shown(s.key).c_str(), Shown(va.value_or("<none>")).c_str(), Shown(vb.value_or("<none>")).c_str());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<host::IniFile> ini = Parse(text);
  if (!ini) return 0;

  // Candidate (section, key) pairs: every "key = value" the text has, under every section.
  const std::vector<std::string> sections = ini->Sections();
  std::vector<Setting> settings;
  for (const std::string& line : Lines(text)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    std::string key = line.substr(0, eq);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    while (!key.empty() && (key.front() == ' ' || key.front() == '\t')) key.erase(0, 1);
    for (const std::string& section : sections)
      if (settings.size() < 256) settings.push_back({section, key});
  }

  const std::string written = ini->Text();
  const std::optional<host::IniFile> again = Parse(written);
  FUZZ_CHECK(again.has_value(), "the document it read cannot be read again once written");
  FUZZ_CHECK(again->Sections() == sections, "the sections differ once written and read again");
  SameValues(*ini, *again, settings);

  // A setting changed through Set, from the comment lines after "#fuzz:set".
  static const bool checkSet = [] {
    const char* no = std::getenv("QUORVEL_FUZZ_INI_NO_SET");
    return !(no && *no && std::string_view(no) != "0");
  }();
  const std::vector<std::string> lines = Lines(text);
  for (std::size_t i = 0; checkSet && i + 3 < lines.size(); ++i) {
    if (lines[i] != "#fuzz:set" || lines[i + 1].empty() || lines[i + 2].empty() || lines[i + 3].empty()) continue;
    const std::string section = lines[i + 1].substr(1);
    const std::string key = lines[i + 2].substr(1);
    const std::string value = lines[i + 3].substr(1);
    host::IniFile changed = *ini;
    try {
      changed.Set(section, key, value);
    } catch (const vb::Error& e) {
      FUZZ_CHECK(e.Number() == 5, "Set raised error %ld: %s", e.Number(), e.Description().c_str());
      break;  // a setting it refuses
    }
    FUZZ_CHECK(changed.Get(section, key) == value, "[%s] %s = '%s' does not read back after Set", Shown(section).c_str(),
               Shown(key).c_str(), Shown(value).c_str());
    const std::optional<host::IniFile> saved = Parse(changed.Text());
    FUZZ_CHECK(saved.has_value(), "after Set([%s] %s = '%s') the document cannot be read again", Shown(section).c_str(),
               Shown(key).c_str(), Shown(value).c_str());
    settings.push_back({section, key});
    SameValues(changed, *saved, settings);
    break;
  }
  return 0;
}

#include "com/Registry.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "com/Identity.h"
#include "core/Vb.h"
#include "platform/Files.h"
#include "platform/System.h"

namespace com {

namespace {

}  // namespace

std::string RegistryFile::DefaultPath() {
  if (std::string p = platform::Environment(kPathVariable); !p.empty()) return p;
  return platform::UserConfigFolder() + "/quorvel/components.reg";
}

RegistryFile RegistryFile::Load(const std::string& path) {
  RegistryFile r;
  r.path_ = path;
  const platform::files::FileStatus st = platform::files::Status(path);
  if (st.kind == platform::files::FileStatus::Kind::kMissing) return r;  // not there yet: empty
  if (st.kind != platform::files::FileStatus::Kind::kRegular) throw std::runtime_error(path + ": not a regular file");
  if (st.size > kMaxSize)
    throw std::runtime_error(path + ": larger than " + std::to_string(kMaxSize) + " bytes");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot be read");
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::string t = vb::StripBlanks(line);
    if (t.empty()) continue;
    if (t[0] == ';' || t[0] == '#') {
      if (!r.sections_.empty()) r.sections_.back().lines.emplace_back("", t);
      continue;
    }
    if (t.front() == '[' && t.back() == ']' && t.size() > 2) {
      r.sections_.push_back({t.substr(1, t.size() - 2), {}});
      continue;
    }
    const auto eq = t.find('=');
    if (eq == std::string::npos || eq == 0 || r.sections_.empty())
      throw std::runtime_error(path + ":" + std::to_string(number) + ": expected [section] or key = value");
    r.sections_.back().lines.emplace_back(vb::StripBlanks(std::string_view(t).substr(0, eq)),
                                          vb::StripBlanks(std::string_view(t).substr(eq + 1)));
  }
  return r;
}

RegistryFile::Section* RegistryFile::Find(std::string_view name) {
  for (auto& s : sections_)
    if (vb::EqualsNoCase(s.name, name)) return &s;
  return nullptr;
}

const RegistryFile::Section* RegistryFile::Find(std::string_view name) const {
  return const_cast<RegistryFile*>(this)->Find(name);
}

std::optional<std::string> RegistryFile::Get(std::string_view section, std::string_view key) const {
  if (const Section* s = Find(section))
    for (const auto& [k, v] : s->lines)
      if (!k.empty() && vb::EqualsNoCase(k, key)) return v;
  return std::nullopt;
}

void RegistryFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  Section* s = Find(section);
  if (!s) s = &sections_.emplace_back(Section{std::string(section), {}});
  for (auto& [k, v] : s->lines)
    if (!k.empty() && vb::EqualsNoCase(k, key)) {
      v = value;
      return;
    }
  s->lines.emplace_back(std::string(key), std::string(value));
}

bool RegistryFile::RemoveSection(std::string_view section) {
  for (auto it = sections_.begin(); it != sections_.end(); ++it)
    if (vb::EqualsNoCase(it->name, section)) {
      sections_.erase(it);
      return true;
    }
  return false;
}

void RegistryFile::Save() const {
  namespace fs = std::filesystem;
  const fs::path target(path_);
  if (target.has_parent_path()) fs::create_directories(target.parent_path());
  std::ostringstream text;
  text << "; in-process components of this user: written by their DllRegisterServer\n";
  for (const auto& s : sections_) {
    text << "[" << s.name << "]\n";
    for (const auto& [k, v] : s.lines) text << (k.empty() ? v : k + " = " + v) << "\n";
  }
  // Whole or not at all, through a temporary file and a rename.
  try {
    platform::files::WriteFile(path_, text.str(), "Registry");
  } catch (const vb::Error& e) {
    throw std::runtime_error(e.Description());
  }
}

std::optional<Registration> Lookup(const RegistryFile& registry, std::string_view progid) {
  const auto clsidText = registry.Get(progid, "CLSID");
  if (!clsidText) return std::nullopt;
  const auto clsid = ParseGuid(*clsidText);
  if (!clsid) return std::nullopt;
  const auto library = registry.Get("CLSID\\" + ToString(*clsid), "InprocServer32");
  if (!library || library->empty()) return std::nullopt;
  return Registration{*clsid, *library};
}

}  // namespace com

// The registry of in-process components: one small text file per user that
// maps a programmatic id to a class id and a class id to the library that
// serves it, in the keys a Windows registry would hold:
//
//   [Tavlor_QuorvelUnit.clsQuorvelUnit]
//   CLSID = {3190CF2A-F6FC-4BC1-AE67-7DD17769AEB8}
//   [CLSID\{3190CF2A-F6FC-4BC1-AE67-7DD17769AEB8}]
//   InprocServer32 = /usr/lib/x86_64-linux-gnu/libTavlor_QuorvelUnit.so.24
//
// Section and key names compare without regard to case.  The file is
// shared by every component: a change keeps everything else in it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "com/ComTypes.h"

namespace com {

class RegistryFile {
 public:
  static constexpr const char* kPathVariable = "QUORVEL_COM_REGISTRY";
  static constexpr std::size_t kMaxSize = 1 << 20;

  // $QUORVEL_COM_REGISTRY, else $XDG_CONFIG_HOME/quorvel/components.reg,
  // else ~/.config/quorvel/components.reg.
  static std::string DefaultPath();
  // A missing file is an empty registry; anything that is not a readable
  // regular file below kMaxSize, or a line that is neither a section, a
  // "key = value" nor a comment, throws std::runtime_error naming file and line.
  static RegistryFile Load(const std::string& path);

  const std::string& Path() const { return path_; }
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);
  // True when the section was there.
  bool RemoveSection(std::string_view section);
  // Writes through a temporary file in the same folder and a rename, so a
  // reader never sees half a file; the folder is made when missing.
  void Save() const;

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> lines;  // key, value; comments have an empty key
  };
  Section* Find(std::string_view name);
  const Section* Find(std::string_view name) const;
  std::string path_;
  std::vector<Section> sections_;
};

// The library that serves a programmatic id, as the registry names it.
struct Registration {
  GUID clsid{};
  std::string library;
};
// Nothing when the id or its class is not registered.
std::optional<Registration> Lookup(const RegistryFile& registry, std::string_view progid);

}  // namespace com

// A temporary folder removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sstream>
#include <string>

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    for (int tries = 0; tries < 100 && path_.empty(); ++tries) {
      auto candidate = std::filesystem::temp_directory_path() / ("quorvel-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) path_ = candidate;  // false: it was there already
    }
    if (path_.empty()) throw std::runtime_error("no temporary folder could be made");
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

  static void Write(const std::string& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }
  static std::string Read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::filesystem::path path_;
};

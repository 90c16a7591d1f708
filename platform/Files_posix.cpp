// Whole-file reads and writes on Linux and other POSIX systems.
#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/Vb.h"

namespace platform::files {

namespace {

[[noreturn]] void Fail(const char* source, const std::string& path, const std::string& why) {
  vb::Raise(vb::err::PathFileAccess, source, path + ": " + why);
}

bool WriteAll(int fd, std::string_view text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Where a path leads: symbolic links followed, even to a file not yet there.
std::string Resolve(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st{};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(current.c_str(), target, sizeof target - 1);
    if (n < 0) return current;
    const std::filesystem::path next(std::string(target, static_cast<std::size_t>(n)));
    current = next.is_absolute() ? next.string() : (std::filesystem::path(current).parent_path() / next).string();
  }
  return current;
}

// The permission bits a new file gets under the user's umask (0666 & ~umask).
mode_t NewFileMode() {
  // /proc tells the umask without changing it (umask() itself is a write).
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0) return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

FileStatus Status(const std::string& path) {
  FileStatus r;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) r.error = std::strerror(errno);
    return r;
  }
  r.kind = S_ISREG(st.st_mode)   ? FileStatus::Kind::kRegular
           : S_ISDIR(st.st_mode) ? FileStatus::Kind::kDirectory
                                 : FileStatus::Kind::kOther;
  if (r.kind == FileStatus::Kind::kRegular) r.size = static_cast<std::uintmax_t>(st.st_size);
  return r;
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit, const char* source) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    Fail(source, path, std::strerror(errno));
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st{};
  if (::fstat(fd, &st) != 0) Fail(source, path, std::strerror(errno));
  if (S_ISDIR(st.st_mode)) Fail(source, path, "is a directory, not a file");
  if (!S_ISREG(st.st_mode)) Fail(source, path, "is not a regular file");
  if (static_cast<std::size_t>(st.st_size) > limit)
    Fail(source, path, "is " + std::to_string(st.st_size) + " bytes, more than the " + std::to_string(limit) + " taken");
  std::string text;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(source, path, std::strerror(errno));
    if (n == 0) break;
    if (text.size() + static_cast<std::size_t>(n) > limit)
      Fail(source, path, "grew beyond the " + std::to_string(limit) + " bytes taken");
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text;
}

void WriteFile(const std::string& path, std::string_view text, const char* source) {
  const std::string target = Resolve(path);
  struct stat st{};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
    // A pipe or a device takes the bytes where it is; it is never replaced.
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) Fail(source, path, std::strerror(errno));
    const bool ok = WriteAll(fd, text);
    const int why = errno;
    ::close(fd);
    if (!ok) Fail(source, path, std::strerror(why));
    return;
  }
  if (exists && S_ISDIR(st.st_mode)) Fail(source, path, "is a directory");
  if (exists && !S_ISREG(st.st_mode)) Fail(source, path, "is not a regular file, a FIFO or a device");
  std::string tmp = target + ".tmp-XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) Fail(source, path, std::strerror(errno));
  const mode_t mode = exists ? (st.st_mode & 07777) : NewFileMode();
  const bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
  const int why = errno;
  if (::close(fd) != 0 || !ok) {
    ::unlink(tmp.c_str());
    Fail(source, path, std::strerror(ok ? errno : why));
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    const int renameErrno = errno;
    ::unlink(tmp.c_str());
    Fail(source, path, std::strerror(renameErrno));
  }
}

void CreateNewFile(const std::string& path, std::string_view text, const char* source, const char* what) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::string tmp = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) vb::Raise(vb::err::PathFileAccess, source, "cannot write " + path + ": " + std::strerror(errno));
  bool ok = ::fchmod(fd, NewFileMode()) == 0 && WriteAll(fd, text);  // the user's umask, not mkstemp's 0600
  const int writeErrno = errno;
  ok = (::close(fd) == 0) && ok;
  if (!ok) {
    ::unlink(tmp.c_str());
    vb::Raise(vb::err::PathFileAccess, source, "cannot write " + path + ": " + std::strerror(writeErrno));
  }
  // link() never replaces an existing file: what is stored stays as it is.
  const int linked = ::link(tmp.c_str(), path.c_str());
  const int linkErrno = errno;
  ::unlink(tmp.c_str());
  if (linked == 0) return;
  if (linkErrno == EEXIST) vb::Raise(vb::err::FileAlreadyExists, source, std::string(what) + " exists already: " + path);
  vb::Raise(vb::err::PathFileAccess, source, "cannot write " + path + ": " + std::strerror(linkErrno));
}

}  // namespace platform::files

// Whole-file reads and writes on Windows.
#include "platform/Files.h"

#include "platform/Text_win32.h"

#include <atomic>
#include <filesystem>

#include "core/Vb.h"

namespace platform::files {

namespace {

using win32::ErrorText;
using win32::Wide;

[[noreturn]] void Fail(const char* source, const std::string& path, const std::string& why) {
  vb::Raise(vb::err::PathFileAccess, source, path + ": " + why);
}

// Owns a file handle; closes it when destroyed.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    const bool ok = h_ == INVALID_HANDLE_VALUE || ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens what is at a path (links followed); directories too.
HANDLE OpenExisting(const std::string& path, DWORD access) {
  return ::CreateFileW(Wide(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool Missing(DWORD e) { return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND; }

bool WriteAll(HANDLE h, std::string_view text) {
  while (!text.empty()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 30));
    if (!::WriteFile(h, text.data(), chunk, &wrote, nullptr) || wrote == 0) return false;
    text.remove_prefix(wrote);
  }
  return true;
}

// A temporary file beside `target`, written whole and flushed; its name.
std::string WriteTemporary(const std::string& target, std::string_view text, const char* source, const std::string& shown) {
  static std::atomic<unsigned> counter{0};
  const std::string tmp =
      target + ".tmp-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter.fetch_add(1));
  Handle h(::CreateFileW(Wide(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) vb::Raise(vb::err::PathFileAccess, source, "cannot write " + shown + ": " + ErrorText(::GetLastError()));
  const bool ok = WriteAll(h.get(), text) && ::FlushFileBuffers(h.get());
  const DWORD why = ::GetLastError();
  if (!h.Close() || !ok) {
    ::DeleteFileW(Wide(tmp).c_str());
    vb::Raise(vb::err::PathFileAccess, source, "cannot write " + shown + ": " + ErrorText(why));
  }
  return tmp;
}

}  // namespace

FileStatus Status(const std::string& path) {
  FileStatus r;
  Handle h(OpenExisting(path, 0));
  if (!h) {
    const DWORD e = ::GetLastError();
    if (!Missing(e)) r.error = ErrorText(e);
    return r;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(h.get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h.get(), &info)) {
    r.kind = FileStatus::Kind::kOther;
    return r;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    r.kind = FileStatus::Kind::kDirectory;
    return r;
  }
  r.kind = FileStatus::Kind::kRegular;
  r.size = (static_cast<std::uintmax_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return r;
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit, const char* source) {
  Handle h(OpenExisting(path, GENERIC_READ));
  if (!h) {
    const DWORD e = ::GetLastError();
    if (Missing(e)) return std::nullopt;
    Fail(source, path, ErrorText(e));
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(h.get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h.get(), &info))
    Fail(source, path, "is not a regular file");
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Fail(source, path, "is a directory, not a file");
  const std::uintmax_t size = (static_cast<std::uintmax_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > limit)
    Fail(source, path, "is " + std::to_string(size) + " bytes, more than the " + std::to_string(limit) + " taken");
  std::string text;
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(h.get(), buf, sizeof buf, &n, nullptr)) Fail(source, path, ErrorText(::GetLastError()));
    if (n == 0) break;
    if (text.size() + n > limit) Fail(source, path, "grew beyond the " + std::to_string(limit) + " bytes taken");
    text.append(buf, n);
  }
  return text;
}

void WriteFile(const std::string& path, std::string_view text, const char* source) {
  const FileStatus st = Status(path);
  if (st.kind == FileStatus::Kind::kDirectory) Fail(source, path, "is a directory");
  if (st.kind == FileStatus::Kind::kOther) {
    // A pipe or a device takes the bytes where it is; it is never replaced.
    Handle h(::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h || !WriteAll(h.get(), text)) Fail(source, path, ErrorText(::GetLastError()));
    return;
  }
  std::string target = path;
  if (st.kind == FileStatus::Kind::kRegular) {
    // A link stays a link: its target is the file replaced.
    Handle h(OpenExisting(path, 0));
    std::wstring final(32768, L'\0');
    const DWORD n = h ? ::GetFinalPathNameByHandleW(h.get(), final.data(), 32768, FILE_NAME_NORMALIZED) : 0;
    if (n > 0 && n < 32768) target = win32::Utf8(final.substr(0, n));
  }
  const std::string tmp = WriteTemporary(target, text, source, path);
  const std::wstring from = Wide(tmp), to = Wide(target);
  // ReplaceFile keeps the replaced file's attributes and permissions.
  const bool ok = st.kind == FileStatus::Kind::kRegular
                      ? ::ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                      : ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
  if (!ok) {
    const DWORD why = ::GetLastError();
    ::DeleteFileW(from.c_str());
    Fail(source, path, ErrorText(why));
  }
}

void CreateNewFile(const std::string& path, std::string_view text, const char* source, const char* what) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::u8path(path).parent_path(), ec);
  const std::string tmp = WriteTemporary(path, text, source, path);
  // Without MOVEFILE_REPLACE_EXISTING an existing file is never replaced.
  if (::MoveFileExW(Wide(tmp).c_str(), Wide(path).c_str(), MOVEFILE_WRITE_THROUGH)) return;
  const DWORD why = ::GetLastError();
  ::DeleteFileW(Wide(tmp).c_str());
  if (why == ERROR_ALREADY_EXISTS || why == ERROR_FILE_EXISTS)
    vb::Raise(vb::err::FileAlreadyExists, source, std::string(what) + " exists already: " + path);
  vb::Raise(vb::err::PathFileAccess, source, "cannot write " + path + ": " + ErrorText(why));
}

}  // namespace platform::files

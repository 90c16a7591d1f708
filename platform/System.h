// What the driver's house asks of the operating system beyond sockets (those
// are net/'s): the process and its threads, the environment and the user's
// folders, the local time, and loading libraries.  One implementation file
// per operating system (System_posix.cpp).
#pragma once

#include <ctime>
#include <string>

#include "core/Export.h"

namespace platform {

// Id of the calling thread, as trace records carry it.
QUORVEL_API long CurrentThreadId();
// Id of this process.
QUORVEL_API long ProcessId();
// Stops in an attached debugger; does nothing when none is attached.
QUORVEL_API void BreakIfDebuggerAttached();

// Whether standard error goes to a terminal (progress is drawn only there).
QUORVEL_API bool StandardErrorIsTerminal();

// An environment variable's value; "" when it is not set.
QUORVEL_API std::string Environment(const char* name);
// Where the user's settings live ($XDG_CONFIG_HOME, else ~/.config) and
// where programs keep the user's data ($XDG_DATA_HOME, else ~/.local/share);
// "." stands in for a home folder that is not known.
QUORVEL_API std::string UserConfigFolder();
QUORVEL_API std::string UserDataFolder();

// The local calendar time of a moment.
QUORVEL_API std::tm LocalTime(std::time_t t);

// A shared library loaded into the process; unloaded when the last owner
// lets go (unless Keep was called).
class QUORVEL_API SharedLibrary {
 public:
  SharedLibrary() = default;
  // Loads the library; when that fails the object is empty and `error` says why.
  SharedLibrary(const std::string& path, std::string& error);
  SharedLibrary(SharedLibrary&& o) noexcept : handle_(o.handle_) { o.handle_ = nullptr; }
  SharedLibrary& operator=(SharedLibrary&& o) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  ~SharedLibrary();
  explicit operator bool() const { return handle_ != nullptr; }
  // The address of an exported symbol; null when it does not export it.
  void* Symbol(const char* name) const;
  // The library stays loaded for the rest of the process.
  void Keep() { handle_ = nullptr; }

 private:
  void* handle_ = nullptr;
};

// The file of the loaded library (or program) that holds `address`, made
// absolute; "" when it cannot be told.
QUORVEL_API std::string ModulePath(const void* address);

}  // namespace platform

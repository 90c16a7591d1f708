// Waits on sockets that another thread can cut short: every wait also watches
// one wake-up, fired once to end them all (a server that stops).
#pragma once

#include <string>

#include "core/Export.h"
#include "net/Tcp.h"

namespace net {

class QUORVEL_API WakeUp {
 public:
  enum class Event { kReadable, kWoken, kNothing };  // kNothing: the time ran out (or the wait failed)

  // Ready to be fired (again); false, with the reason, when it cannot be made.
  bool Open(std::string& error);
  // Every wait returns kWoken from now until Close.
  void Fire();
  void Close();
  // Up to `timeoutMs` (-1: no limit) until `fd` has something to read (or
  // is broken) or the wake-up is fired; the wake-up wins when both are.
  // With fd -1 only the wake-up is waited for.
  Event WaitReadable(int fd, int timeoutMs) const;

 private:
  Fd read_, write_;
};

}  // namespace net

// The VXI-11 core, abort and interrupt channels.  Links are numbered across
// clients; one link at a time may hold the unit's lock; an abort on its own
// channel ends the read or lock wait in progress on that link; a link with
// service requests enabled is called back when the unit raises RQS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/Tcp.h"
#include "sim/server/Acceptor.h"
#include "sim/server/DeviceLock.h"

namespace sim::detail {

class Vxi11Server {
 public:
  Vxi11Server(Acceptor& acceptor, DeviceLock& lock) : acceptor_(acceptor), lock_(lock) {}
  static constexpr std::size_t kMaxLinksPerConnection = 16;
  void ServeCore(net::TcpConnection& c, const std::string& unit, std::uint16_t abortPort);
  void ServeAbort(net::TcpConnection& c);

 private:
  // A link: its own input and answers, and whether an abort ends its read.
  struct Link;
  // One client's connection to the core channel: its links, and one member
  // per procedure it calls.
  class CoreChannel;
  std::shared_ptr<Link> NewLink(const std::string& unit);
  void DropLink(int id);
  // An abort for a link whose read or lock wait is in progress ends it; at
  // any other time it is answered and forgotten.  False for an unknown link.
  bool Abort(int id);

  Acceptor& acceptor_;
  DeviceLock& lock_;
  std::mutex linksMutex_;
  int nextLink_ = 1;
  std::vector<std::shared_ptr<Link>> links_;  // every live link of every connection
};

}  // namespace sim::detail

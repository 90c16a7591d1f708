// The VXI-11 core and abort channels.  Links are numbered across clients, and
// an abort on its own channel ends the read in progress on that link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/Tcp.h"
#include "sim/server/Acceptor.h"

namespace sim::detail {

class Vxi11Server {
 public:
  explicit Vxi11Server(Acceptor& acceptor) : acceptor_(acceptor) {}
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
  // An abort for a link whose read is in progress ends that read; at any
  // other time it is answered and forgotten.  False for an unknown link.
  bool Abort(int id);

  Acceptor& acceptor_;
  std::mutex linksMutex_;
  int nextLink_ = 1;
  std::vector<std::shared_ptr<Link>> links_;  // every live link of every connection
};

}  // namespace sim::detail

// ONC RPC over TCP for the servers whose calls are answered one by one.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "net/Tcp.h"
#include "sim/server/Acceptor.h"

namespace sim::detail {

// Answers RPC calls on a TCP connection, one record each, until the client
// goes, the servers stop or `answer` has nothing to say (an empty reply).
void ServeRpc(const Acceptor& acceptor, net::TcpConnection& c, const std::function<std::string(std::string_view)>& answer);

}  // namespace sim::detail

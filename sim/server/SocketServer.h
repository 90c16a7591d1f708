// The raw SCPI socket: lines, and firmware blocks taken whole.
#pragma once

#include <string>

#include "net/Tcp.h"
#include "sim/server/Acceptor.h"

namespace sim::detail {

void ServeSocket(Acceptor& acceptor, const std::string& unit, net::TcpConnection& c);

}  // namespace sim::detail

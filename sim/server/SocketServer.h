// The raw SCPI socket: lines, and firmware blocks taken whole.  A socket
// client cannot lock the unit; while a VXI-11 link holds the lock, its
// commands wait (up to the idle time-out, then the connection is closed).
#pragma once

#include <string>

#include "net/Tcp.h"
#include "sim/server/Acceptor.h"
#include "sim/server/DeviceLock.h"

namespace sim::detail {

void ServeSocket(Acceptor& acceptor, DeviceLock& lock, const std::string& unit, net::TcpConnection& c);

}  // namespace sim::detail

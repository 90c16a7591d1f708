// What a server program does about its platform's signals: a peer that goes
// away fails the send to it instead of ending the program, and a request to
// stop (Ctrl-C, a termination request) is waited for on one thread.
#pragma once

#include "core/Export.h"

namespace net {

QUORVEL_API void IgnoreBrokenPipes();
// From here on the stop requests are left to WaitForStopRequest, on this
// thread and the threads it starts later: call it before any other thread starts.
QUORVEL_API void HoldStopRequests();
// Returns when one came (after HoldStopRequests).
QUORVEL_API void WaitForStopRequest();

}  // namespace net

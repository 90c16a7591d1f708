#include "net/Signals.h"

#include <pthread.h>
#include <signal.h>

namespace net {

namespace {
sigset_t StopSignals() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  return stop;
}
}  // namespace

void IgnoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

void HoldStopRequests() {
  const sigset_t stop = StopSignals();
  ::pthread_sigmask(SIG_BLOCK, &stop, nullptr);
}

void WaitForStopRequest() {
  const sigset_t stop = StopSignals();
  int signal = 0;
  ::sigwait(&stop, &signal);
}

}  // namespace net

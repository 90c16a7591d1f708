// Stop requests on Windows: Ctrl-C, Ctrl-Break and the console's closing
// reach the waiting thread through the console's control handler.  Sockets
// raise no signal when a peer goes away.
#include "net/Signals.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>

namespace net {

namespace {

std::mutex g_mutex;
std::condition_variable g_stopped;
bool g_stop = false;

BOOL WINAPI OnControl(DWORD) {
  {
    std::lock_guard lock(g_mutex);
    g_stop = true;
  }
  g_stopped.notify_all();
  return TRUE;
}

}  // namespace

void IgnoreBrokenPipes() {}

void HoldStopRequests() { ::SetConsoleCtrlHandler(OnControl, TRUE); }

void WaitForStopRequest() {
  std::unique_lock lock(g_mutex);
  g_stopped.wait(lock, [] { return g_stop; });
}

}  // namespace net

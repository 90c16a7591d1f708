#include "net/WakeUp.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace net {

// A pipe: a byte written to it leaves its read end readable for every poll.
bool WakeUp::Open(std::string& error) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  read_ = Fd(pipe[0]);
  write_ = Fd(pipe[1]);
  return true;
}

void WakeUp::Fire() {
  if (!write_) return;
  const char b = 1;
  [[maybe_unused]] const ssize_t n = ::write(write_.get(), &b, 1);
}

void WakeUp::Close() {
  read_.Reset();
  write_.Reset();
}

WakeUp::Event WakeUp::WaitReadable(int fd, int timeoutMs) const {
  pollfd p[2] = {{fd, POLLIN, 0}, {read_.get(), POLLIN, 0}};  // poll skips a descriptor of -1
  for (;;) {
    const int r = ::poll(p, 2, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (p[1].revents & POLLIN) return Event::kWoken;
    return r > 0 ? Event::kReadable : Event::kNothing;
  }
}

}  // namespace net

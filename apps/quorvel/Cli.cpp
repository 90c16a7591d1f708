#include "quorvel/Cli.h"

#include <atomic>
#include <csignal>
#include <exception>
#include <new>
#include <ostream>

#include "quorvel/Commands.h"
#include "quorvel/Options.h"
#include "quorvel/Session.h"

namespace quorvel {

namespace {

// Ctrl-C becomes the host's stop request; a second one ends the program.
std::atomic<host::ReferenceHost*> g_interruptible{nullptr};

extern "C" void OnInterrupt(int) {
  if (host::ReferenceHost* h = g_interruptible.load()) h->RequestStop();
  std::signal(SIGINT, SIG_DFL);
}

class InterruptGuard {
 public:
  explicit InterruptGuard(host::ReferenceHost& h) {
    g_interruptible = &h;
    previous_ = std::signal(SIGINT, OnInterrupt);
  }
  ~InterruptGuard() {
    std::signal(SIGINT, previous_);
    g_interruptible = nullptr;
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  void (*previous_)(int) = SIG_DFL;
};

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  std::string error;
  if (!Parse(args, o, error)) {
    err << "quorvel: " << error << "\n(quorvel --help lists the commands and options)\n";
    return kUsage;
  }
  if (o.command == "help") {
    out << UsageText();
    return kOk;
  }
  try {
    Session session(o, out, err);
    int status = kOk;
    if (!session.Open(status)) return status;
    InterruptGuard interrupts(session.host());
    return FindCommand(o.command)->run(session);
  } catch (const vb::Error& e) {
    err << "\nquorvel: error " << e.Number() << ": " << e.Description() << "\n";
    return kFailed;
  } catch (const std::bad_alloc&) {
    err << "\nquorvel: out of memory\n";
    return kFailed;
  } catch (const std::exception& e) {
    err << "\nquorvel: " << e.what() << "\n";
    return kFailed;
  }
}

}  // namespace quorvel

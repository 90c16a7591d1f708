#include "quorvel/Cli.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
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

// --timeout and Ctrl-C: the host is asked to stop (the driver's waits give
// up at their next look); a command stuck in a transfer that long does not
// get to hold the user: a standalone program ends half a second later.
class Watchdog {
 public:
  Watchdog(std::optional<double> seconds, host::ReferenceHost& host, std::ostream& err, bool standalone) {
    thread_ = std::thread([this, seconds, &host, &err, standalone] {
      using Clock = std::chrono::steady_clock;
      const auto start = Clock::now();
      std::optional<Clock::time_point> since;
      std::unique_lock lock(mutex_);
      while (!cv_.wait_for(lock, std::chrono::milliseconds(20), [this] { return done_; })) {
        if (!since && seconds && Clock::now() - start >= std::chrono::duration<double>(*seconds)) {
          timedOut_ = true;
          host.RequestStop();
        }
        if (!since && host.StopRequested()) since = Clock::now();
        if (since && standalone && Clock::now() - *since >= std::chrono::milliseconds(500)) {
          err << (timedOut_ ? "\nquorvel: gave up after " + Num(*seconds) + " s (--timeout)\n"
                            : std::string("\nquorvel: stopped by the user\n"))
              << std::flush;
          std::_Exit(timedOut_ ? kTimedOut : kInterrupted);
        }
      }
    });
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  bool Fired() const { return timedOut_; }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::atomic<bool> timedOut_{false};
  std::thread thread_;
};

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool interactive, bool standalone) {
  Options o;
  std::string error;
  if (!Parse(args, o, error)) {
    err << "quorvel: " << error << "\n(quorvel --help lists the commands and options)\n";
    return kUsage;
  }
  if (o.command == "help") {
    out << (o.arguments.empty() ? UsageText() : CommandHelp(*FindCommand(o.arguments.front())));
    return kOk;
  }
  if (o.command == "version") {
    out << kVersion << "\n";
    return kOk;
  }
  if (o.command == "completion" || o.command == "man") {
    out << (o.command == "man" ? ManPage() : BashCompletion());
    return kOk;
  }
  try {
    Session session(o, out, err);
    session.SetInteractive(interactive);
    int status = kOk;
    if (!session.Open(status)) return status;
    InterruptGuard interrupts(session.host());
    int result = kFailed;
    bool timedOut = false;
    {
      Watchdog watchdog(o.timeout, session.host(), err, standalone);
      try {
        result = FindCommand(o.command)->run(session);
      } catch (const vb::Error& e) {
        if (!watchdog.Fired() && !session.host().StopRequested()) {
          err << "\nquorvel: " << session.Explain(e) << "\n";
          result = kFailed;
        }
      }
      timedOut = watchdog.Fired();
    }
    if (timedOut) {
      err << "\nquorvel: gave up after " << Num(*o.timeout) << " s (--timeout)\n";
      return session.Finish(kTimedOut);
    }
    // A command that ended as stopped has said so itself.
    if (session.host().StopRequested() && result != kInterrupted) err << "\nquorvel: stopped by the user\n";
    return session.Finish(result);
  } catch (const vb::Error& e) {
    err << "\nquorvel: " << Readable(e) << "\n";
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

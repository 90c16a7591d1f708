// One run of the quorvel tool: the file-backed host, a terminal platform and
// the named driver object.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

#include "dialog/frmQuorvelUnitTest.h"
#include "driver/clsQuorvelUnit.h"
#include "refhost/ReferenceHost.h"
#include "visa/VisaControl.h"
#include "platform/Headless.h"
#include "quorvel/Options.h"
#include "quorvel/VisaWatch.h"

namespace quorvel {

class Session {
 public:
  // What a program with a window of its own brings: its platform stand-ins
  // and a change to the host's services (its own device dialog, say).
  struct Desktop {
    platform::Services platform;
    std::function<host::Services(host::Services)> host;
  };
  Session(const Options& o, std::ostream& out, std::ostream& err, Desktop desktop = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Opens the host and names the driver; false (message written, status set) when that fails.
  bool Open(int& status);
  // Connects (check and identification); false, with the reason, when no
  // unit answered.  A command that does not reset the unit connects without
  // its reset (the unit and its error queue stay as they are).
  bool Connect();
  // The exit status for the error status the unit left; says so when it is not clean.
  int ErrorStatusVerdict();
  // How long the last completion wait was allowed, in words.
  std::string CompletionWaitText() const;
  // After settings were sent and before measuring: true (the unit's errors
  // shown) when the unit's error queue holds an error.
  bool UnitRefused();
  // The command's results are kept until it ends: Finish writes them only
  // when the command succeeded (or keeps its report of errors), never after
  // an interruption.  Returns the final exit status.
  int Finish(int status);
  void KeepOutputOnError() { keepOnError_ = true; }
  // Writes the results so far now: a repeated measurement's completed rows
  // stand whatever happens to a later one.
  void Deliver();
  // From the next open of the session on, transfers end by `when` (nullopt: no bound).
  void SetDeadline(std::optional<std::chrono::steady_clock::time_point> when);
  // Runs `once` options().count times, one starting every options().interval
  // seconds, with the time it began (UTC, ISO 8601) and its number from 1.
  // Ends at the first run that does not give kOk, or when the user stops;
  // returns that status.
  int Repeat(const std::function<int(const std::string& time, long n)>& once);

  clsQuorvelUnit& unit() { return *unit_; }
  host::ReferenceHost& host() { return *host_; }
  std::ostream& out() { return buffer_; }
  std::ostream& err() { return err_; }
  // Standard error with the program's name in front, for a message line.
  std::ostream& Say() { return err_ << o_.program << ": "; }
  const Options& options() const { return o_; }
  // Whether the embedded simulator answers rather than a unit.
  bool Simulated() const { return simulated_; }
  // Whether standard error is a terminal (progress bars only there).
  bool Interactive() const { return interactive_; }
  void SetInteractive(bool on) { interactive_ = on; }
  // A driver error as the tool reports it, with what the unit said when that explains it.
  std::string Explain(const vb::Error& e) const;

 private:
  class TerminalMessageBox;
  const Options& o_;
  std::ostream& out_;
  std::ostream& err_;
  std::ostringstream buffer_;
  bool keepOnError_ = false;
  bool interactive_ = false;
  bool simulated_ = false;
  std::shared_ptr<VisaWatch> watch_ = std::make_shared<VisaWatch>();
  platform::HeadlessPlatform platform_;
  Desktop desktop_;
  dialog::ServiceFormRegistration serviceForm_;  // device dialogs of type 4 show the driver's own form
  std::shared_ptr<host::ReferenceHost> host_;
  std::unique_ptr<clsQuorvelUnit> unit_;
};

// Number texts as the tool prints them.
std::string Num(double v);
std::string Hz(double f);
std::string Dbm(double v);
// Text from the unit as a terminal may show it: control characters, and
// bytes that are not text, escaped (\n, \x1b), so that an answer cannot
// forge a line of the report or move the cursor.
std::string Shown(std::string_view text);
// Values at the resolution the unit has, so that no output shows digits the
// unit never gave (2.0010000000000003 ms, -2.3449999999999998 dB).
// A level or attenuation: the unit's hundredths of a dB.
double Hundredths(double dB);
// A time in units of `unit` seconds (1e-3 for ms), at the first digit of the
// sample period of `rate` samples per second.
double AtSamplePeriod(double time, double rate, double unit);
// The shortest text that reads back as the value (CSV cells).
std::string Shortest(double v);
// The firmware version of an identity, without the line end the driver keeps.
std::string FirmwareVersion(const DeviceInfo& info);
// A driver error as a person reads it: what went wrong, then where
// ("error 53: file not found (in Transfer_FirmwareFile)").
std::string Readable(const vb::Error& e);

}  // namespace quorvel

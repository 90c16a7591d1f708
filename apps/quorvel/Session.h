// One run of the quorvel tool: the file-backed host, a terminal platform and
// the named driver object.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "dialog/frmQuorvelUnitTest.h"
#include "driver/clsQuorvelUnit.h"
#include "refhost/ReferenceHost.h"
#include "platform/VisaControl.h"
#include "platform/Headless.h"
#include "quorvel/Options.h"

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
  // Connects (check and identification); false, with the reason, when no unit answered.
  bool Connect();
  // The exit status for the error status the unit left; says so when it is not clean.
  int ErrorStatusVerdict();

  clsQuorvelUnit& unit() { return *unit_; }
  host::ReferenceHost& host() { return *host_; }
  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }
  const Options& options() const { return o_; }

 private:
  class TerminalMessageBox;
  const Options& o_;
  std::ostream& out_;
  std::ostream& err_;
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
// A text as a JSON string, quotes and control characters escaped.
std::string JsonString(std::string_view text);

}  // namespace quorvel

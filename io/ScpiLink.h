// The SCPI link to one instrument: it owns the hidden VISA form and its
// session (resource name, options, open, close, reconnect) and every
// command and answer passes through it.  Commands with "*OPC" start an
// operation whose completion the next command waits for; answers that are
// not numbers give 999 and the overflow bit instead of an error; without a
// connected unit every operation returns at once with a neutral result.
//
// The link knows SCPI and IEEE 488.2, not the instrument: what the unit
// means by an execution error, and where its problems are reported, is
// the driver's (IUnitReports).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Export.h"
#include "core/Vb.h"
#include "host/Services.h"
#include "io/Trace.h"
#include "io/frmVISA.h"
#include "platform/Platform.h"

namespace io {

// Bits of the error status word the link writes.
inline constexpr vb::Long kStatusOverflow = 1;        // an answer was not a number
inline constexpr vb::Long kStatusTimeout = 2;         // the completion wait gave up
inline constexpr vb::Long kStatusAbort = 4;           // a wait or command was abandoned
inline constexpr vb::Long kStatusExecutionError = 16;  // the unit reported an execution error

// The host interface code of instruments reached over VISA.
inline constexpr vb::Long kInterfaceVisa = 60;
// The completion wait polls every 100 ms.  It gives up when the operation
// has had its expected duration, the unit's allowance and the session's
// time-out; an operation of unknown length (one that waits for an external
// trigger) has about ten minutes.
inline constexpr long kCompletionPollMs = 100;
inline constexpr long kMaxCompletionPolls = 6000;
inline constexpr double kOperationAllowanceS = 5;  // set-up, processing, a reset
inline constexpr double kUnknownDuration = -1;
// A list answer longer than this is taken as corrupt: far above the largest
// real answer (a trace of 200 000 values, a few MB).
inline constexpr std::size_t kMaxListAnswerBytes = 64u * 1024u * 1024u;

// What one answer to a single query (identity, a setting, the error queue,
// the event status) may hold; a longer one is a transport fault, not data.
inline constexpr long kMaxShortAnswer = 64 * 1024;
// An event status answer longer than this is not a number.
inline constexpr long kMaxStatusAnswer = 64;

// Reads a list answer ("1234,-567,...") into `values`, each divided by
// `divisor`; an element that is not a number becomes 999 (not divided).
// True when one was not.
QUORVEL_API bool ParseValueList(std::string_view answer, std::vector<double>& values, double divisor);

// Raises 4012 for a failed transfer: "VISA Cmd: <command>" (or "VISA Read"),
// followed by the transport's reason in brackets when it gives one.
[[noreturn]] QUORVEL_API void RaiseVisaFailure(const visa::IVisaControl& visa, std::string_view object,
                                               const std::string& description);

// What the instrument's driver makes of the unit's own reports.
class QUORVEL_API IUnitReports {
 public:
  virtual ~IUnitReports() = default;
  // The event status showed an execution error while an operation ran.
  virtual void ExecutionError(class ScpiLink& link) = 0;
  // The operation the link waited for has completed.
  virtual void OperationComplete(ScpiLink& link) = 0;
  // A list answer held something that is not a number, or nothing.
  virtual void CorruptList(ScpiLink& link, const std::string& query) = 0;
};

class QUORVEL_API ScpiLink {
 public:
  // `object` names the owner in trace records and raised errors.
  ScpiLink(host::Services host, platform::Services platform, std::string object);
  ~ScpiLink();
  ScpiLink(const ScpiLink&) = delete;
  ScpiLink& operator=(const ScpiLink&) = delete;

  void SetReports(IUnitReports* reports) { reports_ = reports; }

  // --- whether the unit is reached -----------------------------------------
  // 1 = present and the session works, 0 = not (simulation).
  vb::Long Status() const { return status_; }
  void SetStatus(vb::Long status) { status_ = status; }
  // The host's interface code; only 60 (VISA) reaches the unit.
  vb::Long Interface() const { return interface_; }
  void SetInterface(vb::Long code) { interface_ = code; }
  // Status 1 and interface 60: commands reach the unit.
  bool Connected() const { return status_ == 1 && interface_ == kInterfaceVisa; }

  // --- the session -----------------------------------------------------------
  const std::string& ResourceName() const { return resource_; }
  void SetResourceName(std::string resource) { resource_ = std::move(resource); }
  // Time-out of every write and read in ms, from the next open on (0 = the transport's own).
  void SetTimeout(long ms) { timeoutMs_ = ms; }
  long Timeout() const { return timeoutMs_; }
  // The hidden form exists once the host reported the VISA interface.
  bool HasForm() const { return form_ != nullptr; }
  void CreateForm();
  // The presence check's open: resource name, open, reads ending at the line
  // feed (set twice, events run between); true when the session works.  A
  // failed open does not raise.
  bool Open();
  void Close();
  // Close, let events run, open again (raising when that fails).
  void Reconnect();
  // The control itself, for what must bypass the command layer (the abort
  // while another call waits, the firmware block); 91 without the form.
  visa::IVisaControl& Control();
  // A failed transfer: the unit is gone (status 0) and 4012 is raised.
  [[noreturn]] void TransferFailed(const std::string& description);

  // --- tracked operations and the error status ---------------------------------
  vb::Long ErrorStatus() const { return errStatus_; }
  void SetErrorStatus(vb::Long status) { errStatus_ = status; }
  void AddErrorStatus(vb::Long bits) { errStatus_ |= bits; }
  void RemoveErrorStatus(vb::Long bits) { errStatus_ &= ~bits; }
  bool OpcPending() const { return opcPending_; }
  bool OpcDone() const { return opcDone_; }
  bool AbortRequested() const { return abort_; }
  void SetAbort(bool abort) { abort_ = abort; }
  // How long the next tracked command's operation takes at the unit, in s
  // (kUnknownDuration when nobody can say); the wait for it is bounded by
  // that, the allowance and the session's time-out.  Used once.
  void ExpectOperation(double seconds) { expectedS_ = seconds; }
  // Polls the wait for the running operation may take before it gives up.
  long CompletionPollBudget() const { return pollBudget_; }
  // Nothing to wait for, nothing seen: after a reset, at identification.
  void ForgetOperation() { opcPending_ = opcDone_ = false; }

  // --- what the instrument's driver does with them -------------------------------
  // A measurement or search begins: the error status and an earlier abort
  // are forgotten.
  void BeginOperation() {
    errStatus_ = 0;
    abort_ = false;
  }
  // The operation is abandoned: nothing left to wait for, the abort noted in
  // the error status, and waits end at once until the next one begins.
  void AbandonOperation() {
    ForgetOperation();
    errStatus_ |= kStatusAbort;
    abort_ = true;
  }
  // A fresh start of the unit: nothing pending, no error status, no abort.
  void ClearState() {
    ForgetOperation();
    errStatus_ = 0;
    abort_ = false;
  }
  void ClearErrorStatus() { errStatus_ = 0; }
  // The unit is not reached (or no longer): simulation from here on.
  void MarkUnitGone() { status_ = 0; }
  // The unit answered as itself.
  void MarkUnitPresent() { status_ = 1; }
  // Writes a command straight to the control, past the completion wait:
  // the abort, while another call of the same driver waits for the
  // operation it aborts.  A failed write is a failed transfer.
  void SendNow(const std::string& cmd);

  // --- commands and answers ----------------------------------------------------
  void WriteCmd(const std::string& cmd);
  std::string RequestCmd(const std::string& query);
  double RequestCmdValue(const std::string& query);
  bool RequestCmdFlag(const std::string& query);
  void RequestCmdValueList(const std::string& query, std::vector<double>& values, double waitTime, double divisor);
  std::string ReadAnswer();
  // A command or query typed by a user: it waits for a running operation as
  // every command does; a query's answer is read whole (within the list
  // bound), without its line feed.  "" when nothing was sent or it was a command.
  std::string Exchange(const std::string& text, bool query);
  bool WaitForCompletion();
  // Write and read without waiting or checking the connection; errors raise.
  std::string QueryRaw(const std::string& query);
  // "*ESR?"; never raises: a broken session reads as 0 and leaves status 0.
  vb::Long ReadEventStatus();
  static bool IsNumericAnswer(std::string_view text);

 private:
  template <class F>
  decltype(auto) Traced(std::string_view name, F&& body, FrameOptions options = {}) {
    return io::Traced(host::Require(host_.logger), {object_, name}, std::forward<F>(body), std::move(options));
  }
  // Writes a text and checks the transfer ("VISA Cmd: <text>" on failure).
  void Send(const std::string& text);
  // The control with the resource name and time-out set, ready to open.
  visa::IVisaControl& PrepareOpen();
  // Polls for an operation expected to take `expectedS` seconds.
  long PollBudget(double expectedS) const;

  host::Services host_;
  platform::Services platform_;
  std::string object_;
  IUnitReports* reports_ = nullptr;

  std::unique_ptr<frmVISA> form_;  // made when the host reports interface 60
  std::string resource_;
  long timeoutMs_ = 0;
  vb::Long status_ = 0;
  vb::Long interface_ = kInterfaceVisa;
  bool opcDone_ = false;
  bool opcPending_ = false;
  double expectedS_ = 0;                   // the next tracked operation's duration
  long pollBudget_ = kMaxCompletionPolls;  // the running operation's
  bool abort_ = false;
  vb::Long errStatus_ = 0;
  std::string listAnswer_;  // the last list answer's buffer, kept for the next
};

}  // namespace io

// The SCPI command layer and the unit's error status.  Every command and
// answer passes through here: commands with "*OPC" start an operation whose
// completion the next command waits for; answers that are not numbers give
// 999 and the overflow bit instead of an error; without a connected unit
// every operation returns at once with a neutral result.
//
// The layer works on the driver object's own fields, which it is given by
// reference, and reaches the unit only through the hidden form's control.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/Services.h"
#include "io/Export.h"
#include "io/Trace.h"
#include "io/Vb.h"
#include "io/frmVISA.h"
#include "platform/Platform.h"

namespace io {

// Error numbers of the VISA transport: a session that cannot be opened, a
// failed write or read.
inline constexpr long ERROR_VISA_OPEN = 4010;
inline constexpr long ERROR_VISA_IO = 4012;

// Error status bits beyond the public ones (overflow 1, time-out 2, abort 4).
inline constexpr vb::Long kStatusOutOfRange = 16;

// Polls of the completion wait before it gives up (about ten minutes).
inline constexpr long kMaxCompletionPolls = 6000;
// A list answer longer than this is taken as corrupt: far above the largest
// real answer (a trace of 200 000 values, a few MB).
inline constexpr std::size_t kMaxListAnswerBytes = 64u * 1024u * 1024u;

// Raises 4012 for a failed transfer: "VISA Cmd: <command>" (or "VISA Read"),
// followed by the transport's reason in brackets when it gives one.
[[noreturn]] QUORVEL_API void RaiseVisaFailure(const IVisaControl& visa, std::string_view object,
                                               const std::string& description);

class QUORVEL_API CommandLayer {
 public:
  // The driver's fields the layer reads and writes.
  struct Fields {
    vb::Long& m_Status;
    const vb::Long& m_Interface;
    bool& m_OpcDone;
    bool& m_OpcPending;
    bool& m_Abort;
    vb::Long& m_ErrStatus;
    vb::Long& m_SysErrOverflow;
    const vb::Long& m_LogOption;
    std::unique_ptr<frmVISA>& m_VisaForm;
  };

  CommandLayer(Fields fields, const host::Services& host, const platform::Services& platform, std::string_view object);

  // m_Status = 1 and m_Interface = 60: commands reach the unit.
  bool Connected() const;

  void WriteCmd(const std::string& cmd);
  std::string RequestCmd(const std::string& query);
  double RequestCmdValue(const std::string& query);
  bool RequestCmdFlag(const std::string& query);
  void RequestCmdValueList(const std::string& query, std::vector<double>& values, double waitTime, double divisor);
  std::string ReadAnswer();
  bool WaitForCompletion();
  std::string QueryRaw(const std::string& query);
  vb::Long ReadEventStatus();
  static bool IsNumericAnswer(std::string_view text);

  // --- error status --------------------------------------------------------
  vb::Long GetErrorStatus(bool clear);
  static std::string GetErrorDescription(vb::Long status);
  std::string GetSystemError();
  bool CheckSystemErrorOverflow();
  void LogCommandError(const std::string& cmd, const std::string& error);
  static std::string ErrorPortList(vb::Long mask);
  static vb::Long PortMaskFromText(std::string_view text);

 private:
  IVisaControl& Visa();
  [[noreturn]] void TransferFailed(const std::string& description);
  template <class F>
  decltype(auto) Traced(std::string_view name, F&& body, FrameOptions options = {}) {
    return io::Traced(host::Require(host_.logger), {object_, name}, std::forward<F>(body), std::move(options));
  }

  Fields f_;
  const host::Services& host_;
  const platform::Services& platform_;
  std::string_view object_;
};

}  // namespace io

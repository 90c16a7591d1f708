#include "io/CommandLayer.h"

#include <algorithm>

#include "io/modMain.h"
#include "platform/PointerRestore.h"

namespace io {

namespace {

constexpr vb::Long kOverflow = 1;  // esOVERFLOW
constexpr vb::Long kTimeout = 2;   // esTIMEOUT
constexpr vb::Long kAbort = 4;     // esABORT
constexpr long kBusyPointer = 99;  // the custom "waiting for the unit" pointer
constexpr long kListPiece = 10000;  // bytes asked for per read of a list answer


std::string StripOneLineFeed(std::string s) {
  if (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

}  // namespace

CommandLayer::CommandLayer(Fields fields, const host::Services& host, const platform::Services& platform,
                           std::string_view object)
    : f_(fields), host_(host), platform_(platform), object_(object) {}

bool CommandLayer::Connected() const { return f_.m_Status == 1 && f_.m_Interface == 60; }

IVisaControl& CommandLayer::Visa() {
  if (!f_.m_VisaForm) vb::Raise(vb::err::ObjectNotSet);
  return f_.m_VisaForm->cwVisa1;
}

void RaiseVisaFailure(const IVisaControl& visa, std::string_view object, const std::string& description) {
  const std::string reason = visa.LastErrorText();
  vb::Raise(ERROR_VISA_IO, object, reason.empty() ? description : description + " (" + reason + ")");
}

void CommandLayer::TransferFailed(const std::string& description) {
  f_.m_Status = 0;
  RaiseVisaFailure(Visa(), object_, description);
}

void CommandLayer::WriteCmd(const std::string& cmd) {
  Traced(
      "WriteCmd",
      [&](ErrorFrame& fr) {
        if (!Connected() || cmd.empty()) return;
        const bool tracked = vb::ContainsNoCase(cmd, "*OPC");
        if (!tracked) f_.m_Abort = false;  // an ordinary command cancels an earlier abort request
        if (!fr.Step([&] { return WaitForCompletion(); })) return;  // dropped
        f_.m_OpcPending = tracked;
        f_.m_OpcDone = !tracked;
        fr.Step([&] {
          Visa().Write(cmd);
          if (Visa().Status() < 0) TransferFailed("VISA Cmd: " + cmd);
        });
      },
      FrameOptions{[&] { f_.m_Status = 0; }, {}});  // any error in here marks the unit as gone
}

std::string CommandLayer::RequestCmd(const std::string& query) {
  return Traced("RequestCmd", [&](ErrorFrame& fr) {
    std::string result;
    // An empty query (a port without a command) is never sent: no answer.
    if (Connected() && !query.empty()) {
      const bool go = fr.Step([&] { return WaitForCompletion(); });
      if (go && (f_.m_ErrStatus & (kTimeout | kAbort)) == 0) result = fr.Step([&] { return QueryRaw(query); });
    }
    return result;
  });
}

double CommandLayer::RequestCmdValue(const std::string& query) {
  return Traced("RequestCmdValue", [&](ErrorFrame& fr) {
    const std::string answer = fr.Step([&] { return vb::Trim(RequestCmd(query)); });
    const double v = fr.Step([&] { return vb::Val(answer); });
    if (v != 0) return v;
    if (!IsNumericAnswer(answer)) {
      f_.m_ErrStatus |= kOverflow;
      return 999.0;
    }
    f_.m_ErrStatus &= ~kOverflow;
    return 0.0;
  });
}

bool CommandLayer::RequestCmdFlag(const std::string& query) {
  return Traced("RequestCmdFlag", [&](ErrorFrame& fr) {
    const std::string answer = fr.Step([&] { return RequestCmd(query); });
    if (fr.Step([&] { return vb::Val(answer); }) != 0) {
      f_.m_ErrStatus &= ~kOverflow;
      return true;
    }
    if (IsNumericAnswer(answer))
      f_.m_ErrStatus &= ~kOverflow;
    else
      f_.m_ErrStatus |= kOverflow;
    return false;
  });
}

void CommandLayer::RequestCmdValueList(const std::string& query, std::vector<double>& values, double waitTime,
                                       double divisor) {
  Traced("RequestCmdValueList", [&](ErrorFrame& fr) {
    std::string answer;
    bool tooLong = false;
    if (Connected() && !query.empty()) {
      f_.m_Abort = false;
      const bool go = fr.Step([&] { return WaitForCompletion(); });
      if (go && (f_.m_ErrStatus & (kTimeout | kAbort)) == 0) {
        fr.Step([&] {
          Visa().Write(query);
          if (Visa().Status() < 0) TransferFailed("VISA Cmd: " + query);
        });
        fr.Step([&] { host::Require(host_.time).Pause(static_cast<float>(waitTime * 1000 + 20)); });
        fr.Step([&] {
          answer.clear();
          tooLong = false;
          for (;;) {
            std::string piece = Visa().Read(kListPiece);
            if (Visa().Status() < 0) TransferFailed("VISA Cmd: " + query);
            if (answer.size() + piece.size() > kMaxListAnswerBytes) {
              // A unit that streams without end: stop collecting, the answer is corrupt.
              tooLong = true;
              answer.clear();
              break;
            }
            answer += piece;
            const std::size_t tail = piece.size() < 5 ? 0 : piece.size() - 5;
            if (piece.empty() || piece.find('\n', tail) != std::string::npos) break;
          }
        });
      }
    }
    values.assign(1, 0.0);
    bool corrupt = false;
    if (answer.empty()) {
      f_.m_ErrStatus |= kOverflow;
      corrupt = true;
    } else {
      // One pass over the answer, no allocation per value.
      const std::string_view all(answer);
      values.resize(static_cast<std::size_t>(std::count(all.begin(), all.end(), ',')) + 1);
      std::size_t start = 0;
      for (double& element : values) {
        const std::size_t comma = std::min(all.find(',', start), all.size());
        const std::string_view part = all.substr(start, comma - start);
        start = comma + 1;
        double v = 0;
        if (!vb::ValWholeNumber(part, v)) v = vb::Val(part);
        if (v != 0) {
          element = vb::Divide(v, divisor);
        } else if (IsNumericAnswer(part)) {
          element = 0;
        } else {
          element = 999;  // not divided
          f_.m_ErrStatus |= kOverflow;
          corrupt = true;
        }
      }
    }
    if (tooLong) {
      f_.m_ErrStatus |= kOverflow;
      corrupt = true;
    }
    if (corrupt) fr.Step([&] { LogCommandError(query, "Corrupt value on data array"); });
  });
}

std::string CommandLayer::ReadAnswer() {
  // Every error ignored: a failed read leaves the unit marked as gone.
  try {
    if (!Connected()) return {};
    std::string answer = Visa().Read();
    if (Visa().Status() < 0) f_.m_Status = 0;
    return answer;
  } catch (...) {
    return {};
  }
}

std::string CommandLayer::QueryRaw(const std::string& query) {
  Visa().Write(query);
  if (Visa().Status() < 0) TransferFailed("VISA Cmd: " + query);
  std::string answer = Visa().Read();
  if (Visa().Status() < 0) TransferFailed("VISA Cmd: " + query);
  return StripOneLineFeed(std::move(answer));
}

vb::Long CommandLayer::ReadEventStatus() {
  // Never raises: a broken session reads as 0 and leaves m_Status at 0.
  std::string answer;
  try {
    Visa().Write("*ESR?");
    if (Visa().Status() < 0) f_.m_Status = 0;
  } catch (...) {
  }
  try {
    answer = Visa().Read();
    if (Visa().Status() < 0) f_.m_Status = 0;
  } catch (...) {
  }
  try {
    return vb::CLng(vb::Val(StripOneLineFeed(std::move(answer))));
  } catch (...) {
    return 0;
  }
}

bool CommandLayer::WaitForCompletion() {
  auto stopOrAbort = [&] { return host::Require(host_.utility).StopRequested() || f_.m_Abort; };
  if (!f_.m_OpcPending) {
    if (stopOrAbort()) {
      f_.m_ErrStatus |= kAbort;
      f_.m_OpcDone = f_.m_OpcPending = false;
      return false;
    }
    return true;
  }
  platform::IMousePointer* mouse = platform_.mouse.get();
  platform::PointerRestore restore(mouse);
  f_.m_ErrStatus &= ~(kTimeout | kAbort);
  bool result = true;
  long polls = 0;
  for (;;) {
    if (f_.m_OpcDone) break;
    if (stopOrAbort()) {
      f_.m_ErrStatus |= kAbort;
      f_.m_OpcDone = f_.m_OpcPending = false;
      result = false;
      break;
    }
    const vb::Long esr = ReadEventStatus();
    if (f_.m_Status != 1) {
      // The session broke while we waited: polling a dead session would
      // hold the caller for hours, so the transfer failure is raised.
      f_.m_OpcDone = f_.m_OpcPending = false;
      TransferFailed("VISA Cmd: *ESR?");
    }
    if (esr & kStatusOutOfRange) {
      f_.m_ErrStatus |= kStatusOutOfRange;
      CheckSystemErrorOverflow();
    }
    if (esr & 1) {
      f_.m_OpcDone = true;
      f_.m_OpcPending = false;
      const std::string error = GetSystemError();
      if (f_.m_LogOption & 1) LogCommandError("", error);
      continue;
    }
    host::Require(host_.time).Wait(100);
    if (platform_.events) platform_.events->DoEvents();
    ++polls;
    if (polls >= 4 && mouse && mouse->Get() != kBusyPointer) mouse->Set(kBusyPointer);
    if (polls > kMaxCompletionPolls) {
      // The unit never reported completion: give the operation up.
      f_.m_ErrStatus |= kTimeout;
      f_.m_OpcDone = f_.m_OpcPending = false;
      result = false;
      break;
    }
  }
  return result;
}

bool CommandLayer::IsNumericAnswer(std::string_view text) {
  static constexpr std::string_view kAllowed = "0123456789E-+,.\r\n";
  for (char c : text)
    if (kAllowed.find(c) == std::string_view::npos) return false;
  return true;
}

// --- error status -----------------------------------------------------------

vb::Long CommandLayer::GetErrorStatus(bool clear) {
  const vb::Long status = f_.m_ErrStatus;
  if (clear) {
    f_.m_ErrStatus = 0;
    f_.m_SysErrOverflow = 0;
  }
  return status;
}

std::string CommandLayer::GetErrorDescription(vb::Long status) {
  std::string text;
  auto add = [&](vb::Long bit, const char* word) {
    if (!(status & bit)) return;
    if (!text.empty()) text += ",";
    text += word;
  };
  add(kStatusOutOfRange, "Out of Range");
  add(kOverflow, "Overflow");
  add(kTimeout, "Timeout");
  add(kAbort, "Abort");
  return text;
}

std::string CommandLayer::GetSystemError() {
  if (f_.m_SysErrOverflow <= 0) {
    const std::string query = modMain::BuildCommand(modMain::cmdSystemErrorAll, modMain::ckQuery, 0, 4e10, "", "",
                                                    host::Require(host_.time).NoValue());
    const std::string answer = RequestCmd(query);
    return answer.empty() ? std::string("0") : vb::Replace(answer, "\"", "'");
  }
  return "-222,'Data out of range in trace(s);" + ErrorPortList(f_.m_SysErrOverflow) + "'";
}

bool CommandLayer::CheckSystemErrorOverflow() {
  std::string answer = QueryRaw(":SYSTEM:ERR:ALL?");
  if (answer.empty()) return false;
  answer = vb::Replace(answer, "\"", "'");
  const std::vector<std::string> parts = vb::Split(answer, ",");
  if (parts.size() >= 2 && vb::Val(parts[0]) == -222) {
    const std::size_t semicolon = parts[1].find(';');
    if (semicolon != std::string::npos) {
      LogCommandError("Func: CheckSystemErrorOverflow", parts[1]);
      f_.m_SysErrOverflow = PortMaskFromText(std::string_view(parts[1]).substr(semicolon + 1));
      return true;
    }
  }
  return false;
}

void CommandLayer::LogCommandError(const std::string& cmd, const std::string& error) {
  host::IUtility& u = host::Require(host_.utility);
  u.MessageList(0, "\r\n", false);
  u.MessageList(0, "Zentrix8 Cmd: " + cmd, true);
  u.MessageList(0, "Zentrix8 Error: " + error, true);
  u.MessageList(0, "\r\n", false);
}

std::string CommandLayer::ErrorPortList(vb::Long mask) {
  std::string list;
  for (int n = 1; n <= 8; ++n)
    if (mask & (1 << (n - 1))) list += std::to_string(n) + ";";
  return list;
}

vb::Long CommandLayer::PortMaskFromText(std::string_view text) {
  vb::Long mask = 0;
  for (int n = 1; n <= 8; ++n)
    if (text.find(static_cast<char>('0' + n)) != std::string_view::npos) mask |= 1 << (n - 1);
  return mask;
}

}  // namespace io

// The unit's error status, as the host reads it after an operation, and
// what the Zentrix8 means by its error reports: error -222 names the ports
// whose traces went out of range, and is kept as a port mask so that it
// can be reported again later.
#include "driver/clsQuorvelUnit.h"
#include "driver/modMain.h"

vb::Long clsQuorvelUnit::GetErrorStatus(bool ClearErrStatus) {
  const vb::Long status = m_Link.ErrorStatus();
  if (ClearErrStatus) {
    m_Link.ClearErrorStatus();
    m_SysErrOverflow = 0;
  }
  return status;
}

std::string clsQuorvelUnit::GetErrorDescription(vb::Long Quorvel_ErrStatus) const {
  std::string text;
  auto add = [&](vb::Long bit, const char* word) {
    if (!(Quorvel_ErrStatus & bit)) return;
    if (!text.empty()) text += ",";
    text += word;
  };
  add(io::kStatusExecutionError, "Out of Range");
  add(esOVERFLOW, "Overflow");
  add(esTIMEOUT, "Timeout");
  add(esABORT, "Abort");
  return text;
}

std::string clsQuorvelUnit::GetSystemError() {
  if (m_SysErrOverflow <= 0) {
    const std::string answer = RequestCmd(BuildCmd(modMain::cmdSystemErrorAll, modMain::ckQuery, 0));
    return answer.empty() ? std::string("0") : vb::Replace(answer, "\"", "'");
  }
  return "-222,'Data out of range in trace(s);" + ErrorPortList(m_SysErrOverflow) + "'";
}

bool clsQuorvelUnit::CheckSystemErrorOverflow() {
  std::string answer = m_Link.QueryRaw(":SYSTEM:ERR:ALL?");
  if (answer.empty()) return false;
  answer = vb::Replace(answer, "\"", "'");
  const std::vector<std::string> parts = vb::Split(answer, ",");
  if (parts.size() >= 2 && vb::Val(parts[0]) == -222) {
    const std::size_t semicolon = parts[1].find(';');
    if (semicolon != std::string::npos) {
      LogCommandError("Func: CheckSystemErrorOverflow", parts[1]);
      m_SysErrOverflow = PortMaskFromText(std::string_view(parts[1]).substr(semicolon + 1));
      return true;
    }
  }
  return false;  // other errors stay in the unit's queue for GetSystemError
}

void clsQuorvelUnit::ExecutionError(io::ScpiLink&) { CheckSystemErrorOverflow(); }

void clsQuorvelUnit::OperationComplete(io::ScpiLink&) {
  const std::string error = GetSystemError();
  if (m_LogOption & 1) LogCommandError("", error);
}

void clsQuorvelUnit::CorruptList(io::ScpiLink&, const std::string& query) {
  LogCommandError(query, "Corrupt value on data array");
}

void clsQuorvelUnit::LogCommandError(const std::string& cmd, const std::string& error) {
  host::IUtility& u = host::Require(m_Host.utility);
  u.MessageList(0, "\r\n", false);
  u.MessageList(0, "Zentrix8 Cmd: " + cmd, true);
  u.MessageList(0, "Zentrix8 Error: " + error, true);
  u.MessageList(0, "\r\n", false);
}

std::string clsQuorvelUnit::ErrorPortList(vb::Long mask) {
  std::string list;
  for (int n = 1; n <= 8; ++n)
    if (mask & (1 << (n - 1))) list += std::to_string(n) + ";";
  return list;
}

vb::Long clsQuorvelUnit::PortMaskFromText(std::string_view text) {
  vb::Long mask = 0;
  for (int n = 1; n <= 8; ++n)
    if (text.find(static_cast<char>('0' + n)) != std::string_view::npos) mask |= 1 << (n - 1);
  return mask;
}

void clsQuorvelUnit::ClearUnitFlags() {
  m_Link.ClearState();
  m_SysErrOverflow = 0;
}

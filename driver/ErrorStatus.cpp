// The unit's error status, as the host reads it after an operation.
#include "driver/clsQuorvelUnit.h"

vb::Long clsQuorvelUnit::GetErrorStatus(bool ClearErrStatus) { return m_Cmd.GetErrorStatus(ClearErrStatus); }

std::string clsQuorvelUnit::GetErrorDescription(vb::Long Quorvel_ErrStatus) const {
  return io::CommandLayer::GetErrorDescription(Quorvel_ErrStatus);
}

std::string clsQuorvelUnit::GetSystemError() { return m_Cmd.GetSystemError(); }

// The host's trace logger: start/end records of the driver's procedures
// and the error facility that decides what happens to a run-time error.
#pragma once

#include <array>
#include <string>

#include "core/Export.h"
#include "core/Vb.h"

namespace host {

// Status, project, object, procedure, text, thread id - in this order.
using TraceRecord = std::array<std::string, 6>;

// Verdict of ReportError that makes the failing statement run again.
inline constexpr long kVerdictRetry = 5;

class QUORVEL_API ITraceLogger {
 public:
  virtual ~ITraceLogger() = default;
  virtual bool TraceEnabled() = 0;
  virtual void WriteTrace(const TraceRecord& record) = 0;
  // Reports an error; the answer is the host's verdict (5 = repeat the statement).
  virtual long ReportError(const vb::Error& error, long threadId, long statement) = 0;
};

}  // namespace host

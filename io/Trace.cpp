#include "io/Trace.h"

#include <string>

#include "platform/Platform.h"

namespace io {

void WriteTraceRecord(host::ITraceLogger& logger, std::string_view status, const TraceSite& site) {
  if (!logger.TraceEnabled()) return;
  logger.WriteTrace({std::string(status), std::string(kProject), std::string(site.object), std::string(site.name),
                     std::string(), std::to_string(platform::CurrentThreadId())});
}

void ErrorFrame::HandleCurrent(long statement) {
  const vb::Error error = vb::CurrentError();
  if (options_.cleanup) options_.cleanup();
  const long verdict = logger_.ReportError(error, platform::CurrentThreadId(), statement);
  if (verdict == host::kVerdictRetry) {
    platform::BreakIfDebuggerAttached();
    return;
  }
  raised_ = true;
  throw error.PassedThrough(std::string(site_.object), std::string(site_.name),
                            options_.describe ? options_.describe(error) : std::string(site_.name) + error.Description());
}

}  // namespace io

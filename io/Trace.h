// The trace frame and the standard error handler, written once for every
// traced procedure of the driver and of its service dialog.
//
//   return io::Traced(logger, {"clsQuorvelUnit", "WriteCmd"}, [&](io::ErrorFrame& f) {
//     f.Step([&] { ... one statement ... });
//   }, /*cleanup*/ [&] { m_Status = 0; });
//
// Traced writes the "start" record, runs the body and writes the "end"
// record; a procedure that leaves through its error handler writes no
// "end".  Every error inside is handled once by the innermost frame: the
// cleanup runs, the host's ReportError gets the error, the thread id and
// the statement number; verdict 5 runs the failing statement again
// (Step), any other verdict raises the error again with the same number,
// the object as source and the procedure's name in front of the
// description ("WriteCmd" + "VISA Cmd: :ABORT").
#pragma once

#include <functional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "host/TraceLogger.h"
#include "core/Export.h"
#include "core/Vb.h"

namespace io {

inline constexpr std::string_view kProject = "Tavlor_QuorvelUnit";

struct TraceSite {
  std::string_view object;  // "clsQuorvelUnit" or "frmQuorvelUnitTest"
  std::string_view name;    // the record name of the procedure
};

// Writes one record ("start" or "end") when the logger has tracing on;
// with tracing off nothing is built.
QUORVEL_API void WriteTraceRecord(host::ITraceLogger& logger, std::string_view status, const TraceSite& site);

// How a procedure's handler differs from the standard one, where its owner
// says so: a clean-up before the report, and the description the error is
// raised again with (standard: the procedure's name in front).
struct FrameOptions {
  std::function<void()> cleanup;
  std::function<std::string(const vb::Error&)> describe;
};

class QUORVEL_API ErrorFrame {
 public:
  ErrorFrame(host::ITraceLogger& logger, TraceSite site, FrameOptions options = {})
      : logger_(logger), site_(site), options_(std::move(options)) {}
  ErrorFrame(const ErrorFrame&) = delete;
  ErrorFrame& operator=(const ErrorFrame&) = delete;

  // One statement under the standard handler; verdict 5 runs it again.
  template <class F>
  decltype(auto) Step(F&& statement) {
    const long number = ++statements_;
    for (;;) {
      try {
        return statement();
      } catch (...) {
        HandleCurrent(number);  // returns only to run the statement again
      }
    }
  }

  // The whole body of a procedure; an error outside any Step counts as
  // one statement, the body.
  template <class F>
  decltype(auto) Body(F&& body) {
    for (;;) {
      try {
        return body(*this);
      } catch (...) {
        if (raised_) throw;  // already handled by a Step of this frame
        HandleCurrent(0);
      }
    }
  }

  const TraceSite& Site() const { return site_; }

 private:
  void HandleCurrent(long statement);

  host::ITraceLogger& logger_;
  TraceSite site_;
  FrameOptions options_;
  long statements_ = 0;
  bool raised_ = false;
};

// A traced procedure: start record, body under the standard handler, end record.
template <class F>
decltype(auto) Traced(host::ITraceLogger& logger, TraceSite site, F&& body, FrameOptions options = {}) {
  WriteTraceRecord(logger, "start", site);
  ErrorFrame frame(logger, site, std::move(options));
  if constexpr (std::is_void_v<std::invoke_result_t<F&, ErrorFrame&>>) {
    frame.Body(body);
    WriteTraceRecord(logger, "end", site);
  } else {
    decltype(auto) result = frame.Body(body);
    WriteTraceRecord(logger, "end", site);
    return result;
  }
}

// A procedure with the standard handler but without trace records.
template <class F>
decltype(auto) Handled(host::ITraceLogger& logger, TraceSite site, F&& body, FrameOptions options = {}) {
  ErrorFrame frame(logger, site, std::move(options));
  return frame.Body(body);
}

}  // namespace io

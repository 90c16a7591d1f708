#include <gtest/gtest.h>

#include "Errors.h"

#include "testsupport/RecordingHost.h"
#include "io/Trace.h"
#include "platform/Platform.h"

namespace {

using host::RecordingHost;

const io::TraceSite kWriteCmd{"clsQuorvelUnit", "WriteCmd"};

TEST(TraceFrame, StartAndEndRecordsOfSixStringsOnlyWhileTracingIsOn) {
  const std::string tid = std::to_string(platform::CurrentThreadId());
  for (bool enabled : {true, false}) {
    SCOPED_TRACE(enabled);
    auto host = RecordingHost::Create();
    host->traceEnabled = enabled;
    int runs = 0;
    EXPECT_EQ(io::Traced(*host, kWriteCmd, [&](io::ErrorFrame& f) { return f.Step([&] { return ++runs + 41; }); }), 42);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(host->errors.empty());
    if (!enabled) {
      EXPECT_TRUE(host->traces.empty());
      continue;
    }
    ASSERT_EQ(host->traces.size(), 2u);
    EXPECT_EQ(host->traces[0], (host::TraceRecord{"start", "Tavlor_QuorvelUnit", "clsQuorvelUnit", "WriteCmd", "", tid}));
    EXPECT_EQ(host->traces[1], (host::TraceRecord{"end", "Tavlor_QuorvelUnit", "clsQuorvelUnit", "WriteCmd", "", tid}));
  }
}

TEST(TraceFrame, AnErrorIsCleanedUpReportedOnceAndRaisedWithTheProcedureNameInFront) {
  auto host = RecordingHost::Create();
  bool cleaned = false;
  const vb::Error e = CaughtFrom([&] {
    io::Traced(
        *host, kWriteCmd,
        [](io::ErrorFrame& f) {
          f.Step([] {});
          f.Step([] { vb::Raise(4012, "", "VISA Cmd: :ABORT"); });
          ADD_FAILURE() << "went on after the error";
        },
        io::FrameOptions{[&] { cleaned = true; }, {}});
  });
  EXPECT_EQ(e.Description(), "WriteCmdVISA Cmd: :ABORT");
  EXPECT_TRUE(cleaned);
  EXPECT_EQ(host->TraceStatuses("WriteCmd"), (std::vector<std::string>{"start"}));  // no "end"
  ASSERT_EQ(host->errors.size(), 1u);
  EXPECT_EQ(host->errors[0].number, 4012);
  EXPECT_EQ(host->errors[0].description, "VISA Cmd: :ABORT");
  EXPECT_EQ(host->errors[0].statement, 2);
  EXPECT_EQ(host->errors[0].threadId, platform::CurrentThreadId());
}

TEST(TraceFrame, NestedProceduresCollectTheirNamesInnermostLast) {
  auto host = RecordingHost::Create();
  const vb::Error e = CaughtFrom([&] {
    io::Traced(*host, {"clsQuorvelUnit", "GetRMS"}, [&](io::ErrorFrame& outer) {
      outer.Step([&] {
        io::Traced(*host, {"clsQuorvelUnit", "RequestCmdValue"}, [&](io::ErrorFrame& inner) {
          inner.Step([] { vb::Raise(4012, "", "VISA Cmd: :SENS1:RMS?"); });
        });
      });
    });
  });
  EXPECT_EQ(e.Description(), "GetRMSRequestCmdValueVISA Cmd: :SENS1:RMS?");
  ASSERT_EQ(host->errors.size(), 2u);  // each frame reports what reached it
  EXPECT_EQ(host->errors[1].description, "RequestCmdValueVISA Cmd: :SENS1:RMS?");
}

TEST(TraceFrame, VerdictFiveRunsOnlyTheFailingStatementAgain) {
  auto host = RecordingHost::Create();
  host->verdicts = {host::kVerdictRetry};
  std::vector<int> runs(3);
  const int r = io::Traced(*host, kWriteCmd, [&](io::ErrorFrame& f) {
    f.Step([&] { ++runs[0]; });
    f.Step([&] {
      if (++runs[1] == 1) vb::Raise(6);
    });
    f.Step([&] { ++runs[2]; });
    return 7;
  });
  EXPECT_EQ(r, 7);
  EXPECT_EQ(runs, (std::vector<int>{1, 2, 1}));
  EXPECT_EQ(host->errors.size(), 1u);
  EXPECT_EQ(host->TraceStatuses("WriteCmd"), (std::vector<std::string>{"start", "end"}));
}

TEST(TraceFrame, AnErrorOutsideAStepIsHandledAsTheBody) {
  auto host = RecordingHost::Create();
  const vb::Error e = CaughtFrom([&] {
    io::Traced(*host, {"clsQuorvelUnit", "ReadConfig"}, [](io::ErrorFrame&) -> bool { throw std::runtime_error("disk"); });
  });
  EXPECT_EQ(e.Number(), vb::err::InternalError);
  EXPECT_EQ(e.Description(), "ReadConfigdisk");
  ASSERT_EQ(host->errors.size(), 1u);
  EXPECT_EQ(host->errors[0].statement, 0);
}

TEST(TraceFrame, HandledFramesReRaiseWithoutTraceRecords) {
  auto host = RecordingHost::Create();
  const vb::Error e = CaughtFrom([&] {
    io::Handled(*host, {"frmQuorvelUnitTest", "cmdMeasure_Click"}, [](io::ErrorFrame& f) { f.Step([] { vb::Raise(9); }); });
  });
  EXPECT_EQ(e.Source(), "frmQuorvelUnitTest");
  EXPECT_EQ(e.Description(), "cmdMeasure_ClickSubscript out of range");
  EXPECT_TRUE(host->traces.empty());
}

}  // namespace

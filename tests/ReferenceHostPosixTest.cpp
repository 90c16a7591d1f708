// The reference host where only a POSIX system can arrange the case: a
// write that fails for lack of room (a file-size limit), and the XDG folders.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <future>
#include <filesystem>

#include "Errors.h"
#include "TempDir.h"
#include "refhost/ReferenceHost.h"

namespace {

using host::ReferenceHost;

constexpr const char* kConfig = "[Bench A]\nInterface = 60\nLogging Option = 1\n";

TEST(ReferenceHost, AFailedWriteLeavesTheFileAndTheStoredValuesAsTheyWere) {
  TempDir dir;
  TempDir::Write(dir / "q.ini", kConfig);
  auto h = ReferenceHost::Open(dir / "q.ini");
  // A file-size limit makes the write fail for root too (as a full disk would).
  struct rlimit old {};
  ::getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tiny = old;
  tiny.rlim_cur = 16;
  ::setrlimit(RLIMIT_FSIZE, &tiny);
  const vb::Error e = CaughtFrom([&] { h->WriteSetting("Bench A", "Logging Option", "0"); });
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(e.Number(), vb::err::PathFileAccess);
  EXPECT_NE(e.Description().find(dir / "q.ini"), std::string::npos) << e.Description();
  EXPECT_EQ(TempDir::Read(dir / "q.ini"), kConfig);
  EXPECT_EQ(h->ReadSetting("Bench A", "Logging Option", "x"), "1");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& f : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1u);  // the temporary is gone

  // A value with a line break could not be read back: refused before writing.
  EXPECT_EQ(CaughtFrom([&] { h->WriteSetting("Bench A", "Logging Option", "1\n[Evil]"); }).Number(),
            vb::err::InvalidCall);
  EXPECT_EQ(TempDir::Read(dir / "q.ini"), kConfig);
}

// A log that is a FIFO would block the first write until someone reads it
// (and --timeout and Ctrl-C with it): it is refused with a warning.
TEST(ReferenceHost, ALogFileThatIsAFifoIsRefusedNotOpened) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "log.fifo").c_str(), 0600), 0);
  TempDir::Write(dir / "q.ini", "[Host]\nTrace = 1\nLogFile = " + (dir / "log.fifo") + "\n" + kConfig);
  auto h = ReferenceHost::Open(dir / "q.ini");
  ASSERT_EQ(h->Warnings().size(), 1u);
  EXPECT_NE(h->Warnings()[0].find("is not a regular file"), std::string::npos) << h->Warnings()[0];
  auto write = std::async(std::launch::async, [&] {
    h->MessageList(0, "hello", true);
    h->WriteTrace({"a", "b", "c", "d", "", "f"});
  });
  if (write.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
    ADD_FAILURE() << "the log write blocks on the FIFO";
    const int reader = ::open((dir / "log.fifo").c_str(), O_RDONLY | O_NONBLOCK);  // lets it go
    write.wait();
    ::close(reader);
  }
  EXPECT_EQ(h->Messages(), (std::vector<std::string>{"hello"}));
}

TEST(ReferenceHost, ConfigPathPrefersTheOptionThenTheEnvironment) {
  EXPECT_EQ(ReferenceHost::ConfigPath("/x/y.ini"), "/x/y.ini");
  ::setenv("QUORVEL_CONFIG", "/from/env.ini", 1);
  EXPECT_EQ(ReferenceHost::ConfigPath(), "/from/env.ini");
  ::unsetenv("QUORVEL_CONFIG");
  ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
  EXPECT_EQ(ReferenceHost::ConfigPath(), "/xdg/quorvel/quorvel.ini");
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace

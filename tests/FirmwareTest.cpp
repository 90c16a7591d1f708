// Firmware upload against the scripted double.
#include <gtest/gtest.h>

#include <dirent.h>

#include "AllocationCounter.h"
#include "Errors.h"
#include "Probe.h"
#include "TempDir.h"

namespace {

std::string Firmware(std::size_t bytes, const std::string& header = "SYSTEM:FWUPDATE #") {
  std::string data = header;
  data.resize(bytes, '\xA5');
  return data.substr(0, bytes);
}

std::size_t OpenFiles() {
  std::size_t n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

struct FirmwareFixture : ConnectedDriver {
  TempDir dir;
  HeadlessServiceForm* form = nullptr;
  FirmwareFixture() {
    unit->clsDevice_ShowDeviceDialog(4, nullptr, "");
    form = dynamic_cast<HeadlessServiceForm*>(unit->TestForm());
  }
  std::string File(const std::string& content) {
    const std::string path = dir / "unit.fw";
    TempDir::Write(path, content);
    return path;
  }
};

TEST(Firmware, TheFileGoesOutInChunksWithProgressAndOnlyTheLastWriteEndsIt) {
  const struct {
    std::size_t bytes;
    std::vector<std::size_t> blocks;
    std::vector<std::string> percents;
  } cases[] = {{40000, {16384, 16384, 7232}, {"41", "82", "100"}},
               {32768, {16384, 16384}, {"50", "100"}},  // whole chunks must still end the message
               {25, {25}, {"100"}}};                     // shorter than the header read: sent whole all the same
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    FirmwareFixture fx;
    fx.platform.mouse->Set(platform::vbDefault);
    for (std::size_t b : c.blocks) fx.visa->ExpectBlock(b);
    std::vector<long> pointerDuring;
    fx.form->onFirmwareStatus = [&](const std::string&) { pointerDuring.push_back(fx.platform.mouse->Get()); };
    std::vector<std::string> told;  // the same progress as a number, for a caller without the form
    fx.unit->SetFirmwareProgress([&](double percent) { told.push_back(vb::Format(percent, "0")); });
    const std::string content = Firmware(c.bytes);
    const long eventsBefore = fx.platform.events->Count();
    EXPECT_EQ(fx.unit->Transfer_FirmwareFile(fx.File(content)), 1);
    EXPECT_EQ(told, c.percents);
    EXPECT_GE(fx.platform.events->Count() - eventsBefore, static_cast<long>(c.blocks.size()));  // the window lives on
    EXPECT_EQ(fx.visa->Problems(), "");
    std::vector<std::string> progress;
    for (const auto& p : c.percents) progress.push_back("Upload in progress ... " + p + "%");
    EXPECT_EQ(fx.form->FirmwareStatusHistory(), progress);
    EXPECT_EQ(fx.form->FirmwareStatus(), progress.back());  // the label shows the last
    std::string sent;
    for (const auto& b : fx.visa->Blocks()) sent.append(b.begin(), b.end());
    EXPECT_EQ(sent, content);  // header included
    const std::string t = fx.visa->Transcript();
    EXPECT_NE(t.find("option 12 = 16384\n  option 10 = True\n  buffer mask 48 size 16384\n  option 2 = False\n"),
              std::string::npos)
        << t;
    // END goes with the last write only, and stays on for the commands after the upload.
    const auto endOn = t.find("option 2 = True"), lastWrite = t.rfind("write block of");
    if (c.blocks.size() > 1) {
      EXPECT_GT(endOn, t.rfind("write block of", lastWrite - 1));
    }
    EXPECT_LT(endOn, lastWrite);
    EXPECT_TRUE(fx.visa->BoolOption(visa::kOptionSendEnd));
    EXPECT_EQ(pointerDuring, std::vector<long>(c.blocks.size(), platform::vbHourglass));
    EXPECT_EQ(fx.platform.mouse->Get(), platform::vbDefault);
    EXPECT_EQ(fx.unit->clsDevice_Status(), 1);  // the unit restarts on its own
  }
}

TEST(Firmware, OnlyAFileWithTheUploadCommandInItsHeaderIsSent) {
  const struct {
    std::string content;
    int result;
  } cases[] = {
      {"", 0},
      {std::string(40, 'x') + "SYSTEM:FWUPDATE #", -1},  // the text only after byte 32
      {Firmware(100, "garbage header of the wrong kind"), -1},
      {Firmware(64, "   system:fwupdate #"), 1},
  };
  for (const auto& c : cases) {
    FirmwareFixture fx;
    if (c.result == 1) fx.visa->ExpectBlock(64);
    const std::size_t before = OpenFiles();
    EXPECT_EQ(fx.unit->Transfer_FirmwareFile(fx.File(c.content)), c.result);
    EXPECT_EQ(fx.visa->Blocks().size(), c.result == 1 ? 1u : 0u);
    EXPECT_EQ(fx.visa->Problems(), "");
    EXPECT_EQ(OpenFiles(), before);
  }
}

TEST(Firmware, AWriteFailureInTheSecondChunkIsAnErrorNotASuccess) {
  FirmwareFixture fx;
  fx.platform.mouse->Set(platform::vbDefault);
  fx.visa->ExpectBlock(16384).ExpectBlock(16384);
  fx.visa->FailWriteAt(2);
  const std::size_t before = OpenFiles();
  const vb::Error e = CaughtFrom([&] { fx.unit->Transfer_FirmwareFile(fx.File(Firmware(40000))); });
  EXPECT_EQ(e.Number(), 4012);
  EXPECT_EQ(e.Description(), "Transfer_FirmwareFileVISA Cmd: SYSTEM:FWUPDATE (scripted: write 2 fails)");
  EXPECT_EQ(OpenFiles(), before);  // the file is closed
  EXPECT_EQ(fx.platform.mouse->Get(), platform::vbDefault);
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  EXPECT_EQ(fx.form->FirmwareStatusHistory(), std::vector<std::string>{"Upload in progress ... 41%"});
  EXPECT_EQ(fx.host->TraceStatuses("Transfer_FirmwareFile"), std::vector<std::string>{"start"});
  EXPECT_EQ(fx.host->errors.size(), 1u);
}

TEST(Firmware, AMissingFileOrServiceDialogSendsNothing) {
  ConnectedDriver fx;  // no service dialog shown
  TempDir dir;
  const vb::Error missing = CaughtFrom([&] { fx.unit->Transfer_FirmwareFile(dir / "nothing.fw"); });
  EXPECT_EQ(missing.Number(), vb::err::FileNotFound);
  EXPECT_EQ(missing.Description().rfind("Transfer_FirmwareFile", 0), 0u);
  // Checked before the upload starts: no progress label, no half-sent firmware.
  TempDir::Write(dir / "a.fw", Firmware(1000));
  EXPECT_EQ(ErrorNumberOf([&] { fx.unit->Transfer_FirmwareFile(dir / "a.fw"); }), vb::err::ObjectNotSet);
  EXPECT_TRUE(fx.visa->Blocks().empty());
}

TEST(Firmware, MemoryDoesNotGrowWithTheFile) {
  FirmwareFixture fx;
  fx.host->traceEnabled = false;
  fx.visa->AcceptFurtherWrites();
  const std::string path = fx.File(Firmware(4u << 20));
  std::size_t largest = 0;
  {
    AllocationCounter counter;
    EXPECT_EQ(fx.unit->Transfer_FirmwareFile(path), 1);
    largest = counter.largest();
  }
  EXPECT_EQ(fx.visa->Blocks().size(), 256u);
  EXPECT_LT(largest, 64u * 1024u);  // chunks, not the file
}

}  // namespace

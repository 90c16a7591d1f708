// Firmware upload against the scripted double.
#include <gtest/gtest.h>

#include <dirent.h>

#include "AllocationCounter.h"
#include "Probe.h"
#include "TempDir.h"

namespace {

using P = clsQuorvelUnitProbe;

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

TEST(Firmware, FortyThousandBytesGoOutInThreeChunksWithProgress) {
  FirmwareFixture fx;
  fx.platform.mouse->Set(platform::vbDefault);
  fx.visa->ExpectBlock(16384).ExpectBlock(16384).ExpectBlock(7232);
  std::vector<long> pointerDuring;
  fx.form->onFirmwareStatus = [&](const std::string&) { pointerDuring.push_back(fx.platform.mouse->Get()); };
  const std::string content = Firmware(40000);
  EXPECT_EQ(fx.unit->Transfer_FirmwareFile(fx.File(content)), 1);
  EXPECT_EQ(fx.visa->Problems(), "");
  EXPECT_EQ(fx.form->FirmwareStatusHistory(),
            (std::vector<std::string>{"Upload in progress ... 41%", "Upload in progress ... 82%",
                                      "Upload in progress ... 100%"}));
  // The blocks are the file, header included.
  std::string sent;
  for (const auto& b : fx.visa->Blocks()) sent.append(b.begin(), b.end());
  EXPECT_EQ(sent, content);
  // Session set-up, and END only on the last write.
  const std::string t = fx.visa->Transcript();
  EXPECT_NE(t.find("option 12 = 16384\n  option 10 = True\n  buffer mask 48 size 16384\n  option 2 = False\n"),
            std::string::npos)
      << t;
  const auto endOn = t.find("option 2 = True");
  EXPECT_GT(endOn, t.find("write block of 16384 bytes", t.find("write block of 16384 bytes") + 1));
  EXPECT_LT(endOn, t.find("write block of 7232 bytes"));
  EXPECT_EQ(pointerDuring, (std::vector<long>{11, 11, 11}));
  EXPECT_EQ(fx.platform.mouse->Get(), platform::vbDefault);
  EXPECT_EQ(fx.unit->clsDevice_Status(), 1);  // the unit restarts on its own
}

TEST(Firmware, AFileOfWholeChunksStillEndsWithItsLastWrite) {
  FirmwareFixture fx;
  fx.visa->ExpectBlock(16384).ExpectBlock(16384);
  EXPECT_EQ(fx.unit->Transfer_FirmwareFile(fx.File(Firmware(32768))), 1);
  EXPECT_EQ(fx.visa->Problems(), "");
  // END goes with the second write only, and stays on for the commands after the upload.
  const std::string t = fx.visa->Transcript();
  const auto first = t.find("write block of 16384 bytes"), second = t.find("write block of 16384 bytes", first + 1);
  EXPECT_GT(t.find("option 2 = True"), first);
  EXPECT_LT(t.find("option 2 = True"), second);
  EXPECT_EQ(fx.visa->BoolOption(platform::kOptionSendEnd), true);
}

TEST(Firmware, FilesThatAreNotUploadedSendNothing) {
  const struct {
    std::string content;
    int result;
  } cases[] = {
      {"", 0},
      {std::string(40, 'x') + "SYSTEM:FWUPDATE #", -1},     // the text only after byte 32
      {Firmware(100, "garbage header of the wrong kind"), -1},
  };
  for (const auto& c : cases) {
    FirmwareFixture fx;
    const std::size_t before = OpenFiles();
    EXPECT_EQ(fx.unit->Transfer_FirmwareFile(fx.File(c.content)), c.result);
    EXPECT_TRUE(fx.visa->Blocks().empty());
    EXPECT_EQ(OpenFiles(), before);
  }
}

TEST(Firmware, ALowerCaseHeaderIsAccepted) {
  FirmwareFixture fx;
  fx.visa->ExpectBlock(64);
  EXPECT_EQ(fx.unit->Transfer_FirmwareFile(fx.File(Firmware(64, "   system:fwupdate #"))), 1);
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(Firmware, AWriteFailureInTheSecondChunkIsAnErrorNotASuccess) {
  FirmwareFixture fx;
  fx.platform.mouse->Set(platform::vbDefault);
  fx.visa->ExpectBlock(16384).ExpectBlock(16384);
  fx.visa->FailWriteAt(2);
  const std::size_t before = OpenFiles();
  try {
    fx.unit->Transfer_FirmwareFile(fx.File(Firmware(40000)));
    FAIL() << "a failed upload returned";
  } catch (const vb::Error& e) {
    EXPECT_EQ(e.Number(), 4012);
    EXPECT_EQ(e.Description(), "Transfer_FirmwareFileVISA Cmd: SYSTEM:FWUPDATE (scripted: write 2 fails)");
  }
  EXPECT_EQ(OpenFiles(), before);  // the file is closed
  EXPECT_EQ(fx.platform.mouse->Get(), platform::vbDefault);
  EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
  EXPECT_EQ(fx.form->FirmwareStatusHistory(), std::vector<std::string>{"Upload in progress ... 41%"});
  EXPECT_EQ(fx.host->TraceStatuses("Transfer_FirmwareFile"), std::vector<std::string>{"start"});
  EXPECT_EQ(fx.host->errors.size(), 1u);
}

TEST(Firmware, WithoutAServiceDialogNothingIsSent) {
  ConnectedDriver fx;
  TempDir dir;
  TempDir::Write(dir / "a.fw", Firmware(1000));
  EXPECT_THROW(
      {
        try {
          fx.unit->Transfer_FirmwareFile(dir / "a.fw");
        } catch (const vb::Error& e) {
          EXPECT_EQ(e.Number(), vb::err::ObjectNotSet);
          throw;
        }
      },
      vb::Error);
  EXPECT_TRUE(fx.visa->Blocks().empty());
}

TEST(Firmware, AMissingFileIsFileNotFound) {
  FirmwareFixture fx;
  try {
    fx.unit->Transfer_FirmwareFile(fx.dir / "nothing.fw");
    FAIL();
  } catch (const vb::Error& e) {
    EXPECT_EQ(e.Number(), vb::err::FileNotFound);
    EXPECT_EQ(e.Description().rfind("Transfer_FirmwareFile", 0), 0u);
  }
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

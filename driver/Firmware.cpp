// Firmware upload: the file already holds the complete upload command
// ("SYSTEM:FWUPDATE #" and the block); it is checked and streamed as it is.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "driver/clsQuorvelUnit.h"
#include "driver/modMain.h"
#include "platform/PointerRestore.h"

namespace {

constexpr std::size_t kChunk = 16384;  // bytes per write, the session's buffer size
constexpr std::size_t kHeaderBytes = 32;
constexpr const char* kUploadCommand = "SYSTEM:FWUPDATE #";


}  // namespace

int clsQuorvelUnit::Transfer_FirmwareFile(const std::string& localfilename) {
  return Traced("Transfer_FirmwareFile", [&](io::ErrorFrame& f) {
    std::ifstream file;
    const std::uintmax_t length = f.Step([&] {
      std::error_code ec;
      const std::uintmax_t size = std::filesystem::file_size(localfilename, ec);
      if (ec) vb::Raise(vb::err::FileNotFound, kObjectName, "File not found: " + localfilename);
      return size;
    });
    if (length == 0) return 0;
    f.Step([&] {
      file.open(localfilename, std::ios::binary);
      if (!file) vb::Raise(vb::err::PathFileAccess, kObjectName, "cannot read " + localfilename + ": " + std::strerror(errno));
    });
    std::array<char, kChunk> buffer{};
    const std::size_t headerBytes = static_cast<std::size_t>(std::min<std::uintmax_t>(length, kHeaderBytes));
    f.Step([&] { file.read(buffer.data(), static_cast<std::streamsize>(headerBytes)); });
    if (!vb::ContainsNoCase(std::string_view(buffer.data(), headerBytes), kUploadCommand)) return -1;
    // Checked before anything is sent: a missing progress label must not
    // leave a firmware half uploaded.
    IServiceForm& form = f.Step([&]() -> IServiceForm& {
      if (!m_TestForm) vb::Raise(vb::err::ObjectNotSet, kObjectName, "no service dialog to show the upload in");
      return *m_TestForm;
    });
    visa::IVisaControl& visa = f.Step([&]() -> visa::IVisaControl& { return m_Link.Control(); });
    f.Step([&] {
      visa::IVisaOptions& options = visa.Options();
      options.SetInteger(visa::kOptionWriteBufferSize, static_cast<long>(kChunk));
      options.SetBool(visa::kOptionTermCharEnabled, true);
      visa.SetBuffer(visa::kBufferFormattedIn + visa::kBufferFormattedOut, static_cast<long>(kChunk));
      options.SetBool(visa::kOptionSendEnd, false);
    });
    platform::PointerRestore restore(m_Platform.mouse.get());
    if (m_Platform.mouse) m_Platform.mouse->Set(platform::vbHourglass);
    file.clear();
    file.seekg(0);  // the header read above goes out too
    std::uintmax_t position = 0;
    while (position < length) {
      if (m_Platform.events) m_Platform.events->DoEvents();
      std::size_t chunk = kChunk;
      // The last write ends the message - also when the file is an exact
      // multiple of the chunk: left without its end, the upload and every
      // later command of the session would never end at the unit.
      if (position + kChunk >= length) {
        chunk = static_cast<std::size_t>(length - position);
        f.Step([&] { visa.Options().SetBool(visa::kOptionSendEnd, true); });
      }
      f.Step([&] {
        file.read(buffer.data(), static_cast<std::streamsize>(chunk));
        if (static_cast<std::size_t>(file.gcount()) != chunk)
          vb::Raise(vb::err::PathFileAccess, kObjectName, "the firmware file shrank while it was sent: " + localfilename);
        visa.WriteBlock(std::span(reinterpret_cast<const std::uint8_t*>(buffer.data()), chunk));
        // A failed write must not be reported as an upload.
        if (visa.Status() < 0) m_Link.TransferFailed("VISA Cmd: SYSTEM:FWUPDATE");
      });
      position += chunk;
      const double percent = static_cast<double>(position) / static_cast<double>(length) * 100;
      f.Step([&] { form.SetFirmwareStatus("Upload in progress ... " + vb::Format(percent, "0") + "%"); });
      if (m_FirmwareProgress) m_FirmwareProgress(percent);
    }
    return 1;
  });
}

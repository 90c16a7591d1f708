// A host for real use outside the host application: the device list and
// the per-device settings in one INI-style file, trace records and error
// reports in a log file, path attenuation data sets as CSV files.
//
//   [Host]                       ; options of the host itself (reserved name)
//   DataFolder = /srv/quorvel    ; data sets and the log; default ~/.local/share/quorvel
//   Trace = 1                    ; write trace records to the log
//   LogFile = /tmp/quorvel.log   ; default <DataFolder>/quorvel.log
//   SaveNewRows = 1              ; let newly read path rows be saved as data sets
//
//   [Zentrix8]                   ; one section per device, named as the device
//   Description = Zentrix8 in rack 3
//   Interface = 60               ; 60 = VISA
//   Address = TCPIP::192.0.2.10::inst0::INSTR
//   SerialNumber = 12345
//   Available = 1
//   Logging Option = 0           ; the driver's own setting
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "refhost/IniFile.h"
#include "host/Services.h"
#include "core/Export.h"
#include "platform/Platform.h"

namespace host {

class QUORVEL_API ReferenceHost : public std::enable_shared_from_this<ReferenceHost>,
                                  public ITraceLogger,
                                  public IDeviceList,
                                  public IUtility,
                                  public ITimeService,
                                  public ITextService,
                                  public IUnitService {
 public:
  static constexpr const char* kHostSection = "Host";
  static constexpr const char* kDefaultDevice = "Zentrix8";
  static constexpr const char* kConfigVariable = "QUORVEL_CONFIG";

  // The configuration file: `explicitPath` when given, else $QUORVEL_CONFIG,
  // else $XDG_CONFIG_HOME/quorvel/quorvel.ini (~/.config/quorvel/quorvel.ini).
  static std::string ConfigPath(const std::string& explicitPath = {});
  // Loads the file (errors name file and line); a missing file gives one
  // default device entry.  `events` is pumped while Wait waits.
  static std::shared_ptr<ReferenceHost> Open(const std::string& configPath,
                                             std::shared_ptr<platform::IEventPump> events = nullptr);

  Services services();
  const std::string& ConfigFile() const { return ini_.Path(); }
  std::vector<std::string> DeviceNames() const;
  std::string DataFolder() const { return dataFolder_; }
  std::string LogFile() const { return logFile_; }
  // Where a data set name lands: "\" separators become "/", a relative name
  // goes under the data folder, ".csv" is added; ".." is refused (error 5).
  std::string DataSetPath(const std::string& name) const;
  // Changes a device entry for this run only (the file is left as it is),
  // e.g. an address given on the command line.
  void OverrideDeviceValue(const std::string& device, const std::string& key, const std::string& value);
  // The user's Ctrl-C: StopRequested answers true from now on.
  void RequestStop() { stop_ = true; }
  void ClearStop() { stop_ = false; }
  // What in the configuration was not taken as written: unknown keys, values
  // that are not numbers, time-outs out of range ("file, line N: ...").
  const std::vector<std::string>& Warnings() const { return warnings_; }
  // A device entry's time-out in ms: 1 ms to 1 h, a fraction rounded;
  // nothing (the transport's default) for a text that is not a number.
  static std::optional<long> TimeoutMs(const std::string& text, std::string* why = nullptr);
  static constexpr long kMaxTimeoutMs = 3600000;
  // Data sets this host wrote (created anew, never replaced).
  long StoredDataSets() const { return *stored_; }
  // The message-list lines of this run (the last 10 000 at most).
  std::vector<std::string> Messages() const;
  static constexpr std::size_t kKeptMessages = 10000;

  bool TraceEnabled() override { return trace_; }
  void WriteTrace(const TraceRecord& record) override;
  long ReportError(const vb::Error& error, long threadId, long statement) override;

  std::shared_ptr<IDeviceListConnection> Connection() override;
  std::shared_ptr<IDeviceDialog> DeviceDialog(const std::string& name) override;
  std::string Description(const std::string& name) override;
  long Interface(const std::string& name) override;
  std::string Address(const std::string& name) override;
  DeviceRecord GetDeviceRecord(const std::string& name) override;
  std::string DeviceType(const std::string& name) override;
  bool IsAvailable(const std::string& name) override;
  long Timeout(const std::string& name) override;

  std::shared_ptr<ISettings> CreateSettings(long a, long b, const std::string& name, long c, long d) override;
  bool StopRequested() override { return stop_; }
  void MessageList(long kind, const std::string& text, bool isText) override;
  std::shared_ptr<IPaths> Paths() override;
  bool DataSetExists(const std::string& fullName, long kind, long subKind) override;
  std::shared_ptr<IDataSet> CreateDataSet(long kind, long columnsKind, const std::string& fullName, long subKind,
                                          bool flag) override;

  void Wait(float ms) override;
  void Pause(float ms) override;
  long Min(long a, long b) override { return a < b ? a : b; }
  double NoValue() override { return 9.9e37; }  // SCPI's "not a number"

  std::string GetText(long number) override;
  void RegisterForm(const std::string&) override {}

  UnitRecord MakeUnit(const std::string& text, long kind) override { return {text, kind}; }
  std::string UnitText(const UnitRecord& unit) override { return unit.Text; }

  // Settings object access (the section is the device name).
  std::string ReadSetting(const std::string& section, const std::string& key, const std::string& def);
  void WriteSetting(const std::string& section, const std::string& key, const std::string& value);

 private:
  ReferenceHost() = default;
  std::string Value(const std::string& device, const char* key, const std::string& def) const;
  void RequireDevice(const std::string& name) const;
  void AppendLog(const std::string& line);

  mutable std::mutex mutex_;
  IniFile ini_;
  bool defaultEntry_ = false;
  std::string dataFolder_;
  std::string logFile_;
  std::vector<std::string> warnings_;
  std::shared_ptr<std::atomic<long>> stored_ = std::make_shared<std::atomic<long>>(0);
  void CheckEntries();
  bool trace_ = false;
  bool saveNewRows_ = false;
  std::atomic<bool> stop_{false};
  std::shared_ptr<platform::IEventPump> events_;
  std::vector<std::string> messages_;
  std::string pendingMessage_;
};

}  // namespace host

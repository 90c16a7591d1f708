// A host for tests: scriptable device list, availability, stop requests
// and error verdicts; it records trace records, error reports, message-list
// lines, settings writes and data sets so tests can assert on them.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/Services.h"
#include "core/Export.h"

namespace host {

class QUORVEL_API RecordingDeviceDialog : public IDeviceDialog {
 public:
  Subscription OnNewParameter(std::function<void()> handler) override { return newParameter.Connect(std::move(handler)); }
  void SetTabs(const std::vector<TabEntry>& t) override { tabs.push_back(t); }
  void SetContext(long c) override { contexts.push_back(c); }
  void SetCaption(const std::string& c) override { captions.push_back(c); }
  void ShowDialog(long type) override { shownTypes.push_back(type); }

  NewParameterEvent newParameter;  // tests raise it
  std::vector<std::vector<TabEntry>> tabs;
  std::vector<long> contexts;
  std::vector<std::string> captions;
  std::vector<long> shownTypes;
};

class QUORVEL_API RecordingDataSet : public IDataSet {
 public:
  explicit RecordingDataSet(std::function<void(const RecordingDataSet&)> onStore) : onStore_(std::move(onStore)) {}
  void SetRowCount(long rows) override { cells.assign(static_cast<std::size_t>(rows < 0 ? 0 : rows), {0.0, 0.0}); }
  void SetCell(long column, long row, double value) override;
  void Store(bool) override { onStore_(*this); }
  std::vector<std::array<double, 2>> cells;  // [row] = {frequency, attenuation}
  std::string name;

 private:
  std::function<void(const RecordingDataSet&)> onStore_;
};

class QUORVEL_API RecordingPaths : public IPaths {
 public:
  std::string BaseFolder() override { return baseFolder; }
  long StateOf(std::string&) override { return state; }
  std::string baseFolder = "C:\\Host\\";
  long state = 0;
};

class QUORVEL_API RecordingHost : public std::enable_shared_from_this<RecordingHost>,
                                  public ITraceLogger,
                                  public IDeviceList,
                                  public IUtility,
                                  public ITimeService,
                                  public ITextService,
                                  public IUnitService {
 public:
  struct Device {
    std::string description;
    long interfaceCode = 60;
    std::string address;
    std::string deviceType = "QuorvelUnit";
    DeviceRecord record{};
    bool available = true;
    long timeout = 0;  // ms of the session's time-out, 0 = the transport's own
  };
  struct ErrorReport {
    long number;
    std::string source;
    std::string description;
    long threadId;
    long statement;
  };
  struct MessageLine {
    long kind;
    std::string text;
    bool isText;
  };
  struct SettingWrite {
    std::string section, key, value;
  };

  static std::shared_ptr<RecordingHost> Create() { return std::shared_ptr<RecordingHost>(new RecordingHost()); }
  Services services();

  // --- scripting ----------------------------------------------------------
  std::map<std::string, Device> devices;          // device list by name
  std::map<std::string, std::string> settings;    // "section|key" -> value
  bool traceEnabled = true;
  std::deque<long> verdicts;                       // next ReportError answers (default 0)
  bool stopRequested = false;
  long stopAfterQueries = -1;                      // >= 0: a stop request after that many StopRequested calls
  std::map<long, std::string> texts{{kTextMeasurementPage, "Power Measurement"}};
  std::shared_ptr<RecordingPaths> paths;           // Paths() gives it; empty = none
  std::map<std::string, std::shared_ptr<RecordingDeviceDialog>> dialogs;  // made on demand
  std::function<void(float)> onWait;               // runs at every Wait
  double noValue = 9.9e37;
  bool failSettingsWrites = false;                 // WriteValue raises 75

  // --- recordings ---------------------------------------------------------
  std::vector<TraceRecord> traces;
  std::vector<ErrorReport> errors;
  std::vector<MessageLine> messages;
  std::vector<SettingWrite> settingWrites;
  std::vector<std::string> lookups;                // "Operation(name)" in call order
  std::vector<float> waits, pauses;
  std::map<std::string, RecordingDataSet> storedDataSets;  // by full name
  long connections = 0;

  // --- the services -------------------------------------------------------
  bool TraceEnabled() override { return traceEnabled; }
  void WriteTrace(const TraceRecord& record) override { traces.push_back(record); }
  long ReportError(const vb::Error& error, long threadId, long statement) override;

  std::shared_ptr<IDeviceListConnection> Connection() override;
  std::shared_ptr<IDeviceDialog> DeviceDialog(const std::string& name) override;
  std::string Description(const std::string& name) override { return Find("Description", name).description; }
  long Interface(const std::string& name) override { return Find("Interface", name).interfaceCode; }
  std::string Address(const std::string& name) override { return Find("Address", name).address; }
  DeviceRecord GetDeviceRecord(const std::string& name) override { return Find("DeviceRecord", name).record; }
  std::string DeviceType(const std::string& name) override { return Find("DeviceType", name).deviceType; }
  bool IsAvailable(const std::string& name) override { return Find("IsAvailable", name).available; }
  long Timeout(const std::string& name) override { return Find("Timeout", name).timeout; }

  std::shared_ptr<ISettings> CreateSettings(long a, long b, const std::string& name, long c, long d) override;
  bool StopRequested() override;
  void MessageList(long kind, const std::string& text, bool isText) override { messages.push_back({kind, text, isText}); }
  std::shared_ptr<IPaths> Paths() override { return paths; }
  bool DataSetExists(const std::string& fullName, long, long) override { return storedDataSets.count(fullName) > 0; }
  std::shared_ptr<IDataSet> CreateDataSet(long kind, long columnsKind, const std::string& fullName, long subKind,
                                          bool flag) override;

  void Wait(float ms) override;
  void Pause(float ms) override { pauses.push_back(ms); }
  long Min(long a, long b) override { return a < b ? a : b; }
  double NoValue() override { return noValue; }

  std::string GetText(long number) override;
  void RegisterForm(const std::string& formName) override { registeredForms.push_back(formName); }
  std::vector<std::string> registeredForms;

  UnitRecord MakeUnit(const std::string& text, long kind) override { return {text, kind}; }
  std::string UnitText(const UnitRecord& unit) override { return unit.Text; }

  // The trace records of one procedure, in order ("start"/"end").
  std::vector<std::string> TraceStatuses(const std::string& procedure) const;

 private:
  RecordingHost() = default;
  Device& Find(const char* operation, const std::string& name);
};

}  // namespace host

#include "testsupport/RecordingHost.h"

namespace host {

namespace {

class RecordingConnection : public IDeviceListConnection {};

class RecordingSettings : public ISettings {
 public:
  explicit RecordingSettings(std::weak_ptr<RecordingHost> host) : host_(std::move(host)) {}
  std::string ReadValue(const std::string& section, const std::string& key, const std::string& def) override {
    auto h = Host();
    const auto it = h->settings.find(section + "|" + key);
    return it == h->settings.end() ? def : it->second;
  }
  void WriteValue(const std::string& section, const std::string& key, const std::string& value) override {
    auto h = Host();
    if (h->failSettingsWrites) vb::Raise(vb::err::PathFileAccess, "RecordingHost");
    h->settingWrites.push_back({section, key, value});
    h->settings[section + "|" + key] = value;
  }

 private:
  std::shared_ptr<RecordingHost> Host() {
    auto h = host_.lock();
    if (!h) vb::Raise(vb::err::ObjectNotSet);
    return h;
  }
  std::weak_ptr<RecordingHost> host_;
};

}  // namespace

void RecordingDataSet::SetCell(long column, long row, double value) {
  if (row < 0 || static_cast<std::size_t>(row) >= cells.size() || column < 0 || column > 1)
    vb::Raise(vb::err::SubscriptOutOfRange, "RecordingDataSet");
  cells[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = value;
}

Services RecordingHost::services() {
  auto self = shared_from_this();
  return {self, self, self, self, self, self};
}

long RecordingHost::ReportError(const vb::Error& error, long threadId, long statement) {
  errors.push_back({error.Number(), error.Source(), error.Description(), threadId, statement});
  if (verdicts.empty()) return 0;
  const long v = verdicts.front();
  verdicts.pop_front();
  return v;
}

RecordingHost::Device& RecordingHost::Find(const char* operation, const std::string& name) {
  lookups.push_back(std::string(operation) + "(" + name + ")");
  const auto it = devices.find(name);
  if (it == devices.end()) vb::Raise(vb::err::InvalidCall, "RecordingHost", "no device named '" + name + "'");
  return it->second;
}

std::shared_ptr<IDeviceListConnection> RecordingHost::Connection() {
  lookups.push_back("Connection()");
  ++connections;
  return std::make_shared<RecordingConnection>();
}

std::shared_ptr<IDeviceDialog> RecordingHost::DeviceDialog(const std::string& name) {
  lookups.push_back("DeviceDialog(" + name + ")");
  auto& d = dialogs[name];
  if (!d) d = std::make_shared<RecordingDeviceDialog>();
  return d;
}

std::shared_ptr<ISettings> RecordingHost::CreateSettings(long, long, const std::string&, long, long) {
  lookups.push_back("CreateSettings()");
  return std::make_shared<RecordingSettings>(weak_from_this());
}

bool RecordingHost::StopRequested() {
  if (stopAfterQueries == 0) stopRequested = true;
  if (stopAfterQueries > 0) --stopAfterQueries;
  return stopRequested;
}

std::shared_ptr<IDataSet> RecordingHost::CreateDataSet(long, long, const std::string& fullName, long, bool) {
  auto self = weak_from_this();
  auto ds = std::make_shared<RecordingDataSet>([self, fullName](const RecordingDataSet& d) {
    if (auto h = self.lock()) {
      if (h->storedDataSets.count(fullName)) vb::Raise(vb::err::FileAlreadyExists, "RecordingHost");
      h->storedDataSets.emplace(fullName, d);
    }
  });
  ds->name = fullName;
  return ds;
}

void RecordingHost::Wait(float ms) {
  waits.push_back(ms);
  if (onWait) onWait(ms);
}

std::string RecordingHost::GetText(long number) {
  const auto it = texts.find(number);
  return it == texts.end() ? std::string() : it->second;
}

std::vector<std::string> RecordingHost::TraceStatuses(const std::string& procedure) const {
  std::vector<std::string> out;
  for (const auto& r : traces)
    if (r[3] == procedure) out.push_back(r[0]);
  return out;
}

}  // namespace host

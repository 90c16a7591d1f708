#include "refhost/ReferenceHost.h"

#include <charconv>
#include <cmath>
#include <set>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/Vb.h"
#include "platform/Files.h"
#include "platform/System.h"

namespace host {

namespace fs = std::filesystem;

namespace {

// A log goes to a regular file, or to one that does not exist yet.
bool LogFileUsable(const std::string& path) {
  using Kind = platform::files::FileStatus::Kind;
  const Kind kind = platform::files::Status(path).kind;
  return kind == Kind::kRegular || kind == Kind::kMissing;
}
}  // namespace

namespace {

constexpr const char* kSource = "ReferenceHost";

std::string Timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const std::tm tm = platform::LocalTime(t);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

std::string CsvNumber(double v) {
  char buf[400];  // fixed notation of any double fits
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

class ReferenceConnection : public IDeviceListConnection {};

// The device dialog of a host without windows: it keeps what it is given.
class ReferenceDeviceDialog : public IDeviceDialog {
 public:
  Subscription OnNewParameter(std::function<void()> handler) override { return event_.Connect(std::move(handler)); }
  void SetTabs(const std::vector<TabEntry>& tabs) override { tabs_ = tabs; }
  void SetContext(long) override {}
  void SetCaption(const std::string&) override {}
  void ShowDialog(long) override {}

 private:
  NewParameterEvent event_;
  std::vector<TabEntry> tabs_;
};

class ReferenceSettings : public ISettings {
 public:
  explicit ReferenceSettings(std::shared_ptr<ReferenceHost> host) : host_(std::move(host)) {}
  std::string ReadValue(const std::string& section, const std::string& key, const std::string& def) override {
    return host_->ReadSetting(section, key, def);
  }
  void WriteValue(const std::string& section, const std::string& key, const std::string& value) override {
    host_->WriteSetting(section, key, value);
  }

 private:
  std::shared_ptr<ReferenceHost> host_;
};

class ReferencePaths : public IPaths {
 public:
  ReferencePaths(std::string base, bool saveNewRows) : base_(std::move(base)), saveNewRows_(saveNewRows) {}
  std::string BaseFolder() override { return base_; }
  long StateOf(std::string&) override { return saveNewRows_ ? 9 : 0; }

 private:
  std::string base_;
  bool saveNewRows_;
};

// A data set written as CSV: a header line, then frequency and attenuation.
class CsvDataSet : public IDataSet {
 public:
  CsvDataSet(std::string path, std::shared_ptr<std::atomic<long>> stored)
      : path_(std::move(path)), stored_(std::move(stored)) {}
  void SetRowCount(long rows) override {
    if (rows < 0) vb::Raise(vb::err::InvalidCall, kSource, "a data set cannot have a negative row count");
    rows_.assign(static_cast<std::size_t>(rows), {0.0, 0.0});
  }
  void SetCell(long column, long row, double value) override {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size() || column < 0 || column > 1)
      vb::Raise(vb::err::SubscriptOutOfRange, kSource);
    rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = value;
  }
  void Store(bool) override {
    std::string text = "Frequency (Hz),Attenuation (dB)\n";
    for (const auto& r : rows_) text += CsvNumber(r[0]) + "," + CsvNumber(r[1]) + "\n";
    platform::files::CreateNewFile(path_, text, kSource, "data set");
    ++*stored_;
  }

 private:
  std::string path_;
  std::shared_ptr<std::atomic<long>> stored_;
  std::vector<std::array<double, 2>> rows_;
};

}  // namespace

std::string ReferenceHost::ConfigPath(const std::string& explicitPath) {
  if (!explicitPath.empty()) return explicitPath;
  if (const std::string env = platform::Environment(kConfigVariable); !env.empty()) return env;
  return platform::UserConfigFolder() + "/quorvel/quorvel.ini";
}

std::shared_ptr<ReferenceHost> ReferenceHost::Open(const std::string& configPath,
                                                   std::shared_ptr<platform::IEventPump> events) {
  std::shared_ptr<ReferenceHost> h(new ReferenceHost());
  h->ini_ = IniFile::Load(configPath);
  h->events_ = std::move(events);
  h->defaultEntry_ = h->DeviceNames().empty();
  std::string data = h->ini_.Get(kHostSection, "DataFolder").value_or("");
  if (data.empty()) {
    data = platform::UserDataFolder() + "/quorvel";
  }
  h->dataFolder_ = fs::path(data).lexically_normal().string();
  if (!h->dataFolder_.empty() && h->dataFolder_.back() == '/') h->dataFolder_.pop_back();
  h->logFile_ = h->ini_.Get(kHostSection, "LogFile").value_or(h->dataFolder_ + "/quorvel.log");
  if (!LogFileUsable(h->logFile_))
    h->warnings_.push_back("LogFile = " + h->logFile_ +
                           " is not a regular file (a FIFO, device or folder, which could block or swallow the "
                           "log): nothing is logged");
  h->trace_ = vb::Val(h->ini_.Get(kHostSection, "Trace").value_or("0")) != 0;
  h->saveNewRows_ = vb::Val(h->ini_.Get(kHostSection, "SaveNewRows").value_or("0")) != 0;
  h->CheckEntries();
  return h;
}

namespace {
// A whole number or a decimal number with a point, nothing else (no trailing text).
bool IsNumber(const std::string& text) { return vb::ParseNumber(text).has_value(); }
}  // namespace

std::optional<long> ReferenceHost::TimeoutMs(const std::string& text, std::string* why) {
  auto say = [&](const std::string& w) {
    if (why) *why = w;
  };
  if (!IsNumber(text)) {
    say("Timeout = " + text + " is not a number of milliseconds; the transport's default is used");
    return std::nullopt;
  }
  const double ms = *vb::ParseNumber(text);
  if (ms < 1) {
    say("Timeout = " + text + " is below 1 ms; 1 ms is used");
    return 1;
  }
  if (ms > kMaxTimeoutMs) {
    say("Timeout = " + text + " is above an hour; 3600000 ms is used");
    return kMaxTimeoutMs;
  }
  return std::lround(ms);
}

void ReferenceHost::CheckEntries() {
  static const std::set<std::string, std::less<>> hostKeys{"DataFolder", "Trace", "LogFile", "SaveNewRows"};
  static const std::set<std::string, std::less<>> deviceKeys{"Description", "Interface", "Address", "SerialNumber",
                                                             "Available", "Logging Option", "Timeout"};
  static const std::set<std::string, std::less<>> numbers{"Trace", "SaveNewRows", "Interface", "Available",
                                                          "Logging Option"};
  for (const auto& e : ini_.Entries()) {
    const std::string where = ini_.Path() + ", line " + std::to_string(e.line) + ": ";
    const bool host = e.section == kHostSection;
    if (!(host ? hostKeys : deviceKeys).contains(e.key)) {
      warnings_.push_back(where + "unknown key '" + e.key + "' in [" + e.section + "] (ignored)");
    } else if (e.key == "Timeout") {
      std::string why;
      TimeoutMs(e.value, &why);
      if (!why.empty()) warnings_.push_back(where + why);
    } else if (numbers.contains(e.key) && !IsNumber(e.value)) {
      warnings_.push_back(where + e.key + " = " + e.value + " is not a number (read as " +
                          std::to_string(static_cast<long>(vb::Val(e.value))) + ")");
    }
  }
}

Services ReferenceHost::services() {
  auto self = shared_from_this();
  return {self, self, self, self, self, self};
}

std::vector<std::string> ReferenceHost::DeviceNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& s : ini_.Sections())
    if (s != kHostSection) out.push_back(s);
  if (out.empty()) out.emplace_back(kDefaultDevice);
  return out;
}

void ReferenceHost::RequireDevice(const std::string& name) const {
  for (const auto& n : DeviceNames())
    if (n == name) return;
  vb::Raise(vb::err::InvalidCall, kSource, "no device named '" + name + "' in " + ini_.Path());
}

std::string ReferenceHost::Value(const std::string& device, const char* key, const std::string& def) const {
  RequireDevice(device);
  std::lock_guard lock(mutex_);
  return ini_.Get(device, key).value_or(def);
}

std::shared_ptr<IDeviceListConnection> ReferenceHost::Connection() { return std::make_shared<ReferenceConnection>(); }

std::shared_ptr<IDeviceDialog> ReferenceHost::DeviceDialog(const std::string& name) {
  RequireDevice(name);
  return std::make_shared<ReferenceDeviceDialog>();
}

std::string ReferenceHost::Description(const std::string& name) { return Value(name, "Description", ""); }

long ReferenceHost::Interface(const std::string& name) {
  return static_cast<long>(vb::CLng(vb::Val(Value(name, "Interface", "60"))));
}

std::string ReferenceHost::Address(const std::string& name) {
  return Value(name, "Address", "TCPIP::---.---.---.---::inst0::instr");
}

DeviceRecord ReferenceHost::GetDeviceRecord(const std::string& name) {
  DeviceRecord r{};
  r[0] = name;
  r[1] = DeviceType(name);
  r[2] = Description(name);
  r[3] = Value(name, "Interface", "60");
  r[4] = Address(name);
  r[kDeviceRecordSerialNumber] = Value(name, "SerialNumber", "");
  return r;
}

std::string ReferenceHost::DeviceType(const std::string& name) { return Value(name, "DeviceType", "QuorvelUnit"); }

bool ReferenceHost::IsAvailable(const std::string& name) { return vb::Val(Value(name, "Available", "1")) != 0; }

long ReferenceHost::Timeout(const std::string& name) {
  const std::string text = Value(name, "Timeout", "");
  return text.empty() ? 0 : TimeoutMs(text).value_or(0);  // 0: the transport's default
}

std::shared_ptr<ISettings> ReferenceHost::CreateSettings(long, long, const std::string&, long, long) {
  return std::make_shared<ReferenceSettings>(shared_from_this());
}

std::string ReferenceHost::ReadSetting(const std::string& section, const std::string& key, const std::string& def) {
  std::lock_guard lock(mutex_);
  return ini_.Get(section, key).value_or(def);
}

void ReferenceHost::WriteSetting(const std::string& section, const std::string& key, const std::string& value) {
  std::lock_guard lock(mutex_);
  IniFile next = ini_;  // the stored copy changes only once the file is written
  next.Set(section, key, value);
  next.Save();
  ini_ = std::move(next);
}

void ReferenceHost::OverrideDeviceValue(const std::string& device, const std::string& key, const std::string& value) {
  std::lock_guard lock(mutex_);
  // The default entry of a missing file becomes a real section for this run.
  ini_.Set(device, key, value);
}

void ReferenceHost::AppendLog(const std::string& line) {
  // Opening a FIFO for writing blocks until someone reads it: only a regular
  // file (or none yet) is a log.
  if (!LogFileUsable(logFile_)) return;
  std::error_code ec;
  const fs::path p(logFile_);
  if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
  std::ofstream out(logFile_, std::ios::app);
  if (out) out << Timestamp() << ' ' << line << '\n';
}

void ReferenceHost::WriteTrace(const TraceRecord& r) {
  std::lock_guard lock(mutex_);
  AppendLog("TRACE " + r[0] + " " + r[1] + "." + r[2] + "." + r[3] + (r[4].empty() ? "" : " " + r[4]) + " [" + r[5] + "]");
}

long ReferenceHost::ReportError(const vb::Error& error, long threadId, long statement) {
  std::lock_guard lock(mutex_);
  AppendLog("ERROR " + std::to_string(error.Number()) + " (" + error.Source() + ") " + error.Description() +
            " [thread " + std::to_string(threadId) + ", statement " + std::to_string(statement) + "]");
  return 0;
}

void ReferenceHost::MessageList(long, const std::string& text, bool isText) {
  std::lock_guard lock(mutex_);
  if (!isText) return;  // line breaks only separate the entries
  // The last lines stay at hand; all of them go to the log when it is on.
  if (messages_.size() >= kKeptMessages) messages_.erase(messages_.begin(), messages_.begin() + kKeptMessages / 2);
  messages_.push_back(text);
  AppendLog("MESSAGE " + text);  // the message list is a log of its own
}

std::vector<std::string> ReferenceHost::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::shared_ptr<IPaths> ReferenceHost::Paths() { return std::make_shared<ReferencePaths>(dataFolder_ + "/", saveNewRows_); }

std::string ReferenceHost::DataSetPath(const std::string& name) const {
  std::string native = vb::Replace(name, "\\", "/");
  const fs::path p(native);
  for (const auto& part : p)
    if (part == "..")
      vb::Raise(vb::err::InvalidCall, kSource, "data set name '" + name + "' may not climb out of its folder with ..");
  if (native.empty() || native.back() == '/')
    vb::Raise(vb::err::InvalidCall, kSource, "data set name '" + name + "' names no file");
  const fs::path full = p.is_absolute() ? p : fs::path(dataFolder_) / p;
  return full.lexically_normal().string() + ".csv";
}

bool ReferenceHost::DataSetExists(const std::string& fullName, long, long) {
  std::error_code ec;
  return fs::exists(DataSetPath(fullName), ec);
}

std::shared_ptr<IDataSet> ReferenceHost::CreateDataSet(long, long, const std::string& fullName, long, bool) {
  return std::make_shared<CsvDataSet>(DataSetPath(fullName), stored_);
}

void ReferenceHost::Wait(float ms) {
  // Sleep in short slices and keep the window events running meanwhile.
  using clock = std::chrono::steady_clock;
  const auto until = clock::now() + std::chrono::microseconds(static_cast<long long>(ms * 1000.0f));
  do {
    if (events_) events_->DoEvents();
    const auto left = until - clock::now();
    if (left <= clock::duration::zero()) break;
    std::this_thread::sleep_for(std::min<clock::duration>(left, std::chrono::milliseconds(10)));
  } while (clock::now() < until);
}

void ReferenceHost::Pause(float ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(ms * 1000.0f)));
}

std::string ReferenceHost::GetText(long number) {
  return number == kTextMeasurementPage ? "Power Measurement" : std::string();
}

}  // namespace host

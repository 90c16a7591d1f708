#include "quorvel/Session.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cmath>


#include "driver/modMain.h"
#include "platform/Files.h"
#include "sim/InProcessVisa.h"
#include "visa/Network.h"

namespace quorvel {

// Message boxes of the driver (a missing path, say) become lines on stderr.
class Session::TerminalMessageBox : public platform::IMessageBox {
 public:
  TerminalMessageBox(std::ostream& err, std::string program) : err_(err), program_(std::move(program)) {}
  long Show(const std::string& text, long style, const std::string&) override {
    err_ << program_ << ": " << text << "\n";
    return (style & 7) == platform::vbYesNo ? platform::vbNo : platform::vbOK;
  }

 private:
  std::ostream& err_;
  std::string program_;
};

Session::Session(const Options& o, std::ostream& out, std::ostream& err, Desktop desktop)
    : o_(o), out_(out), err_(err), desktop_(std::move(desktop)) {}

Session::~Session() = default;

bool Session::Open(int& status) {
  const bool desktop = desktop_.platform.events != nullptr;
  // A configuration named on the command line or by $QUORVEL_CONFIG must be
  // there: no silent defaults (and no simulator answering for a unit).
  const std::string fromEnvironment = platform::Environment(host::ReferenceHost::kConfigVariable);
  if (!o_.config.empty() || !fromEnvironment.empty()) {
    const std::string named = o_.config.empty() ? fromEnvironment : o_.config;
    if (platform::files::Status(named).kind == platform::files::FileStatus::Kind::kMissing) {
      Say() << "the configuration " << named << (o_.config.empty() ? " (named by $QUORVEL_CONFIG)" : "")
           << " does not exist\n";
      status = kUsage;
      return false;
    }
  }
  try {
    host_ = host::ReferenceHost::Open(host::ReferenceHost::ConfigPath(o_.config),
                                      desktop ? desktop_.platform.events : platform_.events);
  } catch (const vb::Error& e) {
    Say() << Readable(e) << "\n";  // a configuration that cannot be read is bad input
    status = kUsage;
    return false;
  }
  for (const std::string& w : host_->Warnings()) Say() << "warning: " << w << "\n";
  const std::vector<std::string> names = host_->DeviceNames();
  // Section names are matched without regard to case, as the host's INI reading does.
  std::string name = o_.device.empty() ? names.front() : o_.device;
  bool known = false;
  for (const auto& n : names)
    if (!known && vb::EqualsNoCase(n, name)) {
      name = n;
      known = true;
    }
  if (!known) {
    Say() << "no device named '" << name << "' in " << host_->ConfigFile() << " (devices:";
    for (const auto& n : names) err_ << " " << n;
    err_ << ")\n";
    status = kUsage;
    return false;
  }
  std::string address = o_.address;
  if (address.empty()) {
    // No unit given: the embedded simulator answers, and the tool says so.
    const std::string listed = host_->Address(name);
    if (listed.empty() || listed == clsQuorvelUnit::kDefaultAddress) {
      if (o_.connects && (o_.noSim || platform::Environment("QUORVEL_NO_SIM") == "1")) {
        Say() << "no unit configured for " << name << " in " << host_->ConfigFile()
             << ": give --address or the device's Address (--no-sim leaves the embedded simulator out)\n";
        status = kNoUnit;
        return false;
      }
      address = sim::kDefaultResource;
      // (--lock refuses the simulator below: no word of it answering first)
      if (o_.connects && !o_.lock)
        Say() << "no unit given for " << name << "; the embedded Zentrix8 simulator answers (" << address << ")\n";
    }
  }
  const std::string resource = address.empty() ? host_->Address(name) : address;
  simulated_ = vb::StartsWithNoCase(resource, "SIM::");
  // Where results are, say that a simulator made them: the report's first line.
  if (simulated_ && o_.connects && !o_.json && o_.csv != "-")
    buffer_ << "Simulator: the embedded Zentrix8 simulator answers (" << resource << "), not a unit\n";
  if (const std::string listed = host_->Address(name);
      o_.address.empty() && !listed.empty() && listed != clsQuorvelUnit::kDefaultAddress) {
    if (const std::string why = CheckResource(listed); !why.empty()) {
      Say() << "the address of " << name << " in " << host_->ConfigFile() << ": " << why << "\n";
      status = kUsage;
      return false;
    }
  }
  if (o_.lock) {
    // Only a VXI-11 unit can be locked; anything else is refused before it is reached.
    visa::TcpipResource r;
    std::string ignored;
    if (!visa::ParseTcpip(resource, r, ignored) || r.kind != visa::TcpipResource::Kind::kInstr) {
      Say() << "--lock holds a VXI-11 unit (TCPIP::<host>[::inst0]::INSTR); " << resource << " cannot be locked\n";
      status = kUsage;
      return false;
    }
    watch_->lock = std::chrono::milliseconds(static_cast<long long>(*o_.lock * 1000));
    // A little after --timeout runs out: the time-out is then the verdict, said once.
    if (o_.timeout)
      watch_->giveUpAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(100) +
                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(*o_.timeout));
  }
  if (!address.empty()) {
    host_->OverrideDeviceValue(name, "Address", address);
    host_->OverrideDeviceValue(name, "Interface", "60");
  }
  platform::Services services = platform_.services();
  services.messageBox = std::make_shared<TerminalMessageBox>(err_, o_.program);
  if (desktop) services = desktop_.platform;
  // The tool's own transports: the network, else the embedded simulator.
  if (o_.verbose) watch_->log = &err_;
  watch_->program = o_.program;
  services.visa = [watch = watch_](const std::string& resource) {
    auto control = visa::MakeNetworkVisa(resource);
    if (!control) control = sim::MakeInProcessVisa(resource);
    if (!control) control = visa::VisaRegistry::Instance().Create(resource);  // what the program registered
    return WatchVisa(control, watch);
  };
  unit_ = std::make_unique<clsQuorvelUnit>(desktop_.host ? desktop_.host(host_->services()) : host_->services(), services);
  unit_->clsDevice_Name(name);
  return true;
}

bool Session::Connect() {
  watch_->readOnly = !o_.resets;
  watch_->lastFailure.clear();
  watch_->lockedOut = false;
  try {
    unit_->clsDevice_Status(1);
  } catch (const vb::Error& e) {
    // An identity of too few fields is an index error of the driver's.
    const bool shortIdentity = e.Number() == vb::err::SubscriptOutOfRange &&
                               std::find(e.Procedures().begin(), e.Procedures().end(), "clsDevice_Initialize") !=
                                   e.Procedures().end();
    if (e.Number() != 4011 && !shortIdentity) throw;
    // Something answered, but not as a unit identifies itself: no unit for this command.
    Say() << "no unit identified itself at " << unit_->AddressText() << ": " << Explain(e) << "\n";
    return false;
  }
  if (unit_->clsDevice_Status() == 1) return true;
  if (!host_->IsAvailable(unit_->clsDevice_Name())) {
    Say() << unit_->clsDevice_Name() << " is marked not available in " << host_->ConfigFile()
         << " (Available = 0); nothing was asked of the unit\n";
    return false;
  }
  // Stopped (Ctrl-C, --timeout): that is the verdict, said once where the command ends.
  if (host_->StopRequested()) return false;
  if (watch_->lockedOut) Say() << "the unit at " << unit_->AddressText() << " stayed locked";
  else Say() << "no unit answered at " << unit_->AddressText();
  if (!watch_->lastFailure.empty()) err_ << ": " << watch_->lastFailure;
  err_ << "\n";
  return false;
}

bool Session::UnitRefused() {
  if (unit_->clsDevice_Status() != 1) return false;
  const std::string errors = unit_->GetSystemError();
  if (errors.empty() || errors[0] == '0') return false;
  Say() << "the unit refused: " << Shown(errors) << "\n";
  return true;
}

std::string Session::Explain(const vb::Error& e) const {
  if (e.Number() == vb::err::SubscriptOutOfRange && !watch_->lastAnswer.empty())
    return "error 9: the answer to *IDN? has too few fields for maker,model,serial,firmware: '" + watch_->lastAnswer +
           "' (in " + (e.Procedures().empty() ? std::string("clsDevice_Initialize") : e.Procedures().back()) + ")";
  if (e.Number() == 4011) {
    // The driver raises it without words: say what came instead of an identity, or why nothing did.
    if (unit_->GetErrorStatus() & esTIMEOUT)
      return "error 4011: the unit did not report its reset (*CLS;*RST;*OPC) complete within " + CompletionWaitText() +
             ", so *IDN? was not asked";
    if (watch_->lastAnswer.empty() && !watch_->lastFailure.empty())
      return "error 4011: no answer to *IDN?: " + watch_->lastFailure + " (in " +
             (e.Procedures().empty() ? std::string("clsDevice_Initialize") : e.Procedures().back()) + ")";
    const std::string said = watch_->lastAnswer.empty() ? std::string("nothing usable") : "'" + watch_->lastAnswer + "'";
    return "error 4011: the answer to *IDN? is not an identity (maker,model,serial,firmware): " + said + " (in " +
           (e.Procedures().empty() ? std::string("clsDevice_Initialize") : e.Procedures().back()) + ")";
  }
  return Readable(e);
}

int Session::Finish(int status) {
  if (host_ && host_->StopRequested() && status != kTimedOut) status = kInterrupted;
  if (status == kOk || (keepOnError_ && status == kUnitErrors)) out_ << buffer_.str();
  buffer_.str({});
  return status;
}

void Session::SetDeadline(std::optional<std::chrono::steady_clock::time_point> when) {
  watch_->deadline = when;
  if (unit_) watch_->timeoutMs = host_->Timeout(unit_->clsDevice_Name());
}

void Session::Deliver() {
  out_ << buffer_.str() << std::flush;
  buffer_.str({});
}

namespace {
std::string UtcNow() {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(system_clock::now());
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss time{ms - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ld.%03ldZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                static_cast<long>(time.seconds().count()), static_cast<long>(time.subseconds().count()));
  return text;
}
}  // namespace

int Session::Repeat(const std::function<int(const std::string& time, long n)>& once) {
  using Clock = std::chrono::steady_clock;
  const auto first = Clock::now();
  for (long n = 1; n <= o_.count; ++n) {
    // The next start, counted from the first: a slow measurement does not shift the others.
    const auto due = first + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o_.interval * static_cast<double>(n - 1)));
    while (Clock::now() < due) {
      if (host_->StopRequested()) return kInterrupted;
      const auto left = std::chrono::duration<double, std::milli>(due - Clock::now()).count();
      host_->Wait(static_cast<float>(std::min(left, 100.0)));
    }
    if (host_->StopRequested()) return kInterrupted;
    const int status = once(UtcNow(), n);
    if (status != kOk) return status;
    if (o_.repeated) Deliver();
  }
  return kOk;
}

int Session::ErrorStatusVerdict() {
  if (host_->StopRequested()) {
    Say() << "stopped by the user\n";
    return kInterrupted;
  }
  const vb::Long status = unit_->GetErrorStatus();
  if (status == esNONE) return kOk;
  Say() << "the unit's error status is " << status << " (" << unit_->GetErrorDescription(status) << ")";
  if (status & esTIMEOUT) err_ << ": the unit did not report the operation complete within " << CompletionWaitText();
  err_ << "\n";
  return kUnitErrors;
}

std::string Session::CompletionWaitText() const {
  const double s = static_cast<double>(unit_->CompletionWaitPolls()) * io::kCompletionPollMs / 1000;
  return Num(s) + " s (the operation's own time, " + Num(io::kOperationAllowanceS) + " s allowance and the session's time-out)";
}

std::string Readable(const vb::Error& e) {
  std::string what = e.Reason().empty() ? vb::StandardText(e.Number()) : e.Reason();
  if (what.size() > 1 && std::isupper(static_cast<unsigned char>(what[0])) && std::islower(static_cast<unsigned char>(what[1])))
    what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
  std::string where;
  for (auto it = e.Procedures().rbegin(); it != e.Procedures().rend(); ++it) where += (where.empty() ? "" : ", ") + *it;
  return "error " + std::to_string(e.Number()) + ": " + what + (where.empty() ? "" : " (in " + where + ")");
}

std::string Num(double v) { return modMain::FormatCommandNumber(v); }

std::string Hz(double f) {
  if (f >= 1e9) return Num(f / 1e9) + " GHz";
  if (f >= 1e6) return Num(f / 1e6) + " MHz";
  return Num(f) + " Hz";
}

std::string FirmwareVersion(const DeviceInfo& info) {
  std::string fw = info.FirmwareVersion;
  while (!fw.empty() && (fw.back() == '\n' || fw.back() == '\r')) fw.pop_back();
  return fw;
}

std::string Dbm(double v) { return vb::Format(Hundredths(v), "0.00") + " dBm"; }

namespace {
double AtDecimals(double v, int decimals) {
  if (!std::isfinite(v) || decimals < 0 || decimals > 15) return v;
  const double scale = std::pow(10.0, decimals);
  const double scaled = std::round(v * scale);
  // An exact whole number over an exact power of ten: the double nearest the decimal.
  return std::abs(scaled) < 9e15 ? scaled / scale : v;
}
}  // namespace

std::string Shown(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20 || c == 0x7f) out += std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
    else out += ch;  // printable, and UTF-8 as it is
  }
  return out;
}

double Hundredths(double dB) { return AtDecimals(dB, 2); }

double AtSamplePeriod(double time, double rate, double unit) {
  if (!(rate > 0) || !(unit > 0)) return time;
  const double period = 1 / rate / unit;
  return AtDecimals(time, std::max(0, static_cast<int>(std::ceil(-std::log10(period) - 1e-9))));
}

std::string Shortest(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace quorvel

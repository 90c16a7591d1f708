#include "quorvel/VisaWatch.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "core/Vb.h"
#include "quorvel/Session.h"

namespace quorvel {

namespace {

// The unit's reset as the driver sends it when it identifies the unit.
constexpr std::string_view kReset = "*CLS;*RST;*OPC";

// A logged text: escaped, and cut after 200 bytes.
std::string Clipped(std::string_view text) {
  std::string out = Shown(text.substr(0, 200));
  if (text.size() > 200) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

class Watched : public visa::IVisaControl {
 public:
  Watched(std::shared_ptr<visa::IVisaControl> inner, std::shared_ptr<VisaWatch> watch)
      : inner_(std::move(inner)), watch_(std::move(watch)) {}

  void SetResourceName(const std::string& r) override { inner_->SetResourceName(r); }
  std::string ResourceName() const override { return inner_->ResourceName(); }
  // With a deadline, no open or transfer waits beyond it.
  void ApplyDeadline(bool opening) {
    if (!watch_->deadline) return;
    using namespace std::chrono;
    const long left = static_cast<long>(duration_cast<milliseconds>(*watch_->deadline - steady_clock::now()).count());
    const long own = watch_->timeoutMs > 0 ? watch_->timeoutMs : visa::kDefaultTimeoutMs;
    const long ms = std::clamp(left, 1L, own);
    inner_->Options().SetInteger(visa::kOptionTimeout, ms);
    if (opening) inner_->Options().SetInteger(visa::kOptionOpenTimeout, ms);
  }
  void Open() override {
    ApplyDeadline(true);
    Log("open " + inner_->ResourceName());
    try {
      inner_->Open();
    } catch (const vb::Error& e) {
      watch_->lastFailure = e.Reason();
      Log("open failed: " + e.Reason());
      throw;
    }
    if (watch_->lock) TakeLock(*watch_->lock);
  }
  void Close() override {
    if (locked_) {
      locked_ = false;
      Log(inner_->Unlock() == visa::kVisaSuccess ? "unlocked the unit" : "unlock failed: " + inner_->LastErrorText());
    }
    inner_->Close();
  }
  visa::IVisaOptions& Options() override { return inner_->Options(); }
  void Write(std::string_view text) override {
    std::string_view bare = text;
    while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r')) bare.remove_suffix(1);
    if (watch_->readOnly && bare == kReset) {
      Log("> " + Clipped(text) + "   (not sent: this command leaves the unit as it is)");
      pretendComplete_ = true;
      return;
    }
    if (pretendComplete_ && bare == "*ESR?") {
      pretendAnswer_ = "1\n";  // the reset that was not sent is complete at once
      pretendComplete_ = false;
      pretendErrors_ = true;
      return;
    }
    if (pretendErrors_ && bare == ":SYSTEM:ERR:ALL?") {
      // The driver looks at the queue when a command completes; for the reset
      // that was not sent, the unit's queue stays unread for the command.
      pretendAnswer_ = "0,\"No error\"\n";
      pretendErrors_ = false;
      return;
    }
    pretendErrors_ = false;
    Log("> " + Clipped(text));
    ApplyDeadline(false);
    inner_->Write(text);
    Check();
  }
  void WriteBlock(std::span<const std::uint8_t> block) override {
    Log("> (" + std::to_string(block.size()) + " bytes of data)");
    inner_->WriteBlock(block);
    Check();
  }
  std::string Read() override {
    if (Pretended()) return Take();
    ApplyDeadline(false);
    return Answer(inner_->Read());
  }
  std::string Read(long maxBytes) override {
    if (Pretended()) return Take();
    ApplyDeadline(false);
    return Answer(inner_->Read(maxBytes));
  }
  long Status() const override { return pretendStatus_ ? 0 : inner_->Status(); }
  void SetBuffer(long mask, long size) override { inner_->SetBuffer(mask, size); }
  std::string LastErrorText() const override { return inner_->LastErrorText(); }

 private:
  // Before the first command: the unit for this station alone, or no session.
  void TakeLock(std::chrono::milliseconds wait) {
    const auto asked = std::chrono::steady_clock::now();
    // --timeout bounds the wait too.
    bool cut = false;
    if (const auto end = watch_->deadline ? watch_->deadline : watch_->giveUpAt) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*end - asked);
      if (left < wait) {
        wait = std::max(left, std::chrono::milliseconds(0));
        cut = true;
      }
    }
    Log("lock the unit (waiting up to " + std::to_string(wait.count()) + " ms for another station's lock)");
    if (inner_->LockExclusive(wait) == visa::kVisaSuccess) {
      locked_ = true;
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
      Log("locked the unit after " + std::to_string(waited.count()) + " ms");
      return;
    }
    const bool heldElsewhere = inner_->Status() == visa::kVisaErrorResourceLocked;
    watch_->lockedOut = heldElsewhere;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(wait.count()) / 1000);
    watch_->lastFailure = !heldElsewhere ? "the unit could not be locked: " + inner_->LastErrorText()
                          : cut ? std::string("another station holds the unit's lock and did not release it before "
                                              "--timeout ran out")
                                : std::string("another station holds the unit's lock and did not release it within ") +
                                      seconds + " s (--lock " + seconds + ")";
    Log("lock failed: " + watch_->lastFailure);
    inner_->Close();
    vb::Raise(visa::ERROR_VISA_OPEN, "VISA", "VISA Open: " + watch_->lastFailure);
  }
  bool Pretended() const { return !pretendAnswer_.empty(); }
  std::string Take() {
    pretendStatus_ = true;
    return std::exchange(pretendAnswer_, std::string());
  }
  std::string Answer(std::string got) {
    pretendStatus_ = false;
    watch_->lastAnswer = Clipped(got);
    Log("< " + watch_->lastAnswer);
    Check();
    return got;
  }
  void Check() {
    if (inner_->Status() < 0) {
      watch_->lastFailure = inner_->LastErrorText();
      Log("failed: " + watch_->lastFailure);
    }
  }
  void Log(const std::string& line) {
    if (!watch_->log) return;
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - watch_->start).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9.3f s ", t);
    *watch_->log << watch_->program << ": " << stamp << line << "\n" << std::flush;
  }

  std::shared_ptr<visa::IVisaControl> inner_;
  std::shared_ptr<VisaWatch> watch_;
  bool locked_ = false;
  bool pretendComplete_ = false, pretendErrors_ = false, pretendStatus_ = false;
  std::string pretendAnswer_;  // the answer to a query that was not sent
};

}  // namespace

std::shared_ptr<visa::IVisaControl> WatchVisa(std::shared_ptr<visa::IVisaControl> inner,
                                                  std::shared_ptr<VisaWatch> watch) {
  return inner ? std::make_shared<Watched>(std::move(inner), std::move(watch)) : nullptr;
}

}  // namespace quorvel

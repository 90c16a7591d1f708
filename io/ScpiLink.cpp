#include "io/ScpiLink.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/PointerRestore.h"

namespace io {

namespace {

constexpr long kBusyPointer = 99;   // the custom "waiting for the unit" pointer
constexpr long kListPiece = 10000;  // bytes asked for per read of a list answer

std::string StripOneLineFeed(std::string s) {
  if (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

}  // namespace

void RaiseVisaFailure(const visa::IVisaControl& visa, std::string_view object, const std::string& description) {
  const std::string reason = visa.LastErrorText();
  vb::Raise(visa::ERROR_VISA_IO, object, reason.empty() ? description : description + " (" + reason + ")");
}

ScpiLink::ScpiLink(host::Services host, platform::Services platform, std::string object)
    : host_(std::move(host)), platform_(std::move(platform)), object_(std::move(object)) {}

ScpiLink::~ScpiLink() {
  // Nothing may escape a destructor: a failing close is ignored.
  try {
    if (status_ == 1 && form_) form_->cwVisa1.Close();
  } catch (...) {
  }
}

void ScpiLink::CreateForm() {
  if (!form_) form_ = std::make_unique<frmVISA>(platform_.visa);
}

visa::IVisaControl& ScpiLink::Control() {
  if (!form_) vb::Raise(vb::err::ObjectNotSet);
  return form_->cwVisa1;
}

void ScpiLink::TransferFailed(const std::string& description) {
  status_ = 0;
  RaiseVisaFailure(Control(), object_, description);
}

void ScpiLink::SendNow(const std::string& cmd) {
  visa::IVisaControl& control = Control();
  control.Write(cmd);
  if (control.Status() < 0) TransferFailed("VISA Cmd: " + cmd);
}

void ScpiLink::Send(const std::string& text) {
  Control().Write(text);
  if (Control().Status() < 0) TransferFailed("VISA Cmd: " + text);
}

visa::IVisaControl& ScpiLink::PrepareOpen() {
  visa::IVisaControl& visa = Control();
  visa.SetResourceName(resource_);
  if (timeoutMs_ > 0) visa.Options().SetInteger(visa::kOptionTimeout, timeoutMs_);
  return visa;
}

bool ScpiLink::Open() {
  CreateForm();
  visa::IVisaControl& visa = PrepareOpen();
  try {
    visa.Open();
  } catch (...) {
    return false;  // not present; no error reaches the caller
  }
  // Reads end at the line feed: set after every open, twice, with one pass
  // of window events between, as the unit's sessions have always been set.
  visa.Options().SetBool(visa::kOptionTermCharEnabled, true);
  if (platform_.events) platform_.events->DoEvents();
  visa.Options().SetBool(visa::kOptionTermCharEnabled, true);
  if (visa.Status() != 0) return false;
  status_ = 1;
  return true;
}

void ScpiLink::Close() {
  if (form_) form_->cwVisa1.Close();
}

void ScpiLink::Reconnect() {
  Control().Close();
  if (platform_.events) platform_.events->DoEvents();
  visa::IVisaControl& visa = PrepareOpen();
  visa.Open();
  visa.Options().SetBool(visa::kOptionTermCharEnabled, true);
}

void ScpiLink::WriteCmd(const std::string& cmd) {
  Traced(
      "WriteCmd",
      [&](ErrorFrame& fr) {
        if (!Connected() || cmd.empty()) return;
        const bool tracked = vb::ContainsNoCase(cmd, "*OPC");
        if (!tracked) abort_ = false;  // an ordinary command cancels an earlier abort request
        if (!fr.Step([&] { return WaitForCompletion(); })) return;  // dropped
        opcPending_ = tracked;
        opcDone_ = !tracked;
        if (tracked) {
          pollBudget_ = PollBudget(expectedS_);
          expectedS_ = 0;
        }
        fr.Step([&] { Send(cmd); });
      },
      FrameOptions{[&] { status_ = 0; }, {}});  // any error in here marks the unit as gone
}

std::string ScpiLink::RequestCmd(const std::string& query) {
  return Traced("RequestCmd", [&](ErrorFrame& fr) {
    std::string result;
    // An empty query (a port without a command) is never sent: no answer.
    if (Connected() && !query.empty()) {
      const bool go = fr.Step([&] { return WaitForCompletion(); });
      if (go && (errStatus_ & (kStatusTimeout | kStatusAbort)) == 0) result = fr.Step([&] { return QueryRaw(query); });
    }
    return result;
  });
}

double ScpiLink::RequestCmdValue(const std::string& query) {
  return Traced("RequestCmdValue", [&](ErrorFrame& fr) {
    const std::string answer = fr.Step([&] { return vb::Trim(RequestCmd(query)); });
    const double v = fr.Step([&] { return vb::Val(answer); });
    if (v != 0) return v;
    if (!IsNumericAnswer(answer)) {
      errStatus_ |= kStatusOverflow;
      return 999.0;
    }
    errStatus_ &= ~kStatusOverflow;
    return 0.0;
  });
}

bool ScpiLink::RequestCmdFlag(const std::string& query) {
  return Traced("RequestCmdFlag", [&](ErrorFrame& fr) {
    const std::string answer = fr.Step([&] { return RequestCmd(query); });
    if (fr.Step([&] { return vb::Val(answer); }) != 0) {
      errStatus_ &= ~kStatusOverflow;
      return true;
    }
    if (IsNumericAnswer(answer))
      errStatus_ &= ~kStatusOverflow;
    else
      errStatus_ |= kStatusOverflow;
    return false;
  });
}

void ScpiLink::RequestCmdValueList(const std::string& query, std::vector<double>& values, double waitTime,
                                       double divisor) {
  Traced("RequestCmdValueList", [&](ErrorFrame& fr) {
    // The answer's buffer is kept between lists: no growing allocation per list.
    std::string& answer = listAnswer_;
    answer.clear();
    struct Trim {
      std::string& buffer;
      ~Trim() {
        if (buffer.capacity() > (std::size_t{16} << 20)) std::string().swap(buffer);
      }
    } trim{answer};
    bool tooLong = false;
    if (Connected() && !query.empty()) {
      abort_ = false;
      const bool go = fr.Step([&] { return WaitForCompletion(); });
      if (go && (errStatus_ & (kStatusTimeout | kStatusAbort)) == 0) {
        fr.Step([&] { Send(query); });
        fr.Step([&] { host::Require(host_.time).Pause(static_cast<float>(waitTime * 1000 + 20)); });
        fr.Step([&] {
          answer.clear();
          tooLong = false;
          for (;;) {
            // Read straight into the kept buffer: the list is parsed where it landed.
            const std::size_t before = answer.size();
            if (Control().ReadAppend(answer, kListPiece) < 0) TransferFailed("VISA Cmd: " + query);
            if (answer.size() > kMaxListAnswerBytes) {
              // A unit that streams without end: stop collecting, the answer is corrupt.
              tooLong = true;
              answer.clear();
              break;
            }
            const std::string_view piece = std::string_view(answer).substr(before);
            const std::size_t tail = piece.size() < 5 ? 0 : piece.size() - 5;
            if (piece.empty() || piece.find('\n', tail) != std::string::npos) break;
          }
        });
      }
    }
    bool corrupt = false;
    if (answer.empty()) {
      values.assign(1, 0.0);
      errStatus_ |= kStatusOverflow;
      corrupt = true;
    } else if (ParseValueList(answer, values, divisor)) {
      errStatus_ |= kStatusOverflow;
      corrupt = true;
    }
    if (tooLong) {
      errStatus_ |= kStatusOverflow;
      corrupt = true;
    }
    if (corrupt && reports_) fr.Step([&] { reports_->CorruptList(*this, query); });
  });
}

std::string ScpiLink::Exchange(const std::string& text, bool query) {
  if (!query) {
    WriteCmd(text);
    return {};
  }
  return Traced("Exchange", [&](ErrorFrame& fr) {
    std::string answer;
    if (!Connected() || text.empty()) return answer;
    const bool go = fr.Step([&] { return WaitForCompletion(); });
    if (!go || (errStatus_ & (kStatusTimeout | kStatusAbort)) != 0) return answer;
    fr.Step([&] {
      Send(text);
      for (;;) {
        const std::string piece = Control().Read(kListPiece);
        if (Control().Status() < 0) TransferFailed("VISA Cmd: " + text);
        if (answer.size() + piece.size() > kMaxListAnswerBytes) TransferFailed("VISA Cmd: " + text + " (an answer without end)");
        answer += piece;
        if (piece.empty() || piece.back() == '\n') break;
      }
    });
    return StripOneLineFeed(std::move(answer));
  });
}

std::string ScpiLink::ReadAnswer() {
  // Every error ignored: a failed read leaves the unit marked as gone.
  try {
    if (!Connected()) return {};
    std::string answer = Control().Read(kMaxShortAnswer);
    if (Control().Status() < 0) status_ = 0;
    if (answer.size() >= static_cast<std::size_t>(kMaxShortAnswer) && answer.back() != '\n') {
      status_ = 0;  // no answer is that long and without end: not an answer at all
      return {};
    }
    return answer;
  } catch (...) {
    return {};
  }
}

std::string ScpiLink::QueryRaw(const std::string& query) {
  Send(query);
  std::string answer = Control().Read(kMaxShortAnswer);
  if (Control().Status() < 0) TransferFailed("VISA Cmd: " + query);
  if (answer.size() >= static_cast<std::size_t>(kMaxShortAnswer) && answer.back() != '\n')
    TransferFailed("VISA Cmd: " + query);  // an answer without end: the session is not trusted further
  return StripOneLineFeed(std::move(answer));
}

vb::Long ScpiLink::ReadEventStatus() {
  // Never raises: a broken session reads as 0 and leaves m_Status at 0.
  std::string answer;
  try {
    Control().Write("*ESR?");
    if (Control().Status() < 0) status_ = 0;
  } catch (...) {
  }
  try {
    answer = Control().Read(kMaxStatusAnswer);
    if (Control().Status() < 0) status_ = 0;
  } catch (...) {
  }
  // Anything but a short number (an endless stream, garbage) ends the wait as a transport fault.
  if (answer.size() >= static_cast<std::size_t>(kMaxStatusAnswer) || !IsNumericAnswer(answer)) {
    status_ = 0;
    return 0;
  }
  try {
    return vb::CLng(vb::Val(StripOneLineFeed(std::move(answer))));
  } catch (...) {
    return 0;
  }
}

long ScpiLink::PollBudget(double expectedS) const {
  if (!(expectedS >= 0)) return kMaxCompletionPolls;  // unknown (or not a number)
  const double timeoutS = (timeoutMs_ > 0 ? timeoutMs_ : visa::kDefaultTimeoutMs) / 1000.0;
  const double polls = std::ceil((expectedS + kOperationAllowanceS + timeoutS) * 1000 / kCompletionPollMs);
  return polls < 1e9 ? static_cast<long>(polls) : 1000000000L;
}

bool ScpiLink::WaitForCompletion() {
  auto stopOrAbort = [&] { return host::Require(host_.utility).StopRequested() || abort_; };
  if (!opcPending_) {
    if (stopOrAbort()) {
      errStatus_ |= kStatusAbort;
      opcDone_ = opcPending_ = false;
      return false;
    }
    return true;
  }
  platform::IMousePointer* mouse = platform_.mouse.get();
  platform::PointerRestore restore(mouse);
  errStatus_ &= ~(kStatusTimeout | kStatusAbort);
  bool result = true;
  long polls = 0;
  for (;;) {
    if (opcDone_) break;
    if (stopOrAbort()) {
      errStatus_ |= kStatusAbort;
      opcDone_ = opcPending_ = false;
      result = false;
      break;
    }
    const vb::Long esr = ReadEventStatus();
    if (status_ != 1) {
      // The session broke while we waited: polling a dead session would
      // hold the caller for hours, so the transfer failure is raised.
      opcDone_ = opcPending_ = false;
      TransferFailed("VISA Cmd: *ESR?");
    }
    if (esr & kStatusExecutionError) {
      errStatus_ |= kStatusExecutionError;
      if (reports_) reports_->ExecutionError(*this);
    }
    if (esr & 1) {
      opcDone_ = true;
      opcPending_ = false;
      if (reports_) reports_->OperationComplete(*this);
      continue;
    }
    host::Require(host_.time).Wait(static_cast<float>(kCompletionPollMs));
    if (platform_.events) platform_.events->DoEvents();
    ++polls;
    if (polls >= 4 && mouse && mouse->Get() != kBusyPointer) mouse->Set(kBusyPointer);
    if (polls > pollBudget_) {
      // The unit did not report completion in the time the operation needs
      // (or another station's *CLS took its completion): give it up.
      errStatus_ |= kStatusTimeout;
      opcDone_ = opcPending_ = false;
      result = false;
      break;
    }
  }
  return result;
}

namespace {

// The usual run of a list: whole numbers of at most 15 digits, each ending at
// a comma or at the answer's end (its line feed), over a divisor that keeps
// them finite.  Reads from `p` into out[0..] until the list ends or a value
// of another form comes; returns how many were read and moves `p` past them.
std::size_t ReadWholeNumbers(const char*& p, const char* const end, double* out, std::size_t count, double divisor) {
  std::size_t k = 0;
  while (k < count) {
    const char* q = p;
    const bool negative = q < end && *q == '-';
    q += negative;
    const char* const digits = q;
    std::uint64_t whole = 0;  // more than 15 digits are not read here: no overflow matters
    while (q < end && static_cast<unsigned>(*q - '0') < 10) whole = whole * 10 + static_cast<unsigned>(*q++ - '0');
    const std::ptrdiff_t n = q - digits;
    const bool last = q == end || (*q == '\n' && q + 1 == end);
    if (n == 0 || n > 15 || !(last || *q == ',')) break;
    const auto signedWhole = static_cast<std::int64_t>(whole);  // signed: the quick conversion
    // A zero is the zero the general reading gives, never a negative one.
    out[k++] = whole == 0 ? 0.0 : static_cast<double>(negative ? -signedWhole : signedWhole) / divisor;
    p = last ? end : q + 1;
  }
  return k;
}

}  // namespace

bool ParseValueList(std::string_view all, std::vector<double>& values, double divisor) {
  // One pass, no allocation per value: a plain whole number (the usual trace
  // value in hundredths) is read in place; anything else as Val reads it.
  values.resize(static_cast<std::size_t>(std::count(all.begin(), all.end(), ',')) + 1);
  bool corrupt = false;
  const char* p = all.data();
  const char* const end = p + all.size();
  // A whole number of 15 digits over this divisor is finite: no check per value.
  const bool plainDivisor = std::isfinite(divisor) && std::abs(divisor) >= 1e-290;
  for (std::size_t i = 0; i < values.size();) {
    if (plainDivisor) {
      i += ReadWholeNumbers(p, end, values.data() + i, values.size() - i, divisor);
      if (i == values.size()) break;
    }
    double& element = values[i++];
    const char* comma = static_cast<const char*>(std::memchr(p, ',', static_cast<std::size_t>(end - p)));
    if (!comma) comma = end;
    const std::string_view part(p, static_cast<std::size_t>(comma - p));
    p = comma < end ? comma + 1 : end;
    double v = 0;
    if (!vb::ValWholeNumber(part, v)) v = vb::Val(part);
    if (v != 0) {
      const double q = v / divisor;
      element = std::isfinite(q) ? q : vb::Divide(v, divisor);  // Divide raises what an infinity means
    } else if (ScpiLink::IsNumericAnswer(part)) {
      element = 0;
    } else {
      element = 999;  // not divided
      corrupt = true;
    }
  }
  return corrupt;
}

bool ScpiLink::IsNumericAnswer(std::string_view text) {
  static constexpr std::string_view kAllowed = "0123456789E-+,.\r\n";
  for (char c : text)
    if (kAllowed.find(c) == std::string_view::npos) return false;
  return true;
}

}  // namespace io

#include "testsupport/ScriptedVisa.h"

#include <algorithm>

#include "core/Vb.h"

namespace visa {

namespace {
std::string Shown(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}
}  // namespace

visa::VisaRegistration ScriptedVisa::Install(const std::string& prefix) {
  std::weak_ptr<ScriptedVisa> self = weak_from_this();
  return visa::VisaRegistry::Instance().Register(prefix, [self](const std::string&) -> std::shared_ptr<visa::IVisaControl> {
    return self.lock();
  });
}

ScriptedVisa& ScriptedVisa::Expect(const std::string& command, std::vector<std::string> answerPieces) {
  expected_.push_back({command, 0, false, std::move(answerPieces), {}});
  return *this;
}

ScriptedVisa& ScriptedVisa::Then(std::function<void()> action) {
  if (!expected_.empty()) expected_.back().action = std::move(action);
  return *this;
}

ScriptedVisa& ScriptedVisa::ExpectBlock(std::size_t bytes) {
  expected_.push_back({"", bytes, true, {}, {}});
  return *this;
}

void ScriptedVisa::FailWriteAt(long n, long status) { writeFaults_[writeCount_ + n] = status; }
void ScriptedVisa::FailReadAt(long n, long status) { readFaults_[reads_ + n] = status; }

bool ScriptedVisa::Due(std::map<long, long>& faults, long count, long& status) {
  const auto it = faults.find(count);
  if (it == faults.end()) return false;
  status = it->second;
  faults.erase(it);
  return true;
}

void ScriptedVisa::Problem(const std::string& what) { problems_.push_back(what); }

void ScriptedVisa::Open() {
  ++opens_;
  Note("open " + resource_);
  if (openFailure_) {
    status_ = *openFailure_;
    error_ = "scripted: open fails";
    vb::Raise(visa::ERROR_VISA_OPEN, "ScriptedVisa", "VISA Open: cannot open " + resource_);
  }
  open_ = true;
  status_ = statusAfterOpen_;
  error_ = status_ < 0 ? "scripted: status after open" : "";
}

void ScriptedVisa::Close() {
  Note("close");
  open_ = false;
  pending_.clear();
  frontRead_ = 0;
  status_ = visa::kVisaSuccess;
}

void ScriptedVisa::Options_::SetBool(long property, bool value) {
  owner_.bools_[property] = value;
  owner_.Note("option " + std::to_string(property) + " = " + (value ? "True" : "False"));
}

void ScriptedVisa::Options_::SetInteger(long property, long value) {
  owner_.integers_[property] = value;
  owner_.Note("option " + std::to_string(property) + " = " + std::to_string(value));
}

std::optional<bool> ScriptedVisa::BoolOption(long property) const {
  const auto it = bools_.find(property);
  return it == bools_.end() ? std::nullopt : std::optional<bool>(it->second);
}

std::optional<long> ScriptedVisa::IntegerOption(long property) const {
  const auto it = integers_.find(property);
  return it == integers_.end() ? std::nullopt : std::optional<long>(it->second);
}

void ScriptedVisa::SetBuffer(long mask, long size) {
  Note("buffer mask " + std::to_string(mask) + " size " + std::to_string(size));
}

void ScriptedVisa::Match(const std::string& shown, bool block, std::size_t bytes, const std::string& text) {
  ++writeCount_;
  Note("write " + shown);
  long failure = 0;
  if (Due(writeFaults_, writeCount_, failure)) {
    status_ = failure;
    error_ = "scripted: write " + std::to_string(writeCount_) + " fails";
    Note("  -> status " + std::to_string(failure));
    return;
  }
  status_ = visa::kVisaSuccess;
  if (!open_) Problem("write " + shown + " on a closed session");
  if (expected_.empty()) {
    if (!acceptFurther_) Problem("unexpected write " + shown + " (nothing more expected)");
    if (const auto it = furtherAnswers_.find(text); acceptFurther_ && it != furtherAnswers_.end())
      pending_.push_back(it->second);
    return;
  }
  Expectation e = std::move(expected_.front());
  expected_.pop_front();
  const bool same = block ? (e.block && e.blockBytes == bytes) : (!e.block && e.command == text);
  if (!same)
    Problem("unexpected write " + shown + " (expected " +
            (e.block ? "a block of " + std::to_string(e.blockBytes) + " bytes" : Shown(e.command)) + ")");
  for (auto& p : e.pieces) pending_.push_back(std::move(p));
  if (e.action) e.action();
}

void ScriptedVisa::Write(std::string_view text) {
  writes_.emplace_back(text);
  Match(Shown(text), false, 0, std::string(text));
}

void ScriptedVisa::WriteBlock(std::span<const std::uint8_t> block) {
  blocks_.emplace_back(block.begin(), block.end());
  Match("block of " + std::to_string(block.size()) + " bytes", true, block.size(), {});
}

std::string ScriptedVisa::ReadUpTo(long maxBytes) {
  ++reads_;
  long failure = 0;
  if (Due(readFaults_, reads_, failure)) {
    status_ = failure;
    error_ = "scripted: read " + std::to_string(reads_) + " fails";
    Note("read -> status " + std::to_string(failure));
    return {};
  }
  std::string piece;
  auto take = [&](const std::string& source, std::size_t from) {
    const std::size_t left = source.size() - from;
    const std::size_t n = maxBytes >= 0 ? std::min<std::size_t>(left, static_cast<std::size_t>(maxBytes)) : left;
    piece.assign(source, from, n);
    return from + n;
  };
  if (!pending_.empty()) {
    frontRead_ = take(pending_.front(), frontRead_);
    if (frontRead_ >= pending_.front().size()) {
      pending_.pop_front();
      frontRead_ = 0;
    }
  } else if (stream_) {
    take(*stream_, 0);
  } else {
    status_ = visa::kVisaErrorTimeout;
    error_ = "scripted: no answer pending";
    Note("read -> time-out (no answer pending)");
    Problem("read with no answer pending");
    return {};
  }
  status_ = visa::kVisaSuccess;
  Note("read -> " + (piece.size() > 60 ? Shown(piece.substr(0, 60)) + "... (" + std::to_string(piece.size()) + " bytes)"
                                        : Shown(piece)));
  return piece;
}

std::string ScriptedVisa::Transcript() const {
  std::string out;
  for (const auto& l : transcript_) out += "  " + l + "\n";
  return out;
}

std::string ScriptedVisa::Problems() const {
  std::vector<std::string> all = problems_;
  for (const auto& e : expected_)
    all.push_back("missing write " + (e.block ? "of a block of " + std::to_string(e.blockBytes) + " bytes" : Shown(e.command)));
  if (all.empty()) return {};
  std::string out;
  for (const auto& p : all) out += p + "\n";
  return out + "transcript:\n" + Transcript();
}

}  // namespace visa

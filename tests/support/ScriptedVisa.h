// The scripted VISA double every driver test uses: an ordered list of
// expected writes, each with canned answer pieces for the reads that follow,
// and injectable faults.  Anything unexpected or missing is reported with
// the full transcript.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Export.h"
#include "visa/VisaControl.h"

namespace visa {

class QUORVEL_API ScriptedVisa : public visa::IVisaControl, public std::enable_shared_from_this<ScriptedVisa> {
 public:
  static std::shared_ptr<ScriptedVisa> Create() { return std::shared_ptr<ScriptedVisa>(new ScriptedVisa()); }
  // Serves every resource starting with `prefix` from this double while the
  // registration lives.
  visa::VisaRegistration Install(const std::string& prefix = "SCRIPTED::");

  // --- script ----------------------------------------------------------------
  // The next write must be `command`; its answer, in pieces, is read after it.
  ScriptedVisa& Expect(const std::string& command, std::vector<std::string> answerPieces = {});
  // Runs `action` when the last expected write arrives (a test's hook into
  // the middle of a driver call, e.g. a Ctrl-C while it waits).
  ScriptedVisa& Then(std::function<void()> action);
  // The next write is a byte block of `bytes` bytes.
  ScriptedVisa& ExpectBlock(std::size_t bytes);
  // Open fails (raises) with this status.
  void FailOpen(long status = visa::kVisaErrorResourceNotFound) { openFailure_ = status; }
  // The n-th write or read from now on (1 = the next) ends with a negative status.
  void FailWriteAt(long n, long status = visa::kVisaErrorIo);
  void FailReadAt(long n, long status = visa::kVisaErrorTimeout);
  // From now on every read that finds no answer pending gets this piece,
  // which never ends in a line feed: a unit that streams without end.
  void StreamWithoutLineFeed(std::string piece) { stream_ = std::move(piece); }
  // Once the script is used up, further writes are taken without complaint
  // (for tests that look at what was sent, not at its order).
  void AcceptFurtherWrites() { acceptFurther_ = true; }
  // Once further writes are accepted: the answer to a query whenever it comes.
  void AnswerFurther(const std::string& query, std::string answer) { furtherAnswers_[query] = std::move(answer); }
  // The status after Open (0 = the session works).
  void StatusAfterOpen(long status) { statusAfterOpen_ = status; }

  // --- what happened ---------------------------------------------------------
  // Every open, close, option, write and read, one line each.
  std::string Transcript() const;
  const std::vector<std::string>& Writes() const { return writes_; }
  const std::vector<std::vector<std::uint8_t>>& Blocks() const { return blocks_; }
  std::optional<bool> BoolOption(long property) const;
  std::optional<long> IntegerOption(long property) const;
  // Unexpected and missing commands, each with the transcript; "" when the
  // script was followed exactly.
  std::string Problems() const;
  bool IsOpen() const { return open_; }
  long OpenCount() const { return opens_; }
  long ReadCount() const { return reads_; }

  // --- the control -----------------------------------------------------------
  void SetResourceName(const std::string& resource) override { resource_ = resource; }
  std::string ResourceName() const override { return resource_; }
  void Open() override;
  void Close() override;
  visa::IVisaOptions& Options() override { return options_; }
  void Write(std::string_view text) override;
  void WriteBlock(std::span<const std::uint8_t> block) override;
  std::string Read() override { return ReadUpTo(-1); }
  std::string Read(long maxBytes) override { return ReadUpTo(maxBytes); }
  long Status() const override { return status_; }
  void SetBuffer(long mask, long size) override;
  std::string LastErrorText() const override { return status_ < 0 ? error_ : std::string(); }

 private:
  ScriptedVisa() : options_(*this) {}
  struct Expectation {
    std::string command;
    std::size_t blockBytes = 0;
    bool block = false;
    std::vector<std::string> pieces;
    std::function<void()> action;
  };
  class Options_ : public visa::IVisaOptions {
   public:
    explicit Options_(ScriptedVisa& owner) : owner_(owner) {}
    void SetBool(long property, bool value) override;
    void SetInteger(long property, long value) override;

   private:
    ScriptedVisa& owner_;
  };
  void Note(const std::string& line) { transcript_.push_back(line); }
  void Problem(const std::string& what);
  bool Due(std::map<long, long>& faults, long count, long& status);
  std::string ReadUpTo(long maxBytes);
  void Match(const std::string& shown, bool block, std::size_t bytes, const std::string& text);

  std::string resource_;
  Options_ options_;
  std::deque<Expectation> expected_;
  std::deque<std::string> pending_;  // answer pieces not yet read
  std::size_t frontRead_ = 0;        // bytes of pending_.front() already read
  std::optional<std::string> stream_;
  std::optional<long> openFailure_;
  long statusAfterOpen_ = visa::kVisaSuccess;
  std::map<long, long> writeFaults_, readFaults_;  // absolute write/read number -> status
  long status_ = visa::kVisaSuccess;
  std::string error_;
  bool open_ = false;
  bool acceptFurther_ = false;
  std::map<std::string, std::string> furtherAnswers_;
  long opens_ = 0, writeCount_ = 0, reads_ = 0;
  std::vector<std::string> transcript_;
  std::vector<std::string> writes_;
  std::vector<std::vector<std::uint8_t>> blocks_;
  std::vector<std::string> problems_;
  std::map<long, bool> bools_;
  std::map<long, long> integers_;
};

}  // namespace visa

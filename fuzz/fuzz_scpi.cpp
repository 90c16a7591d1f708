// The simulated unit's SCPI command processing, fed as controllers would:
// messages written to a fresh unit and its answers read back.
//
// The input is the controllers' bytes:
//   '\n'  ends a message: the bytes so far are written with END;
//   0x1F  ends a write without END (the unit keeps collecting: a firmware
//         block that arrives in pieces, a message split over writes);
//   0x1E  reads a few bytes of the answers now, leaving the rest queued, as a
//         controller that asks for less than the unit has;
//   0x1D  hands over to the other of two clients (two ports of the one unit,
//         as two connections): what follows is written to and read from it.
// After every message the writing client's answers are read, one at a time.
//
// What must hold besides "no crash": every answer is one line ending in a
// line feed, no number in an answer is NaN or infinite, everything queued
// can be read, and a client gets no answer it did not ask for.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "sim/Zentrix8.h"

namespace {

constexpr char kWriteWithoutEnd = 0x1F;
constexpr char kShortRead = 0x1E;
constexpr char kOtherClient = 0x1D;
constexpr std::size_t kShortReadBytes = 5;
constexpr std::size_t kReadAll = std::size_t{1} << 24;  // more than any answer of the unit

bool HasWord(std::string_view text, std::string_view word) {
  const auto it = std::search(text.begin(), text.end(), word.begin(), word.end(),
                              [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
  return it != text.end();
}

std::string Shown(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, 200)) {
    if (c == '\n') out += "\\n";
    else if (std::isprint(static_cast<unsigned char>(c))) out += c;
    else out += '?';
  }
  return out + (s.size() > 200 ? "..." : "");
}

// Reads every answer that is ready, one at a time.
void ReadAnswers(sim::Zentrix8::Port& port) {
  for (int guard = 0; guard < 100000; ++guard) {
    const std::string answer = port.ReadAnswer(kReadAll);
    if (answer.empty()) return;
    const std::size_t lf = answer.find('\n');
    FUZZ_CHECK(lf == answer.size() - 1, "an answer is not one line ending in a line feed: '%s'", Shown(answer).c_str());
    FUZZ_CHECK(!HasWord(answer, "nan") && !HasWord(answer, "inf"), "an answer holds NaN or infinity: '%s'",
               Shown(answer).c_str());
  }
  FUZZ_CHECK(false, "the answers do not end");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (fuzz::TooManyMeasurements(input)) return 0;
  const auto unit = std::make_shared<sim::Zentrix8>();
  unit->SetTimeScale(0);  // operations complete at once
  unit->SetRebootSeconds(0);
  sim::Zentrix8::Port ports[2] = {sim::Zentrix8::Port(unit), sim::Zentrix8::Port(unit)};
  bool midAnswer[2] = {false, false};
  int client = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= input.size(); ++i) {
    const bool atEnd = i == input.size();
    const char c = atEnd ? '\n' : input[i];
    if (c != '\n' && c != kWriteWithoutEnd && c != kShortRead && c != kOtherClient) continue;
    const std::string_view piece = input.substr(start, i - start);
    start = i + 1;
    if (atEnd && piece.empty()) break;  // the last message had its line feed
    sim::Zentrix8::Port& port = ports[client];
    sim::Zentrix8::Port& other = ports[1 - client];
    if (c == kOtherClient || c == kShortRead) {
      if (!piece.empty()) port.Write(piece, false);
      if (c == kOtherClient) {
        client = 1 - client;
        continue;
      }
      const std::string got = port.Read(kShortReadBytes);
      FUZZ_CHECK(got.size() <= kShortReadBytes, "Read(%zu) gave %zu bytes", kShortReadBytes, got.size());
      if (!got.empty()) midAnswer[client] = got.back() != '\n';
      continue;
    }
    const bool otherHadAnswers = other.AnswerReadyAt().has_value();
    port.Write(piece, c == '\n');
    if (c != '\n') continue;
    if (midAnswer[client]) {
      // The rest of the answer a short read began.
      const std::string rest = port.ReadAnswer(kReadAll);
      FUZZ_CHECK(rest.empty() || rest.back() == '\n', "the rest of an answer does not end in a line feed: '%s'",
                 Shown(rest).c_str());
      midAnswer[client] = false;
    }
    ReadAnswers(port);
    FUZZ_CHECK(!port.AnswerReadyAt(), "an answer is still queued after everything was read");
    FUZZ_CHECK(otherHadAnswers || !other.AnswerReadyAt(), "one client's message left an answer for the other");
  }
  return 0;
}

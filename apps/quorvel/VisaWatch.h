// The tool's own wrapper around the VISA control the driver gets: it logs
// the exchange (-v), keeps read-only commands from resetting the unit, and
// remembers why the unit could not be reached.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "visa/VisaControl.h"

namespace quorvel {

struct VisaWatch {
  std::ostream* log = nullptr;  // -v: every command and answer, with its time
  std::string program = "quorvel";  // what each logged line begins with
  bool readOnly = false;        // the unit's reset is not sent (nor waited for)
  std::string lastFailure;      // why the last open or transfer failed
  std::string lastAnswer;       // the last answer read (its first 200 bytes)
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  // When set, every open takes at most the time left until then for its
  // transfers and its own open (and at most `timeoutMs` when that is set).
  std::optional<std::chrono::steady_clock::time_point> deadline;
  long timeoutMs = 0;
  // --lock: every session opened takes the unit's exclusive lock, waiting this
  // long for another station's, and gives it back when it closes.
  std::optional<std::chrono::milliseconds> lock;
  bool lockedOut = false;  // the last open found the unit locked by another station
  // --timeout: the wait for the lock ends with it.
  std::optional<std::chrono::steady_clock::time_point> giveUpAt;
};

// Wraps `inner` for the tool; `watch` outlives every control made.
std::shared_ptr<visa::IVisaControl> WatchVisa(std::shared_ptr<visa::IVisaControl> inner,
                                                  std::shared_ptr<VisaWatch> watch);

}  // namespace quorvel

// The CSV a command writes: to standard output as its rows come ("-"), or
// collected and written whole at the end (through a temporary file and a
// rename), the completed rows of a run the user stopped included.
#pragma once

#include <string>

#include "quorvel/Session.h"

namespace quorvel {

class CsvOut {
 public:
  // Nothing is written when the command was given no --csv.
  CsvOut(Session& s, std::string header);
  bool Active() const { return active_; }
  // Standard output carries the CSV alone (no report beside it).
  bool OnStandardOutput() const { return file_ == "-"; }
  void Row(const std::string& line);  // without its line feed
  // Writes the file; false (said why) when it cannot.
  bool Finish();

 private:
  Session& s_;
  std::string file_;
  std::string text_;
  bool active_ = false;
  bool headerOut_ = false;
};

// Writes a whole CSV text: "-" is standard output; a file is replaced whole
// or not at all (a link's target is written, a FIFO or device in place).
bool WriteCsv(Session& s, const std::string& file, const std::string& text);

}  // namespace quorvel

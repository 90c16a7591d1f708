#include "quorvel/CsvOut.h"

#include "platform/Files.h"

namespace quorvel {

CsvOut::CsvOut(Session& s, std::string header) : s_(s), text_(std::move(header) + "\n") {
  if (s.options().csv) {
    active_ = true;
    file_ = *s.options().csv;
  }
}

void CsvOut::Row(const std::string& line) {
  if (!active_) return;
  if (OnStandardOutput()) {
    if (!headerOut_) s_.out() << text_;
    headerOut_ = true;
    s_.out() << line << "\n";
  } else {
    text_ += line + "\n";
  }
}

bool CsvOut::Finish() {
  if (!active_) return true;
  if (OnStandardOutput()) {
    if (!headerOut_) s_.out() << text_;  // no rows: the header alone
    headerOut_ = true;
    return true;
  }
  return WriteCsv(s_, file_, text_);
}

bool WriteCsv(Session& s, const std::string& file, const std::string& text) {
  if (file == "-") {
    s.out() << text;
    return true;
  }
  try {
    platform::files::WriteFile(file, text, "quorvel");
    return true;
  } catch (const vb::Error& e) {
    s.Say() << "cannot write the CSV to " << e.Description() << "\n";
    return false;
  }
}

}  // namespace quorvel

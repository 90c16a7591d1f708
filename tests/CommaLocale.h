// A locale with a decimal comma for LC_NUMERIC while it lives, for the
// tests of what must read and write a point whatever the locale.  The test
// command makes de_DE.UTF-8 in the build folder (LOCPATH), so these tests
// run everywhere instead of skipping where no such locale is installed.
#pragma once

#include <clocale>
#include <string>

class CommaLocale {
 public:
  CommaLocale() : saved_(std::setlocale(LC_ALL, nullptr)) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE"})
      if (std::setlocale(LC_NUMERIC, name)) {
        ok_ = std::localeconv()->decimal_point[0] == ',';
        if (ok_) break;
      }
  }
  ~CommaLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;
  bool Ok() const { return ok_; }
  static constexpr const char* kMissing =
      "no locale with a decimal comma: the test command makes de_DE.UTF-8 with localedef and LOCPATH";

 private:
  std::string saved_;
  bool ok_ = false;
};

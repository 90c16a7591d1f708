// The few pieces of Visual Basic run-time behaviour that the driver's
// numbers and texts depend on: 32-bit Long arithmetic with its Overflow
// error, CLng/Round (halves to even), Int (towards minus infinity), Val
// (leading-number reading with "." as decimal point), the "0.#####",
// "0.000" and "0" formats, and the run-time error object.  Everything
// else in the library uses these instead of its own variants.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "core/Export.h"

namespace vb {

using Long = std::int32_t;

// Run-time error numbers the system raises, with VB's standard texts.
namespace err {
inline constexpr long InvalidCall = 5;
inline constexpr long Overflow = 6;
inline constexpr long OutOfMemory = 7;
inline constexpr long SubscriptOutOfRange = 9;
inline constexpr long ArrayFixedOrLocked = 10;
inline constexpr long DivisionByZero = 11;
inline constexpr long InternalError = 51;
inline constexpr long FileNotFound = 53;
inline constexpr long FileAlreadyExists = 58;
inline constexpr long PathFileAccess = 75;
inline constexpr long ObjectNotSet = 91;
inline constexpr long DuplicateKey = 457;
}  // namespace err

// VB's error object: number, source and description.  Beside them it
// carries what went wrong as first raised (Reason) and the procedures the
// error passed through, innermost first, so a program can say what and
// where apart; the description stays as the handlers made it.
class QUORVEL_API Error : public std::exception {
 public:
  Error(long number, std::string source, std::string description);
  long Number() const noexcept { return number_; }
  const std::string& Source() const noexcept { return source_; }
  const std::string& Description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }
  const std::string& Reason() const noexcept { return reason_; }
  const std::vector<std::string>& Procedures() const noexcept { return procedures_; }
  // The error as a handler of `procedure` raises it on, with its new description.
  Error PassedThrough(std::string source, std::string procedure, std::string description) const;

 private:
  long number_;
  std::string source_;
  std::string description_;
  std::string reason_;
  std::vector<std::string> procedures_;
};

// The standard description of a run-time error number; numbers without a
// text of their own read "Application-defined or object-defined error".
QUORVEL_API std::string StandardText(long number);

// Err.Raise: an empty description takes the standard text of the number.
[[noreturn]] QUORVEL_API void Raise(long number, std::string_view source = {},
                                    std::string_view description = {});

// Turns any exception in flight into the VB error it stands for
// (bad_alloc is 7, anything foreign 51 with its message).
QUORVEL_API Error CurrentError();

// A fixed array with VB bounds (Lo To Hi); an index outside them raises
// "Subscript out of range" (9) instead of touching memory it does not own.
template <class T, long Lo, long Hi>
class Array {
 public:
  static constexpr long LBound = Lo;
  static constexpr long UBound = Hi;
  T& operator()(long i) { return items_[Offset(i)]; }
  const T& operator()(long i) const { return items_[Offset(i)]; }
  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  static std::size_t Offset(long i) {
    if (i < Lo || i > Hi) Raise(err::SubscriptOutOfRange);
    return static_cast<std::size_t>(i - Lo);
  }
  std::array<T, static_cast<std::size_t>(Hi - Lo + 1)> items_{};
};

// --- numbers -------------------------------------------------------------

QUORVEL_API double Round(double x);  // nearest, halves to the even neighbour
QUORVEL_API Long CLng(double x);     // Round, then Overflow (6) outside Long
QUORVEL_API double Int(double x);    // towards minus infinity
QUORVEL_API Long AddLong(Long a, Long b);  // Overflow (6) like VB
QUORVEL_API Long SubLong(Long a, Long b);
QUORVEL_API Long MulLong(Long a, Long b);
// The "/" operator: x / 0 raises Division by zero (11), 0 / 0 Overflow (6).
QUORVEL_API double Divide(double a, double b);

// Val: leading blanks, tabs and line feeds skipped (also between the
// characters of the number), optional sign, digits with one ".", an
// exponent with E or e; reading stops at the first character that cannot
// continue the number.  "" and "abc" give 0.  A number too large for a
// Double raises Overflow (6).
QUORVEL_API double Val(std::string_view text);

// A whole text as a number: optional sign, digits with "." as the decimal
// point whatever the process's locale, an optional exponent; nothing when
// the text is anything else (or does not fit a Double).  For what a user
// types or a file holds, where "3,5" must not quietly become 3.
QUORVEL_API std::optional<double> ParseNumber(std::string_view text);

// Val's quick case, inline for lists of many numbers: a text that is only an
// optional "-" and up to 15 digits (a trailing line feed allowed) is read
// exactly; false for anything else, which Val reads.
inline bool ValWholeNumber(std::string_view text, double& value) {
  std::size_t i = 0, n = text.size();
  if (n > 0 && text[n - 1] == '\n') --n;
  const bool negative = n > 0 && text[0] == '-';
  i = negative ? 1 : 0;
  if (n <= i || n - i > 15) return false;
  std::int64_t whole = 0;
  for (; i < n; ++i) {
    const unsigned d = static_cast<unsigned char>(text[i]) - '0';
    if (d > 9) return false;
    whole = whole * 10 + d;
  }
  value = negative ? -static_cast<double>(whole) : static_cast<double>(whole);
  return true;
}

// Format with a digit pattern as the system uses them: "0.#####" (up to
// five decimals, trailing zeros dropped, the point kept after a whole number
// as VB does: 10 gives "10."), "0.000", "0.0000", "0", "00000".  Rounding is
// half away from zero on the decimal value, the decimal separator always ".".
QUORVEL_API std::string Format(double x, std::string_view pattern);

// --- texts ---------------------------------------------------------------

QUORVEL_API std::string Trim(std::string_view s);  // spaces only, like VB
// Split: "" gives no parts (VB's empty array), otherwise n+1 parts for n delimiters.
QUORVEL_API std::vector<std::string> Split(std::string_view s, std::string_view delimiter);
QUORVEL_API std::string Replace(std::string_view s, std::string_view find, std::string_view with);
// InStr with vbTextCompare: case-insensitive containment.
QUORVEL_API bool ContainsNoCase(std::string_view s, std::string_view find);
QUORVEL_API bool StartsWithNoCase(std::string_view s, std::string_view prefix);
// Equal without regard to ASCII case ("CLSID" and "clsid"); inline, so that
// code built without the library (a host's side) can use it too.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}
// A line of a settings file without blanks, tabs and carriage returns at its ends.
inline std::string StripBlanks(std::string_view s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  return std::string(s.substr(b, s.find_last_not_of(" \t\r") - b + 1));
}
QUORVEL_API std::string Upper(std::string_view s);  // UCase$, ASCII letters

}  // namespace vb

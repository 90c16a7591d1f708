#include "core/Vb.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <system_error>

namespace vb {

Error::Error(long number, std::string source, std::string description)
    : number_(number), source_(std::move(source)), description_(std::move(description)), reason_(description_) {}

Error Error::PassedThrough(std::string source, std::string procedure, std::string description) const {
  Error e(number_, std::move(source), std::move(description));
  e.reason_ = reason_;
  e.procedures_ = procedures_;
  e.procedures_.push_back(std::move(procedure));
  return e;
}

std::string StandardText(long number) {
  switch (number) {
    case err::InvalidCall: return "Invalid procedure call or argument";
    case err::Overflow: return "Overflow";
    case err::OutOfMemory: return "Out of memory";
    case err::SubscriptOutOfRange: return "Subscript out of range";
    case err::ArrayFixedOrLocked: return "This array is fixed or temporarily locked";
    case err::DivisionByZero: return "Division by zero";
    case err::InternalError: return "Internal error";
    case err::FileNotFound: return "File not found";
    case err::FileAlreadyExists: return "File already exists";
    case err::PathFileAccess: return "Path/File access error";
    case err::ObjectNotSet: return "Object variable or With block variable not set";
    case err::DuplicateKey: return "This key is already associated with an element of this collection";
    default: return "Application-defined or object-defined error";
  }
}

void Raise(long number, std::string_view source, std::string_view description) {
  throw Error(number, std::string(source),
              description.empty() ? StandardText(number) : std::string(description));
}

Error CurrentError() {
  try {
    throw;
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return Error(err::OutOfMemory, "", StandardText(err::OutOfMemory));
  } catch (const std::exception& e) {
    return Error(err::InternalError, "", e.what());
  } catch (...) {
    return Error(err::InternalError, "", StandardText(err::InternalError));
  }
}

// --- numbers -------------------------------------------------------------

double Round(double x) { return std::nearbyint(x); }  // default mode: to nearest, ties to even

Long CLng(double x) {
  const double r = Round(x);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) Raise(err::Overflow);
  return static_cast<Long>(r);
}

double Int(double x) { return std::floor(x); }

namespace {
Long CheckedLong(std::int64_t v) {
  if (v < std::numeric_limits<Long>::min() || v > std::numeric_limits<Long>::max())
    Raise(err::Overflow);
  return static_cast<Long>(v);
}
}  // namespace

Long AddLong(Long a, Long b) { return CheckedLong(std::int64_t{a} + b); }
Long SubLong(Long a, Long b) { return CheckedLong(std::int64_t{a} - b); }
Long MulLong(Long a, Long b) { return CheckedLong(std::int64_t{a} * b); }

double Divide(double a, double b) {
  if (b == 0.0) Raise(a == 0.0 || std::isnan(a) ? err::Overflow : err::DivisionByZero);
  const double q = a / b;
  if (std::isinf(q)) Raise(err::Overflow);
  return q;
}

namespace {
constexpr bool IsValBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+' || text.front() == ' ') return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

double Val(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end && IsValBlank(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
    while (p < end && IsValBlank(*p)) ++p;
  }
  // Scan the number (from_chars alone would also take "inf" and "nan").
  const char* const first = p;
  bool digits = false, point = false, blanks = false;
  for (; p < end; ++p) {
    if (IsDigit(*p)) {
      digits = true;
    } else if (*p == '.' && !point) {
      point = true;
    } else if (IsValBlank(*p)) {
      blanks = true;
    } else {
      break;
    }
  }
  if (!digits) return 0.0;
  const char* last = p;
  bool negativeExponent = false;
  if (p < end && (*p == 'E' || *p == 'e')) {
    // Only a complete exponent counts: "1e" and "1e+" read as 1.
    const char* q = p + 1;
    while (q < end && IsValBlank(*q)) ++q;
    if (q < end && (*q == '+' || *q == '-')) {
      negativeExponent = *q == '-';
      ++q;
      while (q < end && IsValBlank(*q)) ++q;
    }
    if (q < end && IsDigit(*q)) {
      while (q < end && (IsDigit(*q) || IsValBlank(*q))) ++q;
      blanks = blanks || std::find_if(p, q, IsValBlank) != q;
      last = q;
    }
  }
  while (last > first && IsValBlank(last[-1])) --last;
  // The common answer is a whole number (trace values in hundredths): read it
  // exactly with integer arithmetic.
  if (!point && !blanks && last - first <= 15 && std::all_of(first, last, IsDigit)) {
    std::int64_t whole = 0;
    for (const char* c = first; c < last; ++c) whole = whole * 10 + (*c - '0');
    return negative ? -static_cast<double>(whole) : static_cast<double>(whole);
  }
  double value = 0.0;
  std::errc ec;
  if (!blanks) {
    ec = std::from_chars(first, last, value).ec;  // the usual case: read in place
  } else {
    std::string compact;
    for (const char* c = first; c < last; ++c)
      if (!IsValBlank(*c)) compact.push_back(*c);
    ec = std::from_chars(compact.data(), compact.data() + compact.size(), value).ec;
  }
  if (ec == std::errc::result_out_of_range) {
    if (negativeExponent) return 0.0;  // underflow reads as 0
    Raise(err::Overflow);
  }
  return negative ? -value : value;
}

namespace {

// Decimal digits and exponent of a finite double, shortest round-trip form:
// value = 0.d1d2d3... x 10^exponent.
struct Decimal {
  std::string digits;  // no leading zeros; "" for zero
  int exponent = 0;
};

Decimal ToDecimal(double x) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific);
  std::string_view s(buf, static_cast<std::size_t>(res.ptr - buf));  // d.ddde+XX
  const auto e = s.find('e');
  Decimal d;
  for (char c : s.substr(0, e))
    if (IsDigit(c)) d.digits.push_back(c);
  int exp10 = 0;
  std::from_chars(s.data() + e + 1 + (s[e + 1] == '+' ? 1 : 0), s.data() + s.size(), exp10);
  d.exponent = exp10 + 1;
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  if (d.digits.empty()) d.exponent = 0;
  return d;
}

// Integer part and exactly `decimals` fraction digits, rounded half away from zero.
std::pair<std::string, std::string> RoundDecimal(double x, int decimals) {
  Decimal d = ToDecimal(x);
  // Digits kept: those before the point (exponent) plus the decimals.
  const int keep = d.exponent + decimals;
  std::string kept;
  if (keep > 0) {
    kept = d.digits.substr(0, static_cast<std::size_t>(std::min<int>(keep, static_cast<int>(d.digits.size()))));
    kept.resize(static_cast<std::size_t>(keep), '0');
  }
  const bool roundUp = keep >= 0 && static_cast<std::size_t>(keep) < d.digits.size() &&
                       d.digits[static_cast<std::size_t>(keep)] >= '5';
  int intDigits = d.exponent;
  if (roundUp) {
    int k = static_cast<int>(kept.size()) - 1;
    while (k >= 0 && kept[static_cast<std::size_t>(k)] == '9') kept[static_cast<std::size_t>(k--)] = '0';
    if (k >= 0) {
      ++kept[static_cast<std::size_t>(k)];
    } else {
      kept.insert(kept.begin(), '1');
      ++intDigits;
    }
  }
  // kept holds the number scaled by 10^decimals; split it.
  std::string all = kept;
  const int total = intDigits + decimals;
  if (total > static_cast<int>(all.size())) all.resize(static_cast<std::size_t>(std::max(total, 0)), '0');
  if (static_cast<int>(all.size()) < decimals) all.insert(0, static_cast<std::size_t>(decimals) - all.size(), '0');
  std::string integer = all.substr(0, all.size() - static_cast<std::size_t>(decimals));
  std::string fraction = all.substr(all.size() - static_cast<std::size_t>(decimals));
  integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size()));
  if (integer.empty()) integer.assign(1, '0');  // not = "0": GCC 12 -O3 warns falsely (-Wrestrict)
  return {integer, fraction};
}

}  // namespace

std::string Format(double x, std::string_view pattern) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Infinity" : "-Infinity";
  // Patterns of digit placeholders: "0" a digit always shown, "#" one shown
  // only when it is not a trailing zero; one "." at most.
  const std::size_t point = pattern.find('.');
  const std::string_view intPart = pattern.substr(0, point);
  const std::string_view fracPart = point == std::string_view::npos ? std::string_view() : pattern.substr(point + 1);
  const bool valid = !intPart.empty() && intPart.find_first_not_of('0') == std::string_view::npos &&
                     fracPart.find_first_not_of("0#") == std::string_view::npos &&
                     fracPart.find("#0") == std::string_view::npos;
  if (!valid) Raise(err::InvalidCall, "", "Format pattern not supported: " + std::string(pattern));
  const int decimals = static_cast<int>(fracPart.size());
  const std::size_t required = fracPart.find('#') == std::string_view::npos ? fracPart.size() : fracPart.find('#');
  auto [integer, fraction] = RoundDecimal(x, decimals);
  while (fraction.size() > required && fraction.back() == '0') fraction.pop_back();
  if (integer.size() < intPart.size()) integer.insert(0, intPart.size() - integer.size(), '0');
  const bool zero = integer.find_first_not_of('0') == std::string::npos &&
                    fraction.find_first_not_of('0') == std::string::npos;
  std::string out = (x < 0 && !zero) ? "-" : "";
  out += integer;
  if (point != std::string_view::npos) out += "." + fraction;
  return out;
}

// --- texts ---------------------------------------------------------------

std::string Trim(std::string_view s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

std::vector<std::string> Split(std::string_view s, std::string_view delimiter) {
  std::vector<std::string> parts;
  if (s.empty()) return parts;
  if (delimiter.empty()) {
    parts.emplace_back(s);
    return parts;
  }
  std::size_t start = 0;
  for (;;) {
    const auto pos = s.find(delimiter, start);
    if (pos == std::string_view::npos) {
      parts.emplace_back(s.substr(start));
      return parts;
    }
    parts.emplace_back(s.substr(start, pos - start));
    start = pos + delimiter.size();
  }
}

std::string Replace(std::string_view s, std::string_view find, std::string_view with) {
  if (find.empty()) return std::string(s);
  std::string out;
  out.reserve(s.size());
  std::size_t start = 0;
  for (;;) {
    const auto pos = s.find(find, start);
    if (pos == std::string_view::npos) break;
    out.append(s.substr(start, pos - start)).append(with);
    start = pos + find.size();
  }
  out.append(s.substr(start));
  return out;
}

namespace {
bool SameLetter(char a, char b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return lower(a) == lower(b);
}
}  // namespace

bool ContainsNoCase(std::string_view s, std::string_view find) {
  return std::search(s.begin(), s.end(), find.begin(), find.end(), SameLetter) != s.end() || find.empty();
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), s.begin(), SameLetter);
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace vb

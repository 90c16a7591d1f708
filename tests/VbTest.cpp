#include <gtest/gtest.h>

#include "CommaLocale.h"
#include "Errors.h"

#include <clocale>
#include <cmath>

#include "core/Vb.h"

namespace {

TEST(VbNumbers, RoundAndCLngTakeHalvesToEven) {
  const struct {
    double in;
    double out;
  } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {-1.5, -2}, {-2.5, -2}, {2.4999, 2}, {2.5001, 3}, {1e6 / 400000, 2}};
  for (const auto& c : cases) {
    EXPECT_EQ(vb::Round(c.in), c.out) << c.in;
    EXPECT_EQ(vb::CLng(c.in), static_cast<vb::Long>(c.out)) << c.in;
  }
}

TEST(VbNumbers, OverflowAndDivisionErrors) {
  EXPECT_EQ(vb::CLng(2147483647.4), 2147483647);
  EXPECT_EQ(vb::CLng(-2147483648.4), -2147483647 - 1);
  for (double bad : {2147483647.5, -2147483648.6, std::nan(""), HUGE_VAL})
    EXPECT_EQ(ErrorNumberOf([&] { vb::CLng(bad); }), vb::err::Overflow) << bad;
  EXPECT_EQ(ErrorNumberOf([] { vb::AddLong(2147483647, 1); }), vb::err::Overflow);
  EXPECT_EQ(ErrorNumberOf([] { vb::SubLong(-2147483647 - 1, 1); }), vb::err::Overflow);
  EXPECT_EQ(ErrorNumberOf([] { vb::MulLong(65536, 65536); }), vb::err::Overflow);
  EXPECT_EQ(vb::MulLong(-46341, 46340), -2147441940);
  EXPECT_EQ(ErrorNumberOf([] { vb::Divide(1, 0); }), vb::err::DivisionByZero);
  EXPECT_EQ(ErrorNumberOf([] { vb::Divide(0, 0); }), vb::err::Overflow);
  EXPECT_EQ(vb::Int(-0.5), -1);  // towards minus infinity, not zero
}

TEST(VbVal, ReadsTheLeadingNumber) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"", 0},        {"abc", 0},     {"12.5,3", 12.5}, {"  -3.5", -3.5}, {"+7", 7},          {"2.5E-2x", 0.025},
      {"1e", 1},      {"1e+", 1},     {".5", 0.5},      {"1.2.3", 1.2},   {"\t\n 42", 42},    {"1 2 3", 123},
      {"- 4", -4},    {"-", 0},       {".", 0},         {"1e-400", 0},    {"9.91E37", 9.91e37}, {"\r5", 0},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(vb::Val(c.text), c.value) << '"' << c.text << '"';
  EXPECT_EQ(ErrorNumberOf([] { vb::Val("1e400"); }), vb::err::Overflow);
  const std::string digits(200, '1');  // longer than any fixed scan buffer
  EXPECT_DOUBLE_EQ(vb::Val(digits + ".5"), std::stod(digits + ".5"));
}

TEST(VbVal, TheQuickCaseAgreesWithVal) {
  for (const char* text : {"0", "-0", "-13700", "999999999999999", "12\n"}) {
    double quick = 1;
    ASSERT_TRUE(vb::ValWholeNumber(text, quick)) << text;
    EXPECT_EQ(quick, vb::Val(text)) << text;
  }
  for (const char* text : {"", "-", "1.5", "1e3", " 7", "12abc", "+3", "1234567890123456", "\n", "--1"}) {
    double quick = 0;
    EXPECT_FALSE(vb::ValWholeNumber(text, quick)) << text;
  }
}

TEST(VbFormat, PatternsOfTheSystem) {
  const struct {
    double value;
    const char* pattern;
    const char* text;
  } cases[] = {
      {10, "0.#####", "10."},           {0.1234567, "0.#####", "0.12346"}, {18e9, "0.#####", "18000000000."},
      {-31.75, "0.#####", "-31.75"},    {-0.000001, "0.#####", "0."},      {9.999996, "0.#####", "10."},
      {0.000005, "0.#####", "0.00001"}, {0.0625, "0.000", "0.063"},        {-1.5, "0.000", "-1.500"},
      {-12.3456, "0.000", "-12.346"},   {2.5, "0", "3"},                   {-2.5, "0", "-3"},
      {3, "00000", "00003"},            {123456, "00000", "123456"},       {0.00005, "0.0000", "0.0001"},
  };
  for (const auto& c : cases) EXPECT_EQ(vb::Format(c.value, c.pattern), c.text) << c.value << " " << c.pattern;
  for (const char* bad : {"#,##0", "", ".00", "0.0#0", "0x"})
    EXPECT_EQ(ErrorNumberOf([&] { vb::Format(1, bad); }), vb::err::InvalidCall) << bad;
}

TEST(VbFormat, UsesAPointWhateverTheLocale) {
  const CommaLocale comma;
  ASSERT_TRUE(comma.Ok()) << CommaLocale::kMissing;
  EXPECT_EQ(vb::Format(2.5, "0.#####"), "2.5");
  EXPECT_DOUBLE_EQ(vb::Val("2.5"), 2.5);
  EXPECT_EQ(vb::ParseNumber("2.5"), 2.5);
  EXPECT_EQ(vb::ParseNumber("2,5"), std::nullopt);
}

// A typed or stored number: the whole text, a point for the decimals.
TEST(VbParseNumber, TakesAWholeNumberAndNothingElse) {
  const struct {
    const char* text;
    std::optional<double> value;
  } cases[] = {{"3.5", 3.5},     {"-2e3", -2000},       {"+1", 1},          {".5", 0.5},
               {"0", 0},         {"3,5", std::nullopt}, {"", std::nullopt}, {"3.5 dB", std::nullopt},
               {" 3", std::nullopt}, {"++1", std::nullopt}, {"1e400", std::nullopt}, {"inf", std::nullopt},
               {"nan", std::nullopt}, {"0x10", std::nullopt}, {"-", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(vb::ParseNumber(c.text), c.value) << c.text;
}

// The texts the host shows; 5 and 91 are pinned with the driver's own errors.
TEST(VbErrors, RaiseCarriesNumberSourceAndTheStandardText) {
  const struct {
    long number;
    const char* text;
  } cases[] = {{6, "Overflow"}, {9, "Subscript out of range"}, {11, "Division by zero"}, {53, "File not found"},
               {457, "This key is already associated with an element of this collection"},
               {4011, "Application-defined or object-defined error"}};
  for (const auto& c : cases) {
    const vb::Error e = CaughtFrom([&] { vb::Raise(c.number, "src"); });
    EXPECT_EQ(e.Number(), c.number);
    EXPECT_EQ(e.Source(), "src");
    EXPECT_EQ(e.Description(), c.text);
  }
}

TEST(VbErrors, AFailedAllocationBecomesOutOfMemory) {
  try {
    throw std::bad_alloc();
  } catch (...) {
    EXPECT_EQ(vb::CurrentError().Number(), vb::err::OutOfMemory);  // other exceptions: TraceTest
  }
}

TEST(VbArray, IndexOutsideTheBoundsIsError9) {
  vb::Array<int, 1, 8> a;
  a(1) = 4;
  a(8) = 5;
  EXPECT_EQ(a(1) + a(8), 9);
  for (long bad : {0L, 9L}) EXPECT_EQ(ErrorNumberOf([&] { a(bad) = 1; }), vb::err::SubscriptOutOfRange);
}

TEST(VbTexts, SplitKeepsEmptyFieldsAndTrimTakesBlanksOnly) {
  EXPECT_TRUE(vb::Split("", ",").empty());
  EXPECT_EQ(vb::Split("1,,2,", ","), (std::vector<std::string>{"1", "", "2", ""}));
  EXPECT_EQ(vb::Trim("  a b \t "), "a b \t");
}

}  // namespace

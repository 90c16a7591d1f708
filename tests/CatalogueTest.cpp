#include <gtest/gtest.h>

#include "driver/modMain.h"

namespace {

constexpr double kNoValue = 9.9e37;
constexpr double kQueryValue = 4e10;  // what the driver passes with a query

std::string Build(long index, long kind, long port, double value = kQueryValue, const char* mode = "") {
  return modMain::BuildCommand(index, kind, port, value, mode, "", kNoValue);
}

// One or two cases per rule; the full table is exercised through the driver
// tests and the simulator, which parses every command it is sent.
TEST(Catalogue, BuildsTheCommand) {
  const struct {
    long index, kind, port;
    double value;
    const char* mode;
    const char* command;
  } cases[] = {
      {3, 0, 2, 10.5, "", ":SENS2:CORR:ATT 10.5"},        // setting: "?" -> blank, value formatted
      {3, 1, 2, kQueryValue, "", ":SENS2:CORR:ATT?"},     // query: placeholders dropped
      {6, 0, 1, 18e9, "", ":SENS1:FREQ 18000000000"},     // no exponent, no trailing point
      {10, 0, 1, 0.5, "", ":SENS1:TRIG4:SET 0.5,0.5,0"},  // the value twice
      {10, 1, 1, kQueryValue, "", ":SENS1:TRIG4:SET?,,0"},
      {0, 1, 0, kQueryValue, "", ":SENS:SAMP:TIME?"},     // port 0 leaves the digits out
      {7, 0, -1, 0, "SUM", ":SUMP:MEAS SUM"},             // -1 is the summing path
      {40, 0, -1, 0, "", "*CLS;:SUMP:BURS:INIT;*OPC"},
      {39, 0, -1, 7, "3", ":CONF:PART3 7"},               // no sensor in it: -1 only drops the digits
      {4, 0, 3, 1.5, "", ":SUMP:CORR:BFG 1.5"},           // a template without port ignores it
      {18, 0, 3, 0, "", "*CLS;:INIT:IMM;*OPC"},
      {6, 2, 1, 5, "", ":SENS1:FREQ?<Value>"},            // another kind fills in port and mode only
      {6, 0, 1, kNoValue, "", ":SENS1:FREQ "},            // the host's no-value marker sends no number
      // Auxiliary channels name their own sensor, whatever the kind.
      {9, 1, 10, 0, "", ":SENS6:MODE COMP"},
      {9, 0, 9, 0, "", ":SENS7:MODE PEAK"},
      {9, 0, 3, 0, "", ":SENS3:MODE PDET"},
      {32, 0, 9, 31.75, "", ":CONF:COMP:ATT 31.75"},
      {32, 0, 10, 2, "", ":CONF:BYP:ATT 2"},
      {32, 0, 11, 5, "", ""},                             // no attenuator 11 and up
      {32, 0, 12, 5, "", ""},
      // Unused or out-of-range indices and ports below -1 give nothing.
      {1, 0, 1, 5, "", ""}, {31, 1, 1, 5, "", ""}, {47, 0, 1, 5, "", ""}, {-1, 0, 1, 5, "", ""}, {3, 0, -2, 5, "", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Build(c.index, c.kind, c.port, c.value, c.mode), c.command) << c.index << "/" << c.kind << "/" << c.port;
}

// Every index and port: no setting keeps a "?", no query carries a value,
// no placeholder is left over.
TEST(Catalogue, NoTemplateLeaksIntoAnotherForm) {
  for (long index = 0; index < modMain::kCatalogueSize; ++index) {
    for (long port = -1; port <= 12; ++port) {
      SCOPED_TRACE("index " + std::to_string(index) + " port " + std::to_string(port));
      const std::string setting = Build(index, modMain::ckSetting, port, 1234.5, "M");
      const std::string query = Build(index, modMain::ckQuery, port, 1234.5, "M");
      EXPECT_EQ(setting.find('?'), std::string::npos) << setting;
      EXPECT_EQ(query.find("1234.5"), std::string::npos) << query;
      EXPECT_EQ((setting + query).find('<'), std::string::npos);
      if (modMain::CommandTemplate(index, port).find('?') != std::string_view::npos) {
        EXPECT_NE(query.find('?'), std::string::npos) << query;
      }
    }
  }
}

TEST(Catalogue, CommandNumbers) {
  const struct {
    double value;
    const char* text;
  } cases[] = {{10, "10"}, {0.1234567, "0.12346"}, {-0.5, "-0.5"}, {1e-7, "0"}, {0.00001, "0.00001"}};
  for (const auto& c : cases) EXPECT_EQ(modMain::FormatCommandNumber(c.value), c.text) << c.value;
  EXPECT_EQ(modMain::StripTrailingPoint(".."), ".");  // one point only
  EXPECT_EQ(modMain::StripTrailingPoint(""), "");
}

}  // namespace

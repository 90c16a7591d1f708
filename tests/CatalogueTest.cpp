#include <gtest/gtest.h>

#include "io/modMain.h"

namespace {

constexpr double kNoValue = 9.9e37;
constexpr double kQueryValue = 4e10;  // what the driver passes with a query

std::string Build(long index, long kind, long port, double value = kQueryValue, const char* mode = "") {
  return modMain::BuildCommand(index, kind, port, value, mode, "", kNoValue);
}

struct Example {
  long index, kind, port;
  double value;
  const char* mode;
  const char* command;
};

void PrintTo(const Example& e, std::ostream* os) {
  *os << "index " << e.index << " kind " << e.kind << " port " << e.port << " -> '" << e.command << "'";
}

class CatalogueExamples : public ::testing::TestWithParam<Example> {};

TEST_P(CatalogueExamples, BuildsTheCommand) {
  const Example& e = GetParam();
  EXPECT_EQ(Build(e.index, e.kind, e.port, e.value, e.mode), e.command);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, CatalogueExamples,
    ::testing::Values(
        Example{3, 0, 2, 10.5, "", ":SENS2:CORR:ATT 10.5"}, Example{3, 1, 2, kQueryValue, "", ":SENS2:CORR:ATT?"},
        Example{7, 0, -1, 0, "SUM", ":SUMP:MEAS SUM"}, Example{10, 0, 1, 0.5, "", ":SENS1:TRIG4:SET 0.5,0.5,0"},
        Example{32, 0, 9, 31.75, "", ":CONF:COMP:ATT 31.75"}, Example{39, 0, -1, 7, "3", ":CONF:PART3 7"},
        Example{39, 1, 0, kQueryValue, "3", ":CONF:PART3?"}, Example{0, 1, 0, kQueryValue, "", ":SENS:SAMP:TIME?"},
        Example{9, 0, 10, 0, "", ":SENS6:MODE COMP"}, Example{9, 1, 10, 0, "", ":SENS6:MODE COMP"},
        Example{9, 7, 10, 0, "", ":SENS6:MODE COMP"}, Example{9, 0, 9, 0, "", ":SENS7:MODE PEAK"},
        Example{9, 0, 11, 0, "", ":SENS8:MODE VID"}, Example{9, 0, 3, 0, "", ":SENS3:MODE PDET"},
        Example{9, 0, -1, 0, "", ":SUMP:MODE PDET"}, Example{32, 0, 11, 5, "", ""}, Example{32, 0, 12, 5, "", ""},
        Example{32, 1, 0, kQueryValue, "", ":CONF:PORT:ATT?"}, Example{32, 0, 10, 2, "", ":CONF:BYP:ATT 2"},
        Example{32, 0, 8, 20, "", ":CONF:PORT8:ATT 20"}, Example{4, 1, 0, kQueryValue, "", ":SUMP:CORR:BFG?"},
        Example{4, 1, -1, kQueryValue, "", ":SUMP:CORR:BFG?"}, Example{4, 0, 3, 1.5, "", ":SUMP:CORR:BFG 1.5"},
        Example{6, 2, 1, 5, "", ":SENS1:FREQ?<Value>"}, Example{2, 2, 1, 5, "", ":SENS1:BURS:SEAR?<Value><Unit>"},
        Example{6, 0, 1, 18e9, "", ":SENS1:FREQ 18000000000"}, Example{6, 0, 1, kNoValue, "", ":SENS1:FREQ "},
        Example{6, 0, 1, 1e38, "", ":SENS1:FREQ "}, Example{6, 0, 2, 0.1234567, "", ":SENS2:FREQ 0.12346"},
        Example{36, 0, 4, 10001, "", ":SENS4:SAMP:COUNT 10001"}, Example{13, 0, 5, -100, "", ":SENS5:SAMP:PREC -100"},
        Example{33, 0, 0, 0, "252", ":CONF:CLOC 252"}, Example{38, 0, 2, 0, "MAX", ":SENS2:SAMP:MODE MAX"},
        Example{44, 0, 2, 0, "ONCE", ":SENS2:SAMP:OPER ONCE"}, Example{14, 0, 0, 1, "", ":CONF:TRIG:OUTP 1"},
        Example{16, 0, 2, 0, "", ":CONF:TRIG:MEAS2 0"}, Example{18, 0, 3, 0, "", "*CLS;:INIT:IMM;*OPC"},
        Example{40, 0, -1, 0, "", "*CLS;:SUMP:BURS:INIT;*OPC"}, Example{41, 0, 6, 0, "", "*CLS;:SENS6:RMS:INIT;*OPC"},
        Example{42, 0, 0, 0, "", "*CLS;*RST;*OPC"}, Example{43, 0, 0, 0, "", ":ABORT"},
        Example{45, 1, 0, kQueryValue, "", ":SYSTEM:ERR:ALL?"}, Example{46, 1, 0, kQueryValue, "", ":SYSTEM:DEV:HFB?"},
        Example{20, 1, -1, kQueryValue, "", ":SUMP:TRAC:DATA?"}, Example{29, 1, 8, kQueryValue, "", ":SENS8:BURS:MAX?"},
        Example{1, 0, 1, 5, "", ""}, Example{8, 0, 1, 5, "", ""}, Example{31, 1, 1, 5, "", ""},
        Example{47, 0, 1, 5, "", ""}, Example{-1, 0, 1, 5, "", ""}, Example{3, 0, -2, 5, "", ""},
        Example{42, 0, -2, 0, "", ""}));

// Every index, both kinds, every port from the sum to past the auxiliary channels.
TEST(CatalogueSweep, SettingsNeverKeepAQueryMarkAndQueriesNeverKeepAValue) {
  for (long index = 0; index < modMain::kCatalogueSize; ++index) {
    for (long port = -1; port <= 12; ++port) {
      const std::string setting = Build(index, modMain::ckSetting, port, 1234.5, "M");
      const std::string query = Build(index, modMain::ckQuery, port, 1234.5, "M");
      SCOPED_TRACE("index " + std::to_string(index) + " port " + std::to_string(port));
      EXPECT_EQ(setting.find('?'), std::string::npos) << setting;
      EXPECT_EQ(query.find("1234.5"), std::string::npos) << query;
      for (const std::string* c : {&setting, &query}) {
        EXPECT_EQ(c->find('<'), std::string::npos) << *c;
        if (port != 0) {
          EXPECT_EQ(c->find(":SENS:"), std::string::npos) << *c;  // digits left out only for port 0
        }
      }
      // A setting that carries a value carries it formatted, once per <Value>.
      const std::string_view tmpl = modMain::CommandTemplate(index, port);
      if (tmpl.find("<Value>") != std::string_view::npos && !setting.empty()) {
        EXPECT_NE(setting.find("1234.5"), std::string::npos) << setting;
      }
      if (port >= 1 && port <= 8 && tmpl.find(":SENS<Port>:") != std::string_view::npos) {
        EXPECT_NE(setting.find(":SENS" + std::to_string(port) + ":"), std::string::npos) << setting;
      }
      if (port == -1 && tmpl.find(":SENS<Port>:") != std::string_view::npos) {
        EXPECT_NE(setting.find(":SUMP:"), std::string::npos) << setting;
      }
    }
  }
}

TEST(CatalogueSweep, QueriesKeepTheirQueryMark) {
  for (long index = 0; index < modMain::kCatalogueSize; ++index) {
    for (long port : {-1L, 0L, 1L, 8L}) {
      if (modMain::CommandTemplate(index, port).find('?') == std::string_view::npos) continue;
      EXPECT_NE(Build(index, modMain::ckQuery, port).find('?'), std::string::npos) << index << " " << port;
    }
  }
  // The external trigger's query keeps the separators of its two values.
  EXPECT_EQ(Build(modMain::cmdExtTrigger, modMain::ckQuery, 1), ":SENS1:TRIG4:SET?,,0");
}

TEST(CommandNumbers, FormatAndStripTrailingPoint) {
  const struct {
    double value;
    const char* text;
  } cases[] = {{10, "10"}, {2.5, "2.5"}, {0.1234567, "0.12346"}, {18e9, "18000000000"}, {-0.5, "-0.5"},
               {31.75, "31.75"}, {84e6, "84000000"}, {0, "0"}, {1e-7, "0"}, {0.00001, "0.00001"}};
  for (const auto& c : cases) EXPECT_EQ(modMain::FormatCommandNumber(c.value), c.text) << c.value;
  EXPECT_EQ(modMain::StripTrailingPoint("10."), "10");
  EXPECT_EQ(modMain::StripTrailingPoint("1.5"), "1.5");
  EXPECT_EQ(modMain::StripTrailingPoint(""), "");
  EXPECT_EQ(modMain::StripTrailingPoint(".."), ".");
}

}  // namespace

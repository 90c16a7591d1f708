// Against a real unit, only when one is configured:
//   QUORVEL_TEST_ADDRESS=TCPIP::192.0.2.10::inst0::INSTR ctest -R RealUnit
#include <gtest/gtest.h>

#include <cstdlib>

#include "Probe.h"
#include "visa/Network.h"

namespace {

TEST(RealUnit, IdentifiesSetsAndMeasures) {
  const char* address = std::getenv("QUORVEL_TEST_ADDRESS");
  if (!address || !*address) GTEST_SKIP() << "no unit configured (QUORVEL_TEST_ADDRESS)";
  DriverFixture fx(visa::MakeNetworkVisa);
  fx.AddDevice("Real").address = address;
  fx.unit->clsDevice_Name("Real");
  fx.unit->clsDevice_Status(1);
  ASSERT_EQ(fx.unit->clsDevice_Status(), 1) << "no unit answered at " << address;
  EXPECT_FALSE(fx.unit->clsDevice_Info().SerialNumber.empty());
  fx.unit->SetFrequency(2.4e9, 1, true);
  EXPECT_EQ(fx.unit->GetFrequency(1, true), 2.4e9);
  fx.unit->MeasurementInit(1);
  const double rms = fx.unit->GetRMS(1);
  EXPECT_LT(rms, 30);
  EXPECT_GT(rms, -150);
  EXPECT_EQ(fx.unit->GetErrorStatus() & (esTIMEOUT | esABORT), 0);
}

}  // namespace

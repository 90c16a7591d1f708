// Part data, board value and the path and attenuator numbering.
#include <gtest/gtest.h>

#include "Probe.h"

namespace {

TEST(PartData, SetAndGetReachTheUnitOnlyWhenConnected) {
  ConnectedDriver fx;
  fx.visa->Expect(":CONF:PART3 7").Expect(":CONF:PART3?", {"7\n"}).Expect(":CONF:PART12?", {"3e9\n"});
  fx.unit->SetPart(3, 7);
  EXPECT_EQ(fx.unit->GetPart(3), 7);
  EXPECT_EQ(fx.unit->GetPart(12), 2147483647);  // clamped
  EXPECT_EQ(fx.visa->Problems(), "");

  ConnectedDriver sim(false);
  sim.unit->SetPart(1, 1);
  EXPECT_EQ(sim.unit->GetPart(1), 0);
  EXPECT_EQ(sim.unit->GetTAZ(), 0);
  EXPECT_TRUE(sim.visa->Writes().empty());
}

TEST(PartData, GetTAZReadsHundredthsFromTheNextToLastField) {
  const std::pair<const char*, double> cases[] = {{"1,2,2512,4\n", 25.12}, {"2512\n", 0}, {"x, 1234 ,y\n", 12.34}, {"7,\n", 0.07}};
  for (const auto& [answer, taz] : cases) {
    ConnectedDriver fx;
    fx.visa->Expect(":SYSTEM:DEV:HFB?", {answer});
    EXPECT_DOUBLE_EQ(fx.unit->GetTAZ(), taz) << answer;
  }
}

TEST(PathNumbers, AttenuatorSteps) {
  // 10 dB steps on paths 2-7, 1 dB steps on 9, 11, 13-15, 23, 24; halves round to even.
  const struct {
    vb::Long path;
    double att;
    vb::Long step;
  } cases[] = {{1, 77, 1},   {16, 0, 1},  {17, 30, 1}, {7, 0, 1},  {3, 20, 3}, {2, 25, 3}, {2, 35, 5},
               {9, 2.5, 3},  {9, 3.5, 5}, {24, 10, 11}, {13, 0, 1}, {8, 10, 0}, {10, 5, 0}, {18, 1, 0},
               {22, 1, 0},   {25, 1, 0},  {0, 1, 0}};
  for (const auto& c : cases) EXPECT_EQ(clsQuorvelUnit::GetAttNr(c.path, c.att), c.step) << c.path << " " << c.att;
}

TEST(PathNumbers, FromPathProperties) {
  const struct {
    AttTableProp prop;  // from, to, sum, rx18, bypass
    vb::Long path;
  } cases[] = {
      {{pDUT1, pReceiver, true, true}, 1},          {{pDUT2, pReceiver, true}, 3},
      {{pDUT2, pReceiver}, 2},                      {{pDUT3, pGenerator, true}, 5},
      {{pDUT3, pGenerator}, 4},                     {{pDUT8, pVectorGenerator, true}, 7},
      {{pDUT8, pVectorGenerator}, 6},               {{pDUT4, pCompanion, true}, 15},
      {{pDUT5, pCompanion, true}, 14},              {{pDUT4, pCompanion}, 14},
      {{pCompanion, pGenerator, false, false, true}, 9},
      {{pCompanion, pVectorGenerator, false, false, true}, 11},
      {{pCompanion, pReceiver, false, false, true}, 13},
      {{pCompanion, pReceiver}, 0},                 {{pGenerator, pAntenna}, 16},
      {{pVectorGenerator, pAntenna}, 16},           {{pDUT1, pAntenna}, 0},
      {{pReceiver, pDUT1}, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(clsQuorvelUnit::GetPathNr(c.prop), c.path) << c.prop.FromPort << "->" << c.prop.ToPort;
}

TEST(PathNumbers, RoundAttenuatorStep) {
  const struct {
    QuorvelPort to;
    bool rx18;
    vb::Long in, out;
  } cases[] = {{pReceiver, false, 57, 50}, {pReceiver, true, 57, 0},   {pGenerator, false, 57, 57},
               {pReceiver, false, -5, -10}, {pReceiver, true, 150, 100}, {pCompanion, true, 3, 3}};
  for (const auto& c : cases) {
    AttTableProp p{pDUT1, c.to, false, c.rx18, false, c.in};
    clsQuorvelUnitProbe::RoundAttenuatorStep(p);
    EXPECT_EQ(p.Attenuator, c.out) << c.in;
  }
}

}  // namespace

// The one burst search the service form and the tool share: its steps in
// order, where each way out leaves it, and what reached the unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "SimFixture.h"
#include "driver/BurstSearch.h"

namespace {

using S = BurstSearchStep;

const std::vector<S> kAllSteps = {S::ClearPorts, S::ChoosePorts,       S::SendSettings, S::MeasurementInit,
                                  S::Measuring,  S::SearchInit,        S::Count,        S::DutyCycle,
                                  S::MediumUtilization, S::TraceMax,   S::TraceMin,     S::Rms,
                                  S::StartTimes, S::OnTimes,           S::Levels,       S::Strongest};

std::vector<S> Upto(S last) {
  const auto end = std::find(kAllSteps.begin(), kAllSteps.end(), last);
  return std::vector<S>(kAllSteps.begin(), end + 1);
}

bool Sent(const std::vector<std::string>& log, const std::string& command) {
  return std::any_of(log.begin(), log.end(), [&](const std::string& c) { return c.find(command) != std::string::npos; });
}

TEST(BurstSearch, StepsInOrderAndEveryWayOut) {
  enum class Exit { None, RefuseValues, UnitRefuses, CancelWhileMeasuring, CancelAfterCount };
  const struct {
    const char* name;
    vb::Long channel;
    std::vector<vb::Long> ports;
    Exit exit;
    std::vector<S> ran;  // the steps run, in order (Measuring is a wait, not a call)
    bool refused, cancelled;
    const char* lastSent;     // the last command that must reach the unit
    const char* neverSent;    // one that must not
  } cases[] = {
      {"a sum to the end", ppSum, {2, 3}, Exit::None, kAllSteps, false, false, ":SUMP:BURS:MAX?", ""},
      {"one port to the end", ppDUT4, {4}, Exit::None, kAllSteps, false, false, ":SENS4:BURS:MAX?", ":SUMP:BURS"},
      {"no port chosen", 0, {}, Exit::None, {S::ClearPorts}, false, false, "", ":INIT:IMM"},
      {"values refused before sending", ppGenerator, {ppGenerator}, Exit::RefuseValues, Upto(S::SendSettings), true,
       false, ":SENS7:MODE PEAK", ":FREQ"},
      {"the unit refuses the settings", ppDUT1, {1}, Exit::UnitRefuses, Upto(S::SendSettings), true, false, ":FREQ",
       ":INIT:IMM"},
      {"cancelled while measuring", ppDUT1, {1}, Exit::CancelWhileMeasuring, Upto(S::MeasurementInit), false, true,
       ":INIT:IMM", ":BURS:INIT"},
      {"cancelled after the count", ppDUT1, {1}, Exit::CancelAfterCount, Upto(S::Count), false, true,
       ":SENS1:BURS:COUN?", ":DCYC?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedUnit fx;
    BurstSearchPlan plan{c.channel, c.ports, 2.4e9, 0.001, 1000000, 20};
    std::vector<S> ran, after;
    int waits = 0;
    BurstSearchHooks hooks;
    hooks.run = [&](S step, const std::function<void()>& call) {
      ran.push_back(step);
      call();
    };
    hooks.beforeSend = [&] { return c.exit != Exit::RefuseValues; };
    hooks.wait = [&] { return ++waits, c.exit != Exit::CancelWhileMeasuring; };
    hooks.after = [&](S step, const BurstSearchResult&) {
      after.push_back(step);
      if (step == S::SendSettings) return c.exit != Exit::UnitRefuses;
      return !(step == S::Count && c.exit == Exit::CancelAfterCount);
    };
    BurstSearchResult r;
    RunBurstSearch(*fx.unit, plan, hooks, r);
    std::vector<S> ranCalls = c.ran;
    ranCalls.erase(std::remove(ranCalls.begin(), ranCalls.end(), S::Measuring), ranCalls.end());
    EXPECT_EQ(ran, ranCalls);
    // Each step but the choice of ports is seen after it ran; values refused
    // before sending leave nothing to see.
    std::vector<S> seen;
    for (S step : c.ran)
      if (step != S::ClearPorts && step != S::ChoosePorts && c.exit != Exit::RefuseValues) seen.push_back(step);
    EXPECT_EQ(after, seen);
    EXPECT_EQ(r.refused, c.refused);
    EXPECT_EQ(r.cancelled, c.cancelled);
    const auto log = fx.model->commandLog();
    if (*c.lastSent) {
      EXPECT_TRUE(Sent(log, c.lastSent)) << "not sent: " << c.lastSent;
    }
    if (*c.neverSent) {
      EXPECT_FALSE(Sent(log, c.neverSent)) << "sent: " << c.neverSent;
    }
    if (c.exit == Exit::None && c.channel != 0) {
      EXPECT_GE(waits, 1);
      EXPECT_TRUE(r.Listed());
      EXPECT_EQ(r.start.size(), static_cast<std::size_t>(r.count));
    }
  }
}

// Every sensor gets the plan's settings, whatever it held; a sum is chosen
// before the settings go out; what each result left in the error status is
// kept; the measuring time is reported while it passes.
TEST(BurstSearch, SetsEverySensorKeepsTheStatusAndReportsTheMeasuringTime) {
  SimulatedUnit fx;
  clsQuorvelUnit& u = *fx.unit;
  u.SetSampleRate(2000000, 0, false);
  u.SetFrequency(1e9, 0, false);
  u.SetMeasTime(0.004, 0, false);
  u.SetExtTrigger(true, 0, false);
  u.SetTriggerOffset(0.001, 0, false);
  u.SetBurstSearchLevel(30, 0, false);
  fx.model->faults().garbageFor = ":SUMP:DCYC?";
  const BurstSearchPlan plan{ppSum, {2, 3}, 2.4e9, 0.002, 1000000, 20};
  std::vector<double> elapsed;
  BurstSearchHooks hooks;
  hooks.measuring = [&](double seconds) { elapsed.push_back(seconds); };
  BurstSearchResult r;
  RunBurstSearch(u, plan, hooks, r);
  for (vb::Long s = 1; s <= 8; ++s) {
    SCOPED_TRACE(s);
    const PortSettings& p = u.StoredPortSettings(s);
    EXPECT_EQ(p.Frequency, 2.4e9);
    EXPECT_EQ(p.MeasTime, 0.002);
    EXPECT_EQ(p.SampleRate, 1000000);
    EXPECT_FALSE(p.ExtTrigger);
    EXPECT_EQ(p.TriggerOffset, 0);
    EXPECT_EQ(p.BurstSearchLevel, 20);
  }
  const auto log = fx.model->commandLog();
  const auto idn = std::find(log.begin(), log.end(), "*IDN?");
  ASSERT_NE(idn, log.end());
  ASSERT_GT(log.end() - idn, 3);
  EXPECT_EQ(std::vector<std::string>(idn + 1, idn + 4), (std::vector<std::string>{":SENS1:MEAS OFF", ":SENS2:MEAS SUM", ":SENS3:MEAS SUM"}));
  EXPECT_EQ(r.errorStatus & esOVERFLOW, esOVERFLOW);  // the garbage duty cycle
  EXPECT_EQ(r.dutyCycle, 999);
  ASSERT_FALSE(elapsed.empty());
  EXPECT_GE(elapsed.back(), plan.measTime);
  EXPECT_TRUE(std::is_sorted(elapsed.begin(), elapsed.end()));
}

// Cancelled once the measuring time is over; the count's status kept; the
// search and RMS times are those of their own steps.
TEST(BurstSearch, CancelAfterMeasuringTheCountsStatusAndTheStepTimes) {
  {
    SimulatedUnit fx;
    BurstSearchHooks hooks;
    hooks.after = [](S step, const BurstSearchResult&) { return step != S::Measuring; };
    BurstSearchResult r;
    RunBurstSearch(*fx.unit, {ppDUT1, {1}, 2.4e9, 0.001, 1000000, 20}, hooks, r);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.count, 0);
  }
  {  // cancelled right after the count: its status is the result's all the same
    SimulatedUnit fx;
    fx.model->faults().garbageFor = ":SENS1:BURS:COUN?";
    BurstSearchHooks hooks;
    hooks.after = [](S step, const BurstSearchResult&) { return step != S::Count; };
    BurstSearchResult r;
    RunBurstSearch(*fx.unit, {ppDUT1, {1}, 2.4e9, 0.001, 1000000, 20}, hooks, r);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.errorStatus & esOVERFLOW, esOVERFLOW);
  }
  SimulatedUnit fx;
  fx.model->faults().garbageFor = ":SENS1:BURS:COUN?";
  using Clock = std::chrono::steady_clock;
  double searchAndCount = 0, rms = 0;
  Clock::time_point searchStart{};
  BurstSearchHooks hooks;
  hooks.run = [&](S step, const std::function<void()>& call) {
    const auto t0 = Clock::now();
    if (step == S::SearchInit) searchStart = t0;
    call();
    const auto t1 = Clock::now();
    if (step == S::Count) searchAndCount = std::chrono::duration<double>(t1 - searchStart).count();
    if (step == S::Rms) rms = std::chrono::duration<double>(t1 - t0).count();
  };
  BurstSearchResult r;
  RunBurstSearch(*fx.unit, {ppDUT1, {1}, 2.4e9, 0.001, 1000000, 20}, hooks, r);
  EXPECT_EQ(r.errorStatus & esOVERFLOW, esOVERFLOW);  // the garbage count
  EXPECT_GT(r.searchSeconds, 0);
  EXPECT_LE(r.searchSeconds, searchAndCount + 0.001);
  EXPECT_GT(r.rmsSeconds, 0);
  EXPECT_LT(r.rmsSeconds, rms + searchAndCount / 2);  // counted from the RMS step, not from the search
}

}  // namespace

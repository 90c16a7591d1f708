// Result retrieval: traces, levels, burst lists and the video calibration levels.
#include "driver/Limits.h"
#include "driver/clsQuorvelUnit.h"
#include "driver/modMain.h"

using modMain::ckQuery;
using modMain::ckSetting;

namespace {
constexpr vb::Long kVideoSensor = 8;
constexpr double kTraceWait = 0.05;  // s before a trace is read
constexpr double kBurstWait = 0.1;   // s before a burst list is read
}  // namespace

double clsQuorvelUnit::ValueQuery(std::string_view name, vb::Long index, vb::Long sensor) {
  return Traced(name, [&](io::ErrorFrame& f) {
    return f.Step([&] { return RequestCmdValue(BuildCmd(index, ckQuery, sensor)); });
  });
}

vb::Long clsQuorvelUnit::ListQuery(std::string_view name, vb::Long index, vb::Long port, std::vector<double>& values,
                                   double waitTime, double divisor) {
  return Traced(name, [&](io::ErrorFrame& f) {
    f.Step([&] { RequestCmdValueList(BuildCmd(index, ckQuery, ChannelToSensor(port)), values, waitTime, divisor); });
    return vb::Long{0};
  });
}

vb::Long clsQuorvelUnit::GetTrace(vb::Long port, std::vector<double>& values) {
  // The unit sends hundredths of its level scale.
  return ListQuery("GetTrace", modMain::cmdTraceData, port, values, kTraceWait, 100);
}

vb::Long clsQuorvelUnit::GetBurstStartTime(vb::Long port, std::vector<double>& values) {
  return ListQuery("GetBurstStartTime", modMain::cmdBurstStartTime, port, values, kBurstWait, 1);
}

vb::Long clsQuorvelUnit::GetBurstOnTime(vb::Long port, std::vector<double>& values) {
  return ListQuery("GetBurstOnTime", modMain::cmdBurstOnTime, port, values, kBurstWait, 1);
}

vb::Long clsQuorvelUnit::GetBurstLevel(vb::Long port, std::vector<double>& values) {
  return ListQuery("GetBurstLevel", modMain::cmdBurstLevel, port, values, kBurstWait, 1);
}

double clsQuorvelUnit::GetTraceMin(vb::Long port) {
  return ValueQuery("GetTraceMin", modMain::cmdTraceMin, ChannelToSensor(port));
}

double clsQuorvelUnit::GetTraceMax(vb::Long port) {
  return ValueQuery("GetTraceMax", modMain::cmdTraceMax, ChannelToSensor(port));
}

double clsQuorvelUnit::GetMediumUtilization(vb::Long port) {
  return ValueQuery("GetMediumUtilization", modMain::cmdMediumUtilization, ChannelToSensor(port));
}

double clsQuorvelUnit::GetDutyCycle(vb::Long port) {
  return ValueQuery("GetDutyCycle", modMain::cmdDutyCycle, ChannelToSensor(port));
}

double clsQuorvelUnit::GetCalMinVideoLevel() { return ValueQuery("GetCalMinVideoLevel", modMain::cmdVideoMin, kVideoSensor); }

double clsQuorvelUnit::GetCalMaxVideoLevel() { return ValueQuery("GetCalMaxVideoLevel", modMain::cmdVideoMax, kVideoSensor); }

double clsQuorvelUnit::GetRMS(vb::Long port) {
  return Traced("GetRMS", [&](io::ErrorFrame& f) {
    m_Link.ExpectOperation(MeasuringSeconds());
    f.Step([&] { WriteCmd(BuildCmd(modMain::cmdRmsInit, ckSetting, ChannelToSensor(port))); });
    // The query waits for the RMS measurement to complete.
    return f.Step([&] { return RequestCmdValue(BuildCmd(modMain::cmdRms, ckQuery, ChannelToSensor(port))); });
  });
}

vb::Long clsQuorvelUnit::GetBurstCount(vb::Long port) {
  return Traced("GetBurstCount", [&](io::ErrorFrame& f) {
    const double v =
        f.Step([&] { return RequestCmdValue(BuildCmd(modMain::cmdBurstCount, ckQuery, ChannelToSensor(port))); });
    if (v > zentrix8::kMaxSamples) {
      m_Link.AddErrorStatus(esOVERFLOW);  // more bursts than the count can report
      return vb::Long{zentrix8::kMaxSamples + 1};
    }
    return f.Step([&] { return vb::CLng(v); });
  });
}

vb::Long clsQuorvelUnit::GetBurstMaxLevelIndex(vb::Long port) {
  return Traced("GetBurstMaxLevelIndex", [&](io::ErrorFrame& f) {
    return ClampToLong(f.Step(
        [&] { return RequestCmdValue(BuildCmd(modMain::cmdBurstMaxLevelIndex, ckQuery, ChannelToSensor(port))); }));
  });
}

void clsQuorvelUnit::SetCalMinVideoLevel(double level) {
  Traced("SetCalMinVideoLevel", [&](io::ErrorFrame& f) {
    f.Step([&] { WriteCmd(BuildCmd(modMain::cmdVideoMin, ckSetting, kVideoSensor, level)); });
  });
}

void clsQuorvelUnit::SetCalMaxVideoLevel(double level) {
  Traced("SetCalMaxVideoLevel", [&](io::ErrorFrame& f) {
    f.Step([&] { WriteCmd(BuildCmd(modMain::cmdVideoMax, ckSetting, kVideoSensor, level)); });
  });
}

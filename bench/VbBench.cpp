// Speed of the number reading and writing every answer and command goes through.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/Vb.h"
#include "driver/modMain.h"

namespace {

void BM_ValTraceValue(benchmark::State& state) {
  const std::vector<std::string> fields = {"1234", "-567", "-13700", "0", "25", "-4512", "999999", "12.5"};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vb::Val(fields[i++ & 7]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ValTraceValue);

void BM_BuildSettingCommand(benchmark::State& state) {
  double v = 2.4e9;
  for (auto _ : state) {
    benchmark::DoNotOptimize(modMain::BuildCommand(modMain::cmdFrequency, modMain::ckSetting, 3, v, "", "", 9.9e37));
    v += 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildSettingCommand);

}  // namespace

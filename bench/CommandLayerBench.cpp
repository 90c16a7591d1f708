// The SCPI link reading answers served by the scripted double, with a
// host whose pause returns at once: what the driver itself costs per value.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "LinkOnResource.h"
#include "testsupport/ScriptedVisa.h"

namespace {

// The scripted double serves the answers.
struct Bench {
  std::shared_ptr<visa::ScriptedVisa> visa = visa::ScriptedVisa::Create();
  visa::VisaRegistration registration = visa->Install("BENCH::");
  LinkOnResource on{"BENCH::1"};
  io::ScpiLink& layer = on.link;
};

std::string TraceAnswer(int count) {
  std::string answer;
  answer.reserve(static_cast<std::size_t>(count) * 7);
  for (int i = 0; i < count; ++i) {
    if (i) answer += ',';
    answer += std::to_string((i % 2 ? -1 : 1) * (1234 + (i * 37) % 9000));
  }
  return answer + "\n";
}

void BM_RequestCmdValueList200k(benchmark::State& state) {
  Bench b;
  const std::string answer = TraceAnswer(200000);
  std::vector<double> values;
  for (auto _ : state) {
    state.PauseTiming();
    b.visa->Expect(":SENS1:TRAC:DATA?", {answer});
    state.ResumeTiming();
    b.layer.RequestCmdValueList(":SENS1:TRAC:DATA?", values, 0.1, 100);
    benchmark::DoNotOptimize(values.data());
  }
  if (values.size() != 200000 || b.layer.ErrorStatus() != 0) state.SkipWithError("the list was not read whole");
  state.SetItemsProcessed(state.iterations() * 200000);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(answer.size()));
}
BENCHMARK(BM_RequestCmdValueList200k)->Unit(benchmark::kMillisecond);

void BM_RequestCmdValue(benchmark::State& state) {
  Bench b;
  double sum = 0;
  for (auto _ : state) {
    state.PauseTiming();
    b.visa->Expect(":SENS1:RMS?", {"-12.345\n"});
    state.ResumeTiming();
    sum += b.layer.RequestCmdValue(":SENS1:RMS?");
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RequestCmdValue);

// The list parse alone, against a plain strtod loop over the same answer.
void BM_ParseValueList(benchmark::State& state) {
  const std::string answer = TraceAnswer(static_cast<int>(state.range(0)));
  std::vector<double> values;
  for (auto _ : state) {
    io::ParseValueList(answer, values, 100);
    benchmark::DoNotOptimize(values.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(answer.size()));
}
BENCHMARK(BM_ParseValueList)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_StrtodList(benchmark::State& state) {
  const std::string answer = TraceAnswer(static_cast<int>(state.range(0)));
  std::vector<double> values(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const char* p = answer.c_str();
    for (double& v : values) {
      char* end = nullptr;
      v = std::strtod(p, &end) / 100;
      p = end + 1;
    }
    benchmark::DoNotOptimize(values.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(answer.size()));
}
BENCHMARK(BM_StrtodList)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace

// The command layer reading answers served by the scripted double, with a
// host whose pause returns at once: what the driver itself costs per value.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "driver/clsQuorvelUnit.h"
#include "host/RecordingHost.h"
#include "io/CommandLayer.h"
#include "platform/Headless.h"
#include "visa/ScriptedVisa.h"

namespace {

// The command layer alone, on fields of its own, connected to the double.
struct Bench {
  vb::Long status = 1, interfaceCode = 60, errStatus = 0, sysErr = 0, logOption = 0;
  bool done = true, pending = false, abort = false;
  std::unique_ptr<io::frmVISA> form = std::make_unique<io::frmVISA>();
  std::shared_ptr<host::RecordingHost> host = host::RecordingHost::Create();
  host::Services services = host->services();
  platform::HeadlessPlatform plat;
  platform::Services platformServices = plat.services();
  std::shared_ptr<visa::ScriptedVisa> visa = visa::ScriptedVisa::Create();
  io::VisaRegistration registration = visa->Install("BENCH::");
  io::CommandLayer layer{{status, interfaceCode, done, pending, abort, errStatus, sysErr, logOption, form},
                         services, platformServices, "clsQuorvelUnit"};
  Bench() {
    host->traceEnabled = false;
    form->cwVisa1.SetResourceName("BENCH::1");
    form->cwVisa1.Open();
  }
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
  if (values.size() != 200000 || b.errStatus != 0) state.SkipWithError("the list was not read whole");
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

}  // namespace

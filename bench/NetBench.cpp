// Network figures of the driver against one zentrix8-sim, one phase per
// process (so one phase's memory does not flatter the next):
//
//   quorvel_netbench HOST SOCKETPORT query  socket|vxi11          median us per query
//   quorvel_netbench HOST SOCKETPORT list   socket|vxi11 VALUES   median ms per list read
//   quorvel_netbench HOST SOCKETPORT upload socket|vxi11 [COUNT]  MiB/s of a 16 MiB firmware upload
//
// Prints "name value unit" lines; bench/network.sh runs the phases and the
// floor and prints the ratios.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "LinkOnResource.h"
#include "driver/clsQuorvelUnit.h"
#include "platform/Headless.h"
#include "testsupport/RecordingHost.h"
#include "visa/Network.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Print(const std::string& name, double value, const char* unit) { std::printf("%s %.4f %s\n", name.c_str(), value, unit); }

// Page faults of this process so far (minor: memory touched for the first time).
long Faults() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::cerr << "usage: quorvel_netbench HOST SOCKETPORT query|list|upload socket|vxi11 [VALUES|COUNT]\n";
    return 2;
  }
  const visa::VisaRegistration transports = visa::RegisterNetworkTransports();
  const std::string host = argv[1], phase = argv[3], transport = argv[4];
  const std::string resource =
      transport == "socket" ? "TCPIP::" + host + "::" + argv[2] + "::SOCKET" : "TCPIP::" + host + "::inst0::INSTR";
  const std::string name = transport + "_" + phase;

  if (phase == "query") {
    LinkOnResource l(resource);
    std::vector<double> t;
    for (int i = 0; i < 2000; ++i) {
      const auto s = Clock::now();
      l.link.RequestCmd(":SENS1:FREQ?");
      t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - s).count());
    }
    Print(name, Median(t), "us");
    return 0;
  }
  if (phase == "list") {
    const long values = argc > 5 ? std::stol(argv[5]) : 200000;
    LinkOnResource l(resource);
    const std::string query = ":SYST:TEST:LIST? " + std::to_string(values);
    std::vector<double> list, t;
    const int rounds = values >= 1000000 ? 7 : values >= 100000 ? 15 : 41;
    l.link.RequestCmdValueList(query, list, -0.02, 100);  // warm: the buffers as they stay
    const long faults = Faults();
    for (int i = 0; i < rounds; ++i) {
      const auto s = Clock::now();
      // A wait time of -0.02 s leaves out the driver's fixed pause before the read.
      l.link.RequestCmdValueList(query, list, -0.02, 100);
      t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - s).count());
    }
    if (static_cast<long>(list.size()) != values) std::cerr << name << ": " << list.size() << " values came back\n";
    Print(name + "_" + std::to_string(values), Median(t), "ms");
    Print(name + "_" + std::to_string(values) + "_faults", double(Faults() - faults) / rounds, "per-list");
    return 0;
  }
  if (phase == "upload") {
    const int count = argc > 5 ? std::stoi(argv[5]) : 5;
    const std::string file = "/tmp/quorvel-netbench-" + std::to_string(::getpid()) + ".fw";
    const std::size_t size = 16u << 20;
    {
      std::ofstream out(file, std::ios::binary);
      const std::string len = std::to_string(size - 26);
      out << "SYSTEM:FWUPDATE #" << len.size() << len << std::string(size - 17 - 1 - len.size(), 'f');
    }
    std::vector<double> rates;
    for (int i = 0; i < count; ++i) {
      auto h = host::RecordingHost::Create();
      h->traceEnabled = false;
      h->devices["Z"].address = resource;
      platform::HeadlessPlatform plat;
      clsQuorvelUnit unit(h->services(), plat.services());
      unit.clsDevice_Name("Z");
      unit.clsDevice_Status(1);
      unit.clsDevice_ShowDeviceDialog(4, nullptr, "");
      const auto s = Clock::now();
      const int result = unit.Transfer_FirmwareFile(file);
      unit.GetFrequency(1, true);  // the unit restarts: the read waits out what is in flight
      rates.push_back(size / 1048576.0 / std::chrono::duration<double>(Clock::now() - s).count());
      if (result != 1) std::cerr << name << ": the upload returned " << result << "\n";
    }
    std::remove(file.c_str());
    Print(name, Median(rates), "MiB/s");
    return 0;
  }
  std::cerr << "unknown phase " << phase << "\n";
  return 2;
}

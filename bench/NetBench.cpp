// The driver's link on the network, one phase per process (so one phase's
// memory does not flatter the next):
//
//   quorvel_netbench query RESOURCE TEXT [N]     median us of N queries (default 2000)
//   quorvel_netbench list RESOURCE TEXT VALUES   median ms of a list read with its parse
//   quorvel_netbench upload RESOURCE [COUNT]     median MiB/s of a 16 MiB firmware upload
//
// Prints the figure alone; bench/network.sh runs the phases against the C
// floor's server and zentrix8-sim, pinned to CPUs, and prints the ratios.
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

void Print(double value) { std::printf("%.4f\n", value); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: quorvel_netbench query RESOURCE TEXT [N] | list RESOURCE TEXT VALUES | upload RESOURCE [COUNT]\n";
    return 2;
  }
  const visa::VisaRegistration transports = visa::RegisterNetworkTransports();
  const std::string phase = argv[1], resource = argv[2];

  if (phase == "query" && argc >= 4) {
    LinkOnResource l(resource);
    const int n = argc > 4 ? std::stoi(argv[4]) : 2000;
    std::vector<double> t;
    for (int i = 0; i < n; ++i) {
      const auto s = Clock::now();
      l.link.RequestCmd(argv[3]);
      t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - s).count());
    }
    Print(Median(t));
    return 0;
  }
  if (phase == "list" && argc >= 5) {
    const long values = std::stol(argv[4]);
    LinkOnResource l(resource);
    std::vector<double> list, t;
    const int rounds = values >= 1000000 ? 7 : values >= 100000 ? 15 : 41;
    l.link.RequestCmdValueList(argv[3], list, -0.02, 100);  // warm: the buffers as they stay
    for (int i = 0; i < rounds; ++i) {
      const auto s = Clock::now();
      // A wait time of -0.02 s leaves out the driver's fixed pause before the read.
      l.link.RequestCmdValueList(argv[3], list, -0.02, 100);
      t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - s).count());
    }
    if (static_cast<long>(list.size()) != values) {
      std::cerr << "list: " << list.size() << " values came back, not " << values << "\n";
      return 1;
    }
    Print(Median(t));
    return 0;
  }
  if (phase == "upload") {
    const int count = argc > 3 ? std::stoi(argv[3]) : 5;
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
      if (result != 1) std::cerr << "the upload returned " << result << "\n";
    }
    std::remove(file.c_str());
    Print(Median(rates));
    return 0;
  }
  std::cerr << "unknown phase " << phase << "\n";
  return 2;
}

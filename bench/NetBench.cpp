// Network figures, measured in one run against one zentrix8-sim: the driver
// over a raw socket and over VXI-11 against the floor (a plain TCP client
// doing the same write and read to the line feed), for small queries, a
// 200 000-value trace and a 16 MiB firmware upload.  Prints one line per
// figure: "name value unit".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "driver/clsQuorvelUnit.h"
#include "testsupport/RecordingHost.h"
#include "platform/Headless.h"
#include "visa/Network.h"
#include "net/Tcp.h"
#include "LinkOnResource.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Print(const std::string& name, double value, const char* unit) { std::printf("%s %.3f %s\n", name.c_str(), value, unit); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: quorvel_netbench HOST SOCKETPORT [VXI11RESOURCE]\n";
    return 2;
  }
  const platform::VisaRegistration transports = visa::RegisterNetworkTransports();
  const std::string host = argv[1];
  const std::uint16_t port = static_cast<std::uint16_t>(std::stoi(argv[2]));
  const std::string socketResource = "TCPIP::" + host + "::" + argv[2] + "::SOCKET";
  const std::string vxiResource = argc > 3 ? argv[3] : "TCPIP::" + host + "::inst0::INSTR";
  const int queries = 2000;

  // The floor: a plain TCP client, write and read to the line feed.
  {
    net::TcpConnection c;
    if (!c.Connect(host, port, net::Millis(2000))) {
      std::cerr << c.Error() << "\n";
      return 1;
    }
    std::vector<double> t;
    std::string in;
    for (int i = 0; i < queries; ++i) {
      const auto s = Clock::now();
      c.SendAll(":SENS1:FREQ?\n", net::Millis(2000));
      in.clear();
      while (in.find('\n') == std::string::npos) c.ReceiveSome(in, 1 << 16, net::Millis(2000));
      t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - s).count());
    }
    Print("floor_query", Median(t), "us");
    c.SendAll(":SENS1:SAMP:COUNT 200000\n*CLS;:INIT:IMM;*OPC\n*ESR?\n", net::Millis(2000));
    in.clear();
    while (in.find('\n') == std::string::npos) c.ReceiveSome(in, 1 << 16, net::Millis(2000));
    std::vector<double> tt;
    for (int i = 0; i < 20; ++i) {
      const auto s = Clock::now();
      c.SendAll(":SENS1:TRAC:DATA?\n", net::Millis(2000));
      in.clear();
      while (in.empty() || in.back() != '\n') c.ReceiveSome(in, 1 << 20, net::Millis(5000));
      tt.push_back(std::chrono::duration<double, std::milli>(Clock::now() - s).count());
    }
    Print("floor_trace", Median(tt), "ms");
  }

  for (const auto& [name, resource] : {std::pair<std::string, std::string>{"socket", socketResource}, {"vxi11", vxiResource}}) {
    LinkOnResource l(resource);
    std::vector<double> t;
    for (int i = 0; i < queries; ++i) {
      const auto s = Clock::now();
      l.link.RequestCmd(":SENS1:FREQ?");
      t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - s).count());
    }
    Print(name + "_query", Median(t), "us");
    l.link.WriteCmd(":SENS1:SAMP:COUNT 200000");
    l.link.WriteCmd("*CLS;:INIT:IMM;*OPC");
    l.link.RequestCmd("*ESR?");  // waits for the measurement
    std::vector<double> tt;
    std::vector<double> values;
    for (int i = 0; i < 20; ++i) {
      const auto s = Clock::now();
      // A wait time of -0.02 s leaves out the driver's fixed pause before the read.
      l.link.RequestCmdValueList(":SENS1:TRAC:DATA?", values, -0.02, 100);
      tt.push_back(std::chrono::duration<double, std::milli>(Clock::now() - s).count());
    }
    if (values.size() != 200000) std::cerr << name << ": the trace came back with " << values.size() << " values\n";
    Print(name + "_trace", Median(tt), "ms");
  }

  // A 16 MiB firmware upload through the driver, against 16 KiB writes on a plain socket.
  const std::string file = "/tmp/quorvel-netbench.fw";
  const std::size_t size = 16u << 20;
  {
    std::ofstream out(file, std::ios::binary);
    const std::string len = std::to_string(size - 26);
    out << "SYSTEM:FWUPDATE #" << len.size() << len;
    out << std::string(size - 17 - 1 - len.size(), 'f');
  }
  {
    net::TcpConnection c;
    c.Connect(host, port, net::Millis(2000));
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buf(16384);
    const auto s = Clock::now();
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0)
      c.SendAll(std::string_view(buf.data(), static_cast<std::size_t>(in.gcount())), net::Millis(5000));
    // Until the unit has taken it all: its answer to the next query.
    c.SendAll("\n*IDN?\n", net::Millis(5000));
    std::string answer;
    while (answer.find('\n') == std::string::npos &&
           c.ReceiveSome(answer, 1 << 10, net::Millis(10000)) == net::TcpConnection::Result::kOk) {
    }
    Print("floor_upload", size / 1048576.0 / std::chrono::duration<double>(Clock::now() - s).count(), "MiB/s");
  }
  for (const auto& [name, resource] : {std::pair<std::string, std::string>{"socket", socketResource}, {"vxi11", vxiResource}}) {
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
    unit.GetFrequency(1, true);  // answered once the unit has taken the whole block
    Print(name + "_upload", size / 1048576.0 / std::chrono::duration<double>(Clock::now() - s).count(), "MiB/s");
    if (result != 1) std::cerr << name << ": the upload returned " << result << "\n";
  }
  std::remove(file.c_str());
  return 0;
}

// zentrix8-sim: the simulated Zentrix8 on the network, over VXI-11 (with a
// portmapper of its own) and a raw SCPI socket.
#include <chrono>
#include <cstdio>
#include <vector>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

#include "core/Vb.h"
#include "net/Interfaces.h"
#include "net/Signals.h"
#include "sim/server/Servers.h"
#include "sim/Zentrix8.h"

namespace {

constexpr const char* kUsage =
    "usage: zentrix8-sim [options]\n"
    "  --host ADDR            address to serve on (default 127.0.0.1)\n"
    "  --socket-port N        raw SCPI socket (default 5025; -1 none)\n"
    "  --vxi11-port N         VXI-11 core channel (default 0: any free port; -1 none)\n"
    "  --portmapper-port N    the portmapper (default 111; -1 none)\n"
    "  --unit NAME            which simulated unit (default Zentrix8)\n"
    "  --time-scale X         real seconds per simulated second (default 1)\n"
    "  --log                  log connections and commands to stderr\n"
    "  --max-clients N        connections served at once (default 64); more are refused\n"
    "  --idle-timeout S       drop a connection silent for S seconds (default 300)\n"
    "limits (a client cannot take more):\n"
    "  a message or firmware block above 64 MiB is refused with -223 \"Too much data\";\n"
    "  answers left unread beyond 4 MiB per connection (VXI-11: per link) are dropped\n"
    "  with -350 \"Queue overflow\"; 16 links per VXI-11 connection; an RPC record\n"
    "  must arrive whole within 5 s; the command log keeps the last 10000 messages.\n"
    "fault knobs:\n"
    "  --delay S              every answer becomes readable S seconds late\n"
    "  --drop-after N         the connection breaks after N messages\n"
    "  --garbage QUERY        answer QUERY with garbage\n"
    "  --never-complete       operations never report completion\n"
    "  --split N              answers in pieces of at most N bytes\n"
    "  --stream QUERY         QUERY's answer never ends\n"
    "  --reboot-seconds S     how long the restart after a firmware update takes (default 3)\n";

// The IPv4 addresses of this machine's interfaces that are up, loopback last.
std::vector<std::string> LocalAddresses() {
  std::vector<std::string> out, loopback;
  const auto interfaces = net::UpIpv4Interfaces();
  if (!interfaces) return {"127.0.0.1"};
  for (const net::Ipv4Interface& i : *interfaces) (i.loopback ? loopback : out).push_back(net::Ipv4Text(i.address));
  out.insert(out.end(), loopback.begin(), loopback.end());
  return out;
}

bool Number(const std::string& text, double& out) {
  const auto value = vb::ParseNumber(text);
  if (value) out = *value;
  return value.has_value();
}

}  // namespace

int main(int argc, char** argv) {
  sim::Servers::Config config;
  auto unitName = std::string("Zentrix8");
  double timeScale = 1, reboot = 3;
  sim::Faults faults;
  bool log = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](double& v) {
      if (i + 1 >= argc || !Number(argv[i + 1], v)) {
        std::cerr << "zentrix8-sim: " << a << " needs a number\n" << kUsage;
        std::exit(2);
      }
      ++i;
    };
    auto text = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "zentrix8-sim: " << a << " needs a value\n" << kUsage;
        std::exit(2);
      }
      return argv[++i];
    };
    double v = 0;
    if (a == "--host") config.host = text();
    else if (a == "--socket-port") { value(v); config.socketPort = static_cast<int>(v); }
    else if (a == "--vxi11-port") { value(v); config.vxi11Port = static_cast<int>(v); }
    else if (a == "--portmapper-port") { value(v); config.portmapperPort = static_cast<int>(v); }
    else if (a == "--unit") unitName = text();
    else if (a == "--time-scale") value(timeScale);
    else if (a == "--log") log = true;
    else if (a == "--max-clients") {
      value(v);
      if (v < 1 || v > 4096) { std::cerr << "zentrix8-sim: --max-clients takes 1 to 4096\n"; return 2; }
      config.maxClients = static_cast<std::size_t>(v);
    } else if (a == "--idle-timeout") {
      value(v);
      if (v < 1 || v > 86400) { std::cerr << "zentrix8-sim: --idle-timeout takes 1 to 86400 seconds\n"; return 2; }
      config.idleSeconds = static_cast<int>(v);
    }
    else if (a == "--delay") value(faults.answerDelayS);
    else if (a == "--drop-after") { value(v); faults.dropAfterCommands = static_cast<long>(v); }
    else if (a == "--garbage") faults.garbageFor = text();
    else if (a == "--never-complete") faults.neverComplete = true;
    else if (a == "--split") { value(v); faults.splitAnswersAt = static_cast<std::size_t>(v); }
    else if (a == "--stream") faults.streamWithoutLineFeedFor = text();
    else if (a == "--reboot-seconds") value(reboot);
    else if (a == "-h" || a == "--help") { std::cout << kUsage; return 0; }
    else { std::cerr << "zentrix8-sim: unknown option " << a << "\n" << kUsage; return 2; }
  }
  config.unit = unitName;
  auto unit = sim::Zentrix8::Instance(unitName);
  unit->SetTimeScale(timeScale);
  unit->SetRebootSeconds(reboot);
  unit->faults() = faults;
  std::mutex logMutex;
  const auto started = std::chrono::steady_clock::now();
  if (log)
    config.log = [&](const std::string& line) {
      std::lock_guard lock(logMutex);
      char stamp[32];
      std::snprintf(stamp, sizeof stamp, "%10.3f", std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
      std::cerr << "zentrix8-sim: " << stamp << " " << line << std::endl;
    };

  // Signals are taken by this thread only: the servers stop cleanly on them.
  net::HoldStopRequests();
  net::IgnoreBrokenPipes();

  sim::Servers servers;
  std::string error;
  if (!servers.Start(config, error)) {
    std::cerr << "zentrix8-sim: " << error << "\n";
    return 1;
  }
  // Resource strings other VISA clients take: on 0.0.0.0, the addresses it is reachable at.
  std::vector<std::string> hosts{config.host};
  if (config.host == "0.0.0.0") hosts = LocalAddresses();
  std::cout << "zentrix8-sim: serving " << unitName << " on " << config.host << "\n";
  for (const std::string& h : hosts) {
    if (servers.SocketPort()) std::cout << "  raw socket  TCPIP::" << h << "::" << servers.SocketPort() << "::SOCKET\n";
    if (servers.Vxi11Port() && servers.PortmapperPort() == 111)
      std::cout << "  VXI-11      TCPIP::" << h << "::inst0::INSTR\n";
    else if (servers.Vxi11Port())
      std::cout << "  VXI-11      TCPIP::" << h << "::inst0::INSTR needs the portmapper on port 111, which this "
                << (servers.PortmapperPort() ? "one is not" : "run has not")
                << "; quorvel also takes TCPIP::" << h << "," << servers.Vxi11Port() << "::inst0::INSTR\n";
  }
  if (servers.RegisteredWithSystemPortmapper()) std::cout << "  VXI-11 registered with the system's portmapper on 111\n";
  else if (servers.PortmapperPort()) std::cout << "  portmapper on " << servers.PortmapperPort() << "\n";
  std::cout << std::flush;
  net::WaitForStopRequest();
  std::cerr << "zentrix8-sim: stopping\n";
  servers.Stop();
  return 0;
}

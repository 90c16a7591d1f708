// End to end over the network: the real driver against zentrix8-sim's
// servers on loopback, over a raw socket and over VXI-11.
#include <gtest/gtest.h>

#include <thread>

#include "Errors.h"
#include "Probe.h"
#include "SimFixture.h"
#include "TempDir.h"
#include "sim/server/Servers.h"
#include "sim/Zentrix8.h"
#include "visa/Network.h"

namespace {

enum class Transport { kSocket, kVxi11, kVxi11Portmapper };

// Servers on free loopback ports for a unit of their own, and a driver on them.
struct NetworkUnit : DriverFixture {
  static inline std::atomic<int> counter{0};
  std::string unitName = "Net" + std::to_string(++counter);
  std::shared_ptr<sim::Zentrix8> model = sim::Zentrix8::Replace(unitName);
  sim::Servers servers;

  explicit NetworkUnit(Transport transport, long timeoutMs = 0) : DriverFixture(visa::MakeNetworkVisa) {
    model->SetTimeScale(0);
    sim::Servers::Config config;
    config.socketPort = config.vxi11Port = config.portmapperPort = 0;
    config.unit = unitName;
    std::string error;
    if (!servers.Start(config, error)) throw std::runtime_error(error);
    visa::SetPortmapperPort(servers.PortmapperPort());
    auto& device = AddDevice("Z1");
    device.address = Resource(transport);
    device.timeout = timeoutMs;
    unit->clsDevice_Name("Z1");
    unit->clsDevice_Status(1);
  }
  ~NetworkUnit() { visa::SetPortmapperPort(111); }
  std::string Resource(Transport t) const {
    switch (t) {
      case Transport::kSocket: return "TCPIP::127.0.0.1::" + std::to_string(servers.SocketPort()) + "::SOCKET";
      case Transport::kVxi11: return "TCPIP::127.0.0.1," + std::to_string(servers.Vxi11Port()) + "::inst0::INSTR";
      default: return "TCPIP::127.0.0.1::inst0::INSTR";  // through the portmapper
    }
  }
};

class OverTheNetwork : public ::testing::TestWithParam<Transport> {};

TEST_P(OverTheNetwork, IdentifySetMeasureAndSearch) {
  NetworkUnit fx(GetParam());
  clsQuorvelUnit& u = *fx.unit;
  ASSERT_EQ(u.clsDevice_Status(), 1) << fx.host->errors.size();
  EXPECT_EQ(u.clsDevice_Info().SerialNumber, "Z8-000123");
  u.SetFrequency(5.8e9, 0);
  u.SetMeasTime(0.05, 0);
  u.SetBurstSearchLevel(20, 0);
  u.SetAttenuation(1.5, 3);
  u.SendAllSettings();
  EXPECT_EQ(u.GetFrequency(8, true), 5.8e9);  // answered after everything before it
  EXPECT_EQ(fx.model->sensor(3).attenuation, 1.5);
  u.MeasurementInit(2);
  u.BurstSearchInit(2);
  EXPECT_EQ(u.GetBurstCount(2), 5);
  std::vector<double> levels, trace;
  u.GetBurstLevel(2, levels);
  EXPECT_EQ(levels.size(), 5u);
  u.GetTrace(2, trace);
  EXPECT_EQ(trace.size(), 50001u);
  EXPECT_EQ(u.GetErrorStatus(), esNONE);
  EXPECT_EQ(u.GetSystemError(), "0,'No error'");
}

TEST_P(OverTheNetwork, PathTablesAndFirmwareWithProgress) {
  NetworkUnit fx(GetParam());
  clsQuorvelUnit& u = *fx.unit;
  AttTableProp prop;
  prop.FromPort = pDUT1;
  prop.ToPort = pReceiver;
  prop.Rx18 = true;
  EXPECT_NE(u.GetPathAttenuation(17.5e9, prop), 1000);
  TempDir dir;
  TempDir::Write(dir / "unit.fw", "SYSTEM:FWUPDATE #6100000" + std::string(100000, 'f'));
  u.clsDevice_ShowDeviceDialog(4, nullptr, "");
  EXPECT_EQ(u.Transfer_FirmwareFile(dir / "unit.fw"), 1);
  auto* form = dynamic_cast<HeadlessServiceForm*>(u.TestForm());
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->FirmwareStatus(), "Upload in progress ... 100%");
  EXPECT_EQ(form->FirmwareStatusHistory().size(), 7u);
  // A socket write returns before the server has taken the block in.
  for (int i = 0; i < 200 && fx.model->firmwareUploads() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(fx.model->firmwareUploads(), 1);
}

TEST_P(OverTheNetwork, FaultsEndIn4012AndSimulationWithinTheTimeOut) {
  const struct {
    const char* name;
    std::function<void(NetworkUnit&)> arrange;
    bool serverGoes;  // the servers stop while a list streams in
  } cases[] = {
      {"stalled answer", [](NetworkUnit& n) { n.model->faults().answerDelayS = 5; }, false},
      {"connection dropped", [](NetworkUnit& n) { n.model->faults().dropAfterCommands = n.model->commandCount(); }, false},
      {"server gone mid-list", [](NetworkUnit& n) { n.model->faults().streamWithoutLineFeedFor = ":SENS1:TRAC:DATA?"; }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NetworkUnit fx(GetParam(), 300);
    ASSERT_EQ(fx.unit->clsDevice_Status(), 1);
    c.arrange(fx);
    std::thread stopper;
    if (c.serverGoes) stopper = std::thread([&fx] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      fx.servers.Stop();
    });
    const auto start = std::chrono::steady_clock::now();
    const vb::Error e = CaughtFrom([&] {
      std::vector<double> v;
      if (c.serverGoes) fx.unit->GetTrace(1, v);
      else fx.unit->GetFrequency(1, true);
    });
    if (stopper.joinable()) stopper.join();
    EXPECT_EQ(e.Number(), 4012) << e.Description();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(fx.unit->clsDevice_Status(), 0);
    fx.servers.Stop();
  }
}

// The same refused settings and odd numbers, sent to the embedded simulator
// and over the network, leave the same error queue: one model, one parser.
TEST_P(OverTheNetwork, RefusedSettingsLeaveTheSameQueueAsTheEmbeddedSimulator) {
  const auto send = [](clsQuorvelUnit& u) {
    u.SetFrequency(1e15, 2);
    u.SetMeasTime(-1, 3);
    u.SetBurstSearchLevel(500, 4);
    u.SetAttenuation(1e9, 5);
    u.SendAllSettings();
    std::string queues = u.GetSystemError() + "\n";
    for (const char* text : {":SENS2:FREQ 1,5E9", ":SENS2:FREQ 0x10", ":SENS2:FREQ nan", ":SENS2:FREQ 2.4e9Hz",
                             ":SENS2:FREQ +.5e+10", ":SENS2:FREQ 1e400", ":SENS2:FREQ ", ":SENS9:FREQ 1e9"}) {
      io::ScpiLink& link = clsQuorvelUnitProbe::Link(u);
      link.WriteCmd(text);
      queues += std::string(text) + " -> " + u.GetSystemError() + " / " + link.RequestCmd(":SENS2:FREQ?") + "\n";
    }
    return queues;
  };
  SimulatedUnit embedded;
  NetworkUnit network(GetParam());
  ASSERT_EQ(network.unit->clsDevice_Status(), 1);
  const std::string here = send(*embedded.unit);
  EXPECT_NE(here.find("-222"), std::string::npos) << here;  // something was refused
  EXPECT_EQ(send(*network.unit), here);
}

// Over the raw socket, an answer that came too late, or the rest of one read
// only in part, is never taken for the answer to the next query.  (Over
// VXI-11 the late answer waits at the unit, for the link's next read.)
TEST(NetworkSocket, ALateOrUnreadAnswerIsNeverTheNextOne) {
  NetworkUnit fx(Transport::kSocket);
  auto visa = visa::MakeNetworkVisa(fx.Resource(Transport::kSocket));
  visa->SetResourceName(fx.Resource(Transport::kSocket));
  visa->Options().SetInteger(visa::kOptionTimeout, 150);
  visa->Options().SetBool(visa::kOptionTermCharEnabled, true);
  visa->Open();
  fx.model->faults().answerDelayS = 0.4;
  visa->Write("*IDN?");
  EXPECT_EQ(visa->Read(4096), "");
  EXPECT_LT(visa->Status(), 0);  // the time-out
  fx.model->faults().answerDelayS = 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(600));  // the late identity is on its way, or here
  visa->Write(":SENS1:FREQ 2e9;:SENS1:FREQ?");
  EXPECT_EQ(visa->Read(4096), "2000000000\n");
  visa->Write("*IDN?");
  EXPECT_EQ(visa->Read(6), "Tavlor");  // read in part ...
  visa->Write(":SENS1:FREQ?");
  EXPECT_EQ(visa->Read(4096), "2000000000\n");  // ... the rest is not the next answer
  for (int i = 0; i < 3; ++i) {  // and answers read whole leave nothing behind
    visa->Write(":SENS2:FREQ?");
    EXPECT_EQ(visa->Read(4096), "10000000\n");
  }
  visa->Close();
}

INSTANTIATE_TEST_SUITE_P(Transports, OverTheNetwork,
                         ::testing::Values(Transport::kSocket, Transport::kVxi11, Transport::kVxi11Portmapper),
                         [](const auto& info) {
                           return std::string(std::array{"Socket", "Vxi11", "Vxi11Portmapper"}[static_cast<int>(info.param)]);
                         });

TEST(NetworkVxi11, AReadThatOutlivesItsTimeOutIsAbortedAndTheLinkServesOn) {
  NetworkUnit fx(Transport::kVxi11, 100);  // the server waits 100 ms itself and answers "I/O timeout"
  fx.model->faults().answerDelayS = 0.6;
  const vb::Error e = CaughtFrom([&] { fx.unit->GetFrequency(1, true); });
  EXPECT_EQ(e.Number(), 4012);
  EXPECT_NE(e.Description().find("I/O timeout"), std::string::npos) << e.Description();
  fx.model->faults().answerDelayS = 0;
  fx.unit->clsDevice_Status(1);  // connect again: the unit is fine
  EXPECT_EQ(fx.unit->clsDevice_Status(), 1);
  EXPECT_EQ(fx.unit->GetFrequency(1, true), 10e6);
}

TEST(NetworkConnect, ARefusedConnectionOrAMissingHostIsNotPresentWithAReason) {
  // A port nobody listens on: take a free one and let it go.
  std::string error;
  std::uint16_t port = 0;
  { net::Fd fd = net::Listen("127.0.0.1", 0, error, port); }
  for (const std::string& resource : {"TCPIP::127.0.0.1::" + std::to_string(port) + "::SOCKET",
                                     "TCPIP::127.0.0.1," + std::to_string(port) + "::inst0::INSTR",
                                     std::string("TCPIP::no-such-host.invalid::inst0::INSTR")}) {
    DriverFixture fx(visa::MakeNetworkVisa);
    fx.AddDevice("Z1").address = resource;
    fx.unit->clsDevice_Name("Z1");
    const auto start = std::chrono::steady_clock::now();
    fx.unit->clsDevice_Status(1);
    EXPECT_EQ(fx.unit->clsDevice_Status(), 0) << resource;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  }
  visa::CWVisa visa(::visa::MakeNetworkVisa);
  visa.SetResourceName("TCPIP::127.0.0.1::" + std::to_string(port) + "::SOCKET");
  const vb::Error e = CaughtFrom([&] { visa.Open(); });
  EXPECT_EQ(e.Number(), 4010);
  EXPECT_NE(e.Description().find("connection refused by 127.0.0.1:" + std::to_string(port)), std::string::npos)
      << e.Description();
}

TEST(NetworkConnect, ResourceStrings) {
  using K = visa::TcpipResource::Kind;
  const struct {
    const char* resource;
    bool ok;
    K kind = K::kInstr;
    const char* host = "";
    int port = 0;
    const char* device = "";
  } cases[] = {
      {"TCPIP::192.0.2.10::inst0::INSTR", true, K::kInstr, "192.0.2.10", 0, "inst0"},
      {"tcpip0::unit.lab::hislip0::instr", true, K::kInstr, "unit.lab", 0, "hislip0"},
      {"TCPIP::10.0.0.5,1024::inst1::INSTR", true, K::kInstr, "10.0.0.5", 1024, "inst1"},
      {"TCPIP::10.0.0.5::INSTR", true, K::kInstr, "10.0.0.5", 0, "inst0"},
      {"TCPIP::10.0.0.5::5025::SOCKET", true, K::kSocket, "10.0.0.5", 5025, ""},
      {"TCPIP::10.0.0.5::70000::SOCKET", false}, {"TCPIP::10.0.0.5::SOCKET", false},
      {"TCPIP::---.---.---.---::inst0::instr", false}, {"GPIB::5::INSTR", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.resource);
    visa::TcpipResource r;
    std::string error;
    EXPECT_EQ(visa::ParseTcpip(c.resource, r, error), c.ok) << error;
    if (!c.ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.host, c.host);
    EXPECT_EQ(r.port, c.port);
    if (c.kind == K::kInstr) {
      EXPECT_EQ(r.device, c.device);
    }
  }
}

TEST(NetworkServers, GarbageAndEndlessInputCloseThatClientOnly) {
  NetworkUnit fx(Transport::kSocket);
  std::string got;
  net::TcpConnection endless;
  ASSERT_TRUE(endless.Connect("127.0.0.1", fx.servers.SocketPort(), net::Millis(1000)));
  EXPECT_EQ(endless.SendAll(std::string(2u << 20, 'x'), net::Millis(3000)), net::TcpConnection::Result::kOk);
  EXPECT_NE(endless.ReceiveSome(got, 100, net::Millis(3000)), net::TcpConnection::Result::kOk);  // closed by the server
  net::TcpConnection rpcGarbage;
  ASSERT_TRUE(rpcGarbage.Connect("127.0.0.1", fx.servers.Vxi11Port(), net::Millis(1000)));
  rpcGarbage.SendAll(std::string("\x80\x00\x00\x08garbage!", 12), net::Millis(1000));
  EXPECT_NE(rpcGarbage.ReceiveSome(got, 100, net::Millis(3000)), net::TcpConnection::Result::kOk);
  // The driver's connection is still served.
  EXPECT_EQ(fx.unit->GetFrequency(1, true), 10e6);
  EXPECT_EQ(fx.unit->clsDevice_Status(), 1);
}

}  // namespace

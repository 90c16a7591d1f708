// A unit shared between stations: VXI-11 locks, device clear, the status
// byte and service requests, between two stations (two links on two
// connections) and a raw-socket client, against the simulator's servers.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "net/Tcp.h"
#include "sim/server/Servers.h"
#include "sim/Zentrix8.h"
#include "visa/Network.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct SharedUnit : ::testing::Test {
  static inline std::atomic<int> counter{0};
  std::string unitName = "Shared" + std::to_string(++counter);
  std::shared_ptr<sim::Zentrix8> model = sim::Zentrix8::Replace(unitName);
  sim::Servers servers;

  void SetUp() override {
    model->SetTimeScale(0);
    sim::Servers::Config config;
    config.socketPort = config.vxi11Port = 0;
    config.portmapperPort = -1;
    config.unit = unitName;
    std::string error;
    ASSERT_TRUE(servers.Start(config, error)) << error;
  }
  // One station: a VXI-11 link of its own.
  std::shared_ptr<visa::IVisaControl> Station(long timeoutMs = 2000) {
    auto v = visa::MakeVxi11Visa();
    v->SetResourceName("TCPIP::127.0.0.1," + std::to_string(servers.Vxi11Port()) + "::inst0::INSTR");
    v->Options().SetInteger(visa::kOptionTimeout, timeoutMs);
    v->Options().SetBool(visa::kOptionTermCharEnabled, true);
    v->Open();
    return v;
  }
  static std::string Ask(visa::IVisaControl& v, const std::string& query) {
    v.Write(query);
    return v.Status() < 0 ? std::string() : v.Read();
  }
};

TEST_F(SharedUnit, ALockKeepsTheOtherStationOutUntilItIsReleased) {
  auto a = Station(), b = Station();
  EXPECT_EQ(a->LockExclusive(milliseconds(0)), visa::kVisaSuccess);
  EXPECT_EQ(a->LockExclusive(milliseconds(0)), visa::kVisaSuccess) << "the holder asking again keeps it";
  EXPECT_EQ(Ask(*a, "*IDN?"), "Tavlor,Zentrix8,Z8-000123,2.4.1\n");

  // Without waiting for the lock, the other station's calls are refused at once.
  b->Write(":SENS2:FREQ 1e9");
  EXPECT_EQ(b->Status(), visa::kVisaErrorResourceLocked);
  EXPECT_NE(b->LastErrorText().find("device locked by another link"), std::string::npos) << b->LastErrorText();
  EXPECT_EQ(model->sensor(2).frequency, 10e6) << "nothing of it reached the unit";
  std::uint8_t stb = 0;
  EXPECT_EQ(b->ReadStatusByte(stb), visa::kVisaErrorResourceLocked);
  EXPECT_EQ(b->Unlock(), visa::kVisaErrorNotLocked);

  // Its lock request waits for the lock time-out, then says who holds it.
  const auto asked = Clock::now();
  EXPECT_EQ(b->LockExclusive(milliseconds(300)), visa::kVisaErrorResourceLocked);
  EXPECT_GE(SecondsSince(asked), 0.29);
  EXPECT_LT(SecondsSince(asked), 1.5);
  EXPECT_NE(b->LastErrorText().find("another station holds the unit's lock (waited 300 ms)"), std::string::npos);

  EXPECT_EQ(a->Unlock(), visa::kVisaSuccess);
  EXPECT_EQ(a->Unlock(), visa::kVisaErrorNotLocked);
  b->Write(":SENS2:FREQ 1e9");
  EXPECT_EQ(b->Status(), visa::kVisaSuccess) << b->LastErrorText();
  EXPECT_EQ(Ask(*b, ":SENS2:FREQ?"), "1000000000\n");
}

TEST_F(SharedUnit, AWaitingStationGetsTheLockWhenItIsReleasedOrTheHolderGoes) {
  for (const bool holderGoes : {false, true}) {
    SCOPED_TRACE(holderGoes ? "the holder's link ends" : "the holder unlocks");
    auto a = Station(), b = Station();
    ASSERT_EQ(a->LockExclusive(milliseconds(0)), visa::kVisaSuccess);
    const auto asked = Clock::now();
    auto waiting = std::async(std::launch::async, [&] { return b->LockExclusive(milliseconds(5000)); });
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(waiting.wait_for(milliseconds(0)), std::future_status::timeout) << "it waits while the lock is held";
    if (holderGoes) a.reset();  // closes: the link is destroyed and its lock goes with it
    else EXPECT_EQ(a->Unlock(), visa::kVisaSuccess);
    EXPECT_EQ(waiting.get(), visa::kVisaSuccess);
    EXPECT_GE(SecondsSince(asked), 0.19);
    EXPECT_LT(SecondsSince(asked), 1.5) << "taken as soon as it was free, not at the lock time-out";
    EXPECT_EQ(b->Unlock(), visa::kVisaSuccess);
  }
}

TEST_F(SharedUnit, ARawSocketClientWaitsWhileALinkHoldsTheLock) {
  auto a = Station();
  ASSERT_EQ(a->LockExclusive(milliseconds(0)), visa::kVisaSuccess);
  net::TcpConnection socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", servers.SocketPort(), milliseconds(1000))) << socket.Error();
  ASSERT_EQ(socket.SendAll("*IDN?\n", milliseconds(1000)), net::TcpConnection::Result::kOk);
  std::string answer;
  EXPECT_EQ(socket.ReceiveSome(answer, 4096, milliseconds(300)), net::TcpConnection::Result::kTimeout);
  EXPECT_EQ(a->Unlock(), visa::kVisaSuccess);
  EXPECT_EQ(socket.ReceiveSome(answer, 4096, milliseconds(2000)), net::TcpConnection::Result::kOk);
  EXPECT_EQ(answer, "Tavlor,Zentrix8,Z8-000123,2.4.1\n");

  // The raw socket itself has none of the shared unit's operations, and says where they are.
  auto raw = visa::MakeRawSocketVisa();
  raw->SetResourceName("TCPIP::127.0.0.1::" + std::to_string(servers.SocketPort()) + "::SOCKET");
  raw->Open();
  std::uint8_t stb = 0;
  for (const long status : {raw->LockExclusive(milliseconds(0)), raw->Unlock(), raw->Clear(), raw->ReadStatusByte(stb),
                            raw->EnableServiceRequest(), raw->WaitServiceRequest(milliseconds(0))})
    EXPECT_EQ(status, visa::kVisaErrorNotSupported);
  EXPECT_EQ(raw->LastErrorText(),
            "a raw socket resource has no service requests (a VXI-11 resource, TCPIP::host::inst0::INSTR, has)");
}

TEST_F(SharedUnit, TheStatusByteAndDeviceClearAreTheLinksOwn) {
  auto a = Station(), b = Station();
  std::uint8_t stb = 0xFF;
  ASSERT_EQ(a->ReadStatusByte(stb), visa::kVisaSuccess);
  EXPECT_EQ(stb, 0);
  a->Write("*IDN?");  // answered, not read
  ASSERT_EQ(a->ReadStatusByte(stb), visa::kVisaSuccess);
  EXPECT_EQ(stb, 16) << "MAV: an answer waits for this station";
  ASSERT_EQ(b->ReadStatusByte(stb), visa::kVisaSuccess);
  EXPECT_EQ(stb, 0) << "not for the other";
  a->Write(":SENS9:FREQ 1e9");  // an error: the queue is not empty (bit 2), and ESR's command error
  a->Write("*ESE 32");
  ASSERT_EQ(a->ReadStatusByte(stb), visa::kVisaSuccess);
  EXPECT_EQ(stb, 16 | 4 | 32);
  EXPECT_EQ(a->Clear(), visa::kVisaSuccess);
  ASSERT_EQ(a->ReadStatusByte(stb), visa::kVisaSuccess);
  EXPECT_EQ(stb, 4 | 32) << "the clear takes the answer and MAV, not the unit's status";
  EXPECT_EQ(Ask(*a, ":SYST:ERR?"), "-114,\"Header suffix out of range\"\n") << "no stale answer comes first";
}

TEST_F(SharedUnit, AServiceRequestReachesTheStationWhenTheOperationCompletes) {
  model->SetTimeScale(5);  // the reset takes 0.1 s
  auto a = Station(), other = Station();
  ASSERT_EQ(a->EnableServiceRequest(), visa::kVisaSuccess) << a->LastErrorText();
  EXPECT_EQ(a->WaitServiceRequest(milliseconds(200)), visa::kVisaErrorTimeout) << "none before one is raised";
  EXPECT_EQ(a->LastErrorText(), "no service request within 200 ms");

  a->Write("*CLS;*ESE 1;*SRE 32");
  const auto started = Clock::now();
  a->Write("*RST;*OPC");
  ASSERT_EQ(a->WaitServiceRequest(milliseconds(3000)), visa::kVisaSuccess) << a->LastErrorText();
  EXPECT_GE(SecondsSince(started), 0.09) << "not before the reset is done";
  EXPECT_LT(SecondsSince(started), 1.0);
  std::uint8_t stb = 0;
  ASSERT_EQ(a->ReadStatusByte(stb), visa::kVisaSuccess);
  EXPECT_EQ(stb & (64 | 32), 64 | 32);
  std::uint8_t others = 0;
  ASSERT_EQ(other->ReadStatusByte(others), visa::kVisaSuccess);
  EXPECT_EQ(others & 64, 64) << "the unit's request, whoever looks";
  EXPECT_EQ(other->WaitServiceRequest(milliseconds(100)), visa::kVisaErrorTimeout) << "only enabled links are called";

  // Read and cleared (*ESR?), the next completion raises the next one.
  EXPECT_EQ(Ask(*a, "*ESR?"), "1\n");
  a->Write("*RST;*OPC");
  EXPECT_EQ(a->WaitServiceRequest(milliseconds(3000)), visa::kVisaSuccess) << a->LastErrorText();
}

}  // namespace

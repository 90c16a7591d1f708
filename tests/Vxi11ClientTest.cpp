// The VXI-11 client against a scripted server that misbehaves on purpose.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "io/frmVISA.h"
#include "visa/VisaControl.h"
#include "visa/Network.h"
#include "net/Xdr.h"

namespace {

namespace rpc = net::rpc;

// A one-connection VXI-11 server whose device_read replies a test decides.
class FakeCore {
 public:
  // reads(n, xid, requestSize) sends whatever replies it wants for the n-th device_read.
  using ReadScript = std::function<void(int, std::uint32_t, std::uint32_t, net::TcpConnection&)>;
  explicit FakeCore(ReadScript reads, bool abortChannel = false) : reads_(std::move(reads)) {
    std::string error;
    listen_ = net::Listen("127.0.0.1", 0, error, port_);
    if (abortChannel) {
      abortListen_ = net::Listen("127.0.0.1", 0, error, abortPort_);
      abortThread_ = std::thread([this] { ServeAbort(); });
    }
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeCore() {
    thread_.join();
    if (abortThread_.joinable()) abortThread_.join();
  }
  int aborts() const { return aborts_; }
  std::string Resource() const { return "TCPIP::127.0.0.1," + std::to_string(port_) + "::inst0::INSTR"; }
  static void Reply(net::TcpConnection& c, std::uint32_t xid, std::int32_t reason, std::string_view data) {
    rpc::Writer w;
    w.Reply(xid).I32(0).I32(reason).Opaque(data);
    c.SendAll(rpc::Record(w.Bytes()), net::Millis(1000));
  }

 private:
  static bool Accept(const net::Fd& listen, net::TcpConnection& c) {
    pollfd p{listen.get(), POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    c.Adopt(net::Fd(::accept(listen.get(), nullptr, nullptr)), "client");
    return true;
  }
  void Serve() {
    net::TcpConnection c;
    if (!Accept(listen_, c)) return;
    std::string record;
    int reads = 0;
    while (rpc::ReceiveRecord(c, record, net::Millis(3000)) == net::TcpConnection::Result::kOk) {
      rpc::Reader call(record);
      const rpc::CallHeader h = rpc::ReadCall(call);
      rpc::Writer w;
      w.Reply(h.xid);
      if (h.proc == rpc::kDeviceRead) {
        call.I32();
        const std::uint32_t requestSize = call.U32();
        reads_(++reads, h.xid, requestSize, c);
        continue;
      }
      if (h.proc == rpc::kCreateLink) w.I32(0).I32(7).U32(abortPort_).U32(1 << 20);
      else if (h.proc == rpc::kDeviceWrite) w.I32(0).U32(0);
      else w.I32(0);
      c.SendAll(rpc::Record(w.Bytes()), net::Millis(1000));
      if (h.proc == rpc::kDestroyLink) return;
    }
  }
  void ServeAbort() {
    net::TcpConnection c;
    std::string record;
    if (!Accept(abortListen_, c) || rpc::ReceiveRecord(c, record, net::Millis(3000)) != net::TcpConnection::Result::kOk) return;
    rpc::Reader call(record);
    const rpc::CallHeader h = rpc::ReadCall(call);
    if (h.prog == rpc::kDeviceAsync && h.proc == rpc::kDeviceAbort) ++aborts_;
    rpc::Writer w;
    w.Reply(h.xid).I32(0);
    c.SendAll(rpc::Record(w.Bytes()), net::Millis(1000));
  }
  ReadScript reads_;
  net::Fd listen_, abortListen_;
  std::uint16_t port_ = 0, abortPort_ = 0;
  std::thread thread_, abortThread_;
  std::atomic<int> aborts_{0};
};

// One read through the client from a server whose replies `reads` decides.
std::string ReadFrom(FakeCore::ReadScript reads) {
  FakeCore server(std::move(reads));
  visa::CWVisa visa(::visa::MakeNetworkVisa);
  visa.SetResourceName(server.Resource());
  visa.Open();
  const std::string answer = visa.Read();
  EXPECT_EQ(visa.Status(), 0);
  visa.Close();
  return answer;
}

TEST(Vxi11Client, ReadsUntilEndAndNoFurther) {
  // As long as the request and with END: one read; asking again would double the answer.
  EXPECT_EQ(ReadFrom([](int, std::uint32_t xid, std::uint32_t requestSize, net::TcpConnection& c) {
              FakeCore::Reply(c, xid, rpc::kReasonEnd | rpc::kReasonReqCnt, std::string(requestSize, 'x'));
            }).size(),
            1u << 20);
  // A request filled without END is read on.
  EXPECT_EQ(ReadFrom([](int n, std::uint32_t xid, std::uint32_t, net::TcpConnection& c) {
              FakeCore::Reply(c, xid, n == 1 ? rpc::kReasonReqCnt : rpc::kReasonEnd, n == 1 ? "12,34," : "56\n");
            }),
            "12,34,56\n");
}

TEST(Vxi11Client, ALateReplyToATimedOutReadIsNotTakenAsTheNextAnswer) {
  std::uint32_t staleXid = 0;
  FakeCore server(
      [&](int n, std::uint32_t xid, std::uint32_t, net::TcpConnection& c) {
        if (n == 1) {
          staleXid = xid;  // say nothing now
        } else {
          FakeCore::Reply(c, staleXid, rpc::kReasonEnd, "stale\n");  // the late reply arrives first
          FakeCore::Reply(c, xid, rpc::kReasonEnd, "fresh\n");
        }
      },
      true);
  visa::CWVisa visa(::visa::MakeNetworkVisa);
  visa.Options().SetInteger(visa::kOptionTimeout, 100);  // the client waits 100 ms + 1 s for a reply
  visa.SetResourceName(server.Resource());
  visa.Open();
  EXPECT_EQ(visa.Read(), "");
  EXPECT_EQ(visa.Status(), visa::kVisaErrorTimeout);
  EXPECT_NE(visa.LastErrorText().find("no answer"), std::string::npos) << visa.LastErrorText();
  EXPECT_EQ(server.aborts(), 1);  // the call that outlived its time-out was aborted
  EXPECT_EQ(visa.Read(), "fresh\n");
  EXPECT_EQ(visa.Status(), 0);
  visa.Close();
}

// However a server stalls (empty reads without END, replies to other calls,
// fragments that trickle), a read ends with a time-out: one deadline per call.
TEST(Vxi11Client, AStallingServerCannotKeepAReadAlive) {
  using Clock = std::chrono::steady_clock;
  const auto trickle = [](auto send) {
    for (int i = 0; i < 25; ++i) {  // 2.5 s of it
      send();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  };
  const std::pair<const char*, FakeCore::ReadScript> stalls[] = {
      {"empty reads", [](int, std::uint32_t xid, std::uint32_t, net::TcpConnection& c) { FakeCore::Reply(c, xid, 0, ""); }},
      {"wrong xids", [&](int, std::uint32_t xid, std::uint32_t, net::TcpConnection& c) {
         trickle([&] { FakeCore::Reply(c, xid + 1000, rpc::kReasonEnd, "other\n"); });
       }},
      {"empty fragments", [&](int, std::uint32_t, std::uint32_t, net::TcpConnection& c) {
         trickle([&] { c.SendAll(std::string(4, '\0'), net::Millis(1000)); });
       }},
  };
  for (const auto& [name, script] : stalls) {
    FakeCore server(script);
    visa::CWVisa visa(::visa::MakeNetworkVisa);
    visa.Options().SetInteger(visa::kOptionTimeout, 300);
    visa.SetResourceName(server.Resource());
    visa.Open();
    const auto start = Clock::now();
    EXPECT_EQ(visa.Read(), "") << name;
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2300)) << name;  // 300 ms + the 1 s reply margin
    EXPECT_NE(visa.Status(), 0) << name;
    visa.Close();
  }
}

}  // namespace

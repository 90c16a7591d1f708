// Raw SCPI over TCP ("TCPIP::<host>::<port>::SOCKET"): a message ends with a
// line feed both ways.
#include "core/Vb.h"
#include "visa/Network.h"

namespace visa {

namespace {

class RawSocketVisa : public visa::VisaSessionBase {
 public:
  void Open() override {
    conn_.Close();
    pending_.clear();
    stale_ = false;
    TcpipResource r;
    std::string error;
    if (!ParseTcpip(resource(), r, error) || !conn_.Connect(r.host, r.port, options_.openTimeout))
      RefuseOpen(visa::kVisaErrorResourceNotFound, error.empty() ? conn_.Error() : error);
    Succeed();
  }
  void Close() override {
    conn_.Close();
    pending_.clear();
  }
  void Write(std::string_view text) override {
    DropStale();
    std::string message(text);
    // The line feed is the socket's END.
    if (options_.sendEnd && (message.empty() || message.back() != '\n')) message += '\n';
    Send(message);
  }
  void WriteBlock(std::span<const std::uint8_t> block) override {
    DropStale();
    std::string message(reinterpret_cast<const char*>(block.data()), block.size());
    if (options_.sendEnd) message += '\n';
    Send(message);
  }
  std::string Read() override { return Read(1 << 24); }
  std::string Read(long maxBytes) override {
    const std::size_t max = maxBytes > 0 ? static_cast<std::size_t>(maxBytes) : 1;
    const auto deadline = std::chrono::steady_clock::now() + options_.timeout;
    for (;;) {
      const std::size_t lf = options_.termChar ? pending_.find('\n') : std::string::npos;
      if (lf != std::string::npos || pending_.size() >= max || (!options_.termChar && !pending_.empty())) {
        std::string out = pending_.take(std::min(max, lf != std::string::npos ? lf + 1 : pending_.size()));
        // Read in part, or more came than this answer: the next message first drops the rest.
        stale_ = !pending_.empty() || (options_.termChar && (out.empty() || out.back() != '\n'));
        Succeed();
        return out;
      }
      const auto left = std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
      std::string got;
      // No more than the caller can take: an endless stream is not read ahead.
      const auto r = conn_.ReceiveSome(got, std::min(std::size_t{1} << 20, max - pending_.size()), std::max(Millis(0), left));
      pending_.append(got);
      if (r != TcpConnection::Result::kOk) {
        if (r == TcpConnection::Result::kTimeout)
          Fail(visa::kVisaErrorTimeout, "no answer from " + conn_.Peer() + " within " +
                                                std::to_string(options_.timeout.count()) + " ms");
        else
          Fail(visa::kVisaErrorConnectionLost, conn_.Error());
        pending_.clear();
        stale_ = true;  // the answer may still come
        return {};
      }
    }
  }
 private:
  // A new message: what is left of an earlier answer (here or already on the
  // way) is stale and never becomes the next answer.
  void DropStale() {
    // Only after an answer was cut short or gave up: an ordinary query costs
    // no look at an empty socket before it is sent.
    if (!stale_) return;
    stale_ = false;
    pending_.clear();
    std::string junk;
    for (std::size_t dropped = 0; dropped < (std::size_t{1} << 20) && conn_.IsOpen();) {
      junk.clear();
      if (conn_.ReceiveSome(junk, 1 << 16, Millis(0)) != TcpConnection::Result::kOk) break;
      dropped += junk.size();
    }
  }
  void Send(const std::string& message) {
    const auto r = conn_.SendAll(message, options_.timeout);
    if (r == TcpConnection::Result::kOk) return Succeed();
    Fail(r == TcpConnection::Result::kTimeout ? visa::kVisaErrorTimeout : visa::kVisaErrorConnectionLost, conn_.Error());
  }
  TcpConnection conn_;
  ByteQueue pending_;   // received, not yet read
  bool stale_ = false;  // something of an earlier answer may be left or on its way
};

}  // namespace

std::shared_ptr<visa::IVisaControl> MakeRawSocketVisa() { return std::make_shared<RawSocketVisa>(); }

}  // namespace visa

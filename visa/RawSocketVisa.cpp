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
    std::string out;
    ReadInto(out, maxBytes);
    return out;
  }
  long ReadAppend(std::string& out, long maxBytes) override {
    ReadInto(out, maxBytes);
    return Status();
  }

 private:
  // Up to maxBytes appended to `out`, to the line feed when reads end there;
  // received bytes go straight into `out`, what came beyond the answer waits.
  void ReadInto(std::string& out, long maxBytes) {
    const std::size_t max = maxBytes > 0 ? static_cast<std::size_t>(maxBytes) : 1;
    const std::size_t start = out.size();
    const auto deadline = std::chrono::steady_clock::now() + options_.timeout;
    const auto done = [&] {
      // Read in part, or more came than this answer: the next message first drops the rest.
      stale_ = !pending_.empty() || (options_.termChar && (out.size() == start || out.back() != '\n'));
      Succeed();
    };
    if (!pending_.empty()) {
      const std::size_t lf = options_.termChar ? pending_.find('\n') : std::string::npos;
      pending_.takeInto(out, std::min(max, lf != std::string::npos ? lf + 1 : pending_.size()));
      if (lf != std::string::npos || out.size() - start >= max || !options_.termChar) return done();
    }
    for (;;) {
      const auto left = std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
      const std::size_t before = out.size();
      // No more than the caller can take: an endless stream is not read ahead.
      const auto r = conn_.ReceiveSome(out, std::min(std::size_t{1} << 20, max - (before - start)), std::max(Millis(0), left));
      if (r != TcpConnection::Result::kOk) {
        if (r == TcpConnection::Result::kTimeout)
          Fail(visa::kVisaErrorTimeout, "no answer from " + conn_.Peer() + " within " +
                                                std::to_string(options_.timeout.count()) + " ms");
        else
          Fail(visa::kVisaErrorConnectionLost, conn_.Error());
        out.resize(start);
        pending_.clear();
        stale_ = true;  // the answer may still come
        return;
      }
      if (options_.termChar) {
        const std::size_t lf = out.find('\n', before);
        if (lf != std::string::npos) {
          pending_.append(std::string_view(out).substr(lf + 1));  // the start of what comes next
          out.resize(lf + 1);
          return done();
        }
      }
      if (out.size() - start >= max || !options_.termChar) return done();
    }
  }

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

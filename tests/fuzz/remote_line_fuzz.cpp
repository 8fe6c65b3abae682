// A remote line over an in-memory connection that plays the fuzz bytes as what
// the server sends, in pieces, then closes or starts over without end: open,
// setState, purge and read each end within a bounded number of socket calls,
// and what waits in the queue stays bounded.

#include <algorithm>
#include <memory>

#include "fuzz_check.h"
#include "platform/remote/remote_line.h"

using namespace loopmon;
using fuzz::require;

namespace {

// Plays `bytes` in pieces of `piece`, then closes or, `endless`, starts over.
class PlayedSocket final : public StreamSocket {
 public:
  PlayedSocket(std::vector<uint8_t> bytes, size_t piece, bool endless, size_t& calls)
      : bytes_(std::move(bytes)), piece_(piece), endless_(endless), calls_(calls) {}

  SocketFailure connect(const std::string&, uint16_t, uint32_t) override {
    ++calls_;
    connected_ = true;
    return {};
  }
  void close() override { connected_ = false; }
  bool isConnected() const override { return connected_; }
  bool send(const uint8_t*, size_t, uint32_t) override {
    ++calls_;
    return connected_;
  }
  std::optional<size_t> receive(uint8_t* buffer, size_t capacity, uint32_t) override {
    ++calls_;
    if (at_ == bytes_.size() && endless_) at_ = 0;
    connected_ = connected_ && at_ < bytes_.size();
    if (!connected_) return std::nullopt;
    const size_t n = std::min({piece_, capacity, bytes_.size() - at_});
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), n, buffer);
    at_ += n;
    return n;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t piece_;
  bool endless_;
  size_t& calls_;
  bool connected_ = false;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t calls = 0;
  const std::vector<uint8_t> bytes(data + 2, data + size);
  const std::string name = (data[0] & 1) ? "tcp://box:4001" : "rfc2217://box:2001";
  // Watched for a millisecond and made once: a server in memory closes at once
  // or never, and real time spent waiting for it is time not spent fuzzing.
  auto port = makeRemoteLinePort(
      systemClock(),
      [&] {
        return std::make_unique<PlayedSocket>(bytes, data[1] % 64 + 1, (data[0] & 2) != 0, calls);
      },
      RemoteSettling{1, 0});

  // A piece a call, and the replies sent back after each: the connection is
  // dropped once RemoteFloodBytes have come (the in-memory server takes no
  // time, so the line's pace allows nothing more).
  const size_t bound = 2 * (RemoteFloodBytes + 1) + 16;
  const auto bounded = [&](const char* property, auto&& call) {
    calls = 0;
    call();
    require(calls <= bound, property);
  };
  bounded("open ends within bounded socket calls", [&] { port->open(name); });
  bounded("setState ends within bounded socket calls", [&] { port->setState({9600, 8, 0, 0}); });
  bounded("purge ends within bounded socket calls", [&] { port->purge(PurgeAction::RxClear); });
  // A request in flight, so that what comes is sorted against what device 5 owes.
  const uint8_t request[] = {5, 6, 0, 0x1B, 1, 0, 0x38};
  port->requestGoesOut(request, sizeof request, true);
  uint8_t answer[6];
  port->setTimeouts({0, 0, 50, 0, 0});
  bounded("read ends within bounded socket calls", [&] { port->read(answer, sizeof answer); });

  // What is queued, taken at once.
  std::vector<uint8_t> queued(2 * RemoteQueueBytes);
  port->setTimeouts({0xFFFFFFFF, 0, 0, 0, 0});
  require(port->read(queued.data(), queued.size()) <= RemoteQueueBytes, "the queue stays bounded");
  return 0;
}

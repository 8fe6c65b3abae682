#include "platform/remote/remote_line.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <deque>
#include <thread>
#include <utility>

#include "platform/remote/owed_answers.h"
#include "platform/remote/telnet_codec.h"
#include "platform/serial/port_names.h"
#include "platform/serial/read_deadline.h"
#include "platform/system/deadline.h"

namespace loopmon {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A device server passes the line's bytes on after a pause of a character or
// two (ser2net: two, about 2 ms at 9600 baud); this covers that and the
// scheduling of both ends.
constexpr double ServerGatheringMs = 5;
// An answer that came after its try gave up cost a retry: the allowance then
// covers a quarter more than it needed, for the jitter that made it late.
constexpr double LateAnswerHeadroom = 1.25;
// Control requests whose answers are awaited, as far as they are kept: a
// server that leaves some unanswered must not grow the list.
constexpr size_t KeptControlRequests = 16;

double msBetween(SteadyClock::time_point from, SteadyClock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// What a remote line learns of its network: the round trip (the system's TCP
// estimate; where the system tells none, over RFC 2217 the time the server
// takes to answer a control request, which also holds the server's own
// handling: ser2net takes some 8 ms on the loopback address) and how much
// later than a local line's time-outs allow the answers have come.
class NetworkDelay {
 public:
  void noteKernelRoundTrip(double ms) { kernelMs_ = ms; }
  // Smoothed as TCP smooths its own estimate: one slow answer moves it an
  // eighth of the way.
  void noteServerRoundTrip(double ms) { serverMs_ = serverMs_ ? (7 * *serverMs_ + ms) / 8 : ms; }
  // A server may still be setting its line up when the connection is new:
  // until the line has answered once, the ceiling holds.
  void noteAnswered() { answered_ = true; }
  void noteConnected() { answered_ = false; }
  void noteAnswerNeeded(double ms, uint32_t ceilingMs) {
    if (ms > 0) answersNeededMs_ = std::max(answersNeededMs_, std::min<double>(ms, ceilingMs));
  }
  void noteLateAnswer(double ms, uint32_t ceilingMs) {
    noteAnswerNeeded(ms * LateAnswerHeadroom, ceilingMs);
  }
  // Twice the round trip, for its jitter, and the server's gathering; never
  // below what an answer has needed. Where neither the system nor the server
  // tells a round trip, the answers' times alone size it: the first answer,
  // read within the ceiling, shows how much of it it needed.
  uint32_t allowanceMs(uint32_t ceilingMs) const {
    if (!answered_) return ceilingMs;
    const double roundTripMs = kernelMs_ ? *kernelMs_ : serverMs_.value_or(0);
    const double fromNetwork = std::max(2 * roundTripMs + ServerGatheringMs, answersNeededMs_);
    return static_cast<uint32_t>(std::min<double>(std::ceil(fromNetwork), ceilingMs));
  }

 private:
  std::optional<double> kernelMs_;
  std::optional<double> serverMs_;
  double answersNeededMs_ = 0;
  bool answered_ = false;
};

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

// Win32 DCB codes to the values of RFC 2217.
uint8_t parityValue(uint8_t dcbParity) {
  return dcbParity <= 4 ? static_cast<uint8_t>(dcbParity + 1) : 1;
}
uint8_t stopSizeValue(uint8_t dcbStopBits) {
  switch (dcbStopBits) {
    case 1:
      return 3;  // one and a half
    case 2:
      return 2;
    default:
      return 1;
  }
}

std::string describe(const SocketFailure& failure) {
  const std::string detail = failure.systemText.empty() ? "" : " (" + failure.systemText + ")";
  switch (failure.kind) {
    case SocketError::HostNotFound:
      return "host not found" + detail;
    case SocketError::LookupTimedOut:
      return "no answer from the name service within " +
             std::to_string(RemoteConnectTimeoutMs / 1000) + " s";
    case SocketError::Refused:
      return "connection refused (nothing serves that port)";
    case SocketError::TimedOut:
      return "no connection within " + std::to_string(RemoteConnectTimeoutMs / 1000) + " s";
    case SocketError::Lost:
      return "connection lost";
    default:
      return "cannot connect" + detail;
  }
}

class RemoteLinePort final : public SerialPort {
 public:
  RemoteLinePort(std::function<std::unique_ptr<StreamSocket>()> makeSocket, RemoteSettling settling)
      : makeSocket_(std::move(makeSocket)), settling_(settling) {}

  bool open(const std::string& name) override {
    close();
    std::string problem;
    std::optional<RemoteLineAddress> address = parseRemoteLine(name, problem);
    if (!address) {
      failure_ = problem;
      return false;
    }
    address_ = *address;
    // One socket for every connection of the port: it keeps its name lookup.
    if (!socket_) socket_ = makeSocket_();
    const auto giveUp = SteadyClock::now() + std::chrono::milliseconds(settling_.busyServerMs);
    std::string said;
    while (true) {
      if (const SocketFailure failed =
              socket_->connect(address_.host, address_.port, RemoteConnectTimeoutMs)) {
        // Said so, a refusal right after a loss reads as the server going away.
        return fail(lost_ ? "connection lost, and connecting again failed: " + describe(failed)
                          : describe(failed));
      }
      codec_ = TelnetCodec();
      controlsAwaited_.clear();
      delay_.noteConnected();
      owed_.forgetAll();
      floodAllowance_ = RemoteFloodBytes;
      pacedUntil_ = SteadyClock::now();
      lost_ = false;
      if ((!telnet() || negotiate()) && settles(said)) break;
      if (!lost_) return false;
      if (SteadyClock::now() >= giveUp) {
        return fail("the server closes every connection at once" +
                    (said.empty() ? std::string() : ": \"" + said + "\""));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(settling_.settleMs));
    }
    failure_.clear();
    timeouts_ = CommTimeouts{};
    return true;
  }

  void close() override {
    if (socket_) socket_->close();
    received_.clear();
  }

  bool isOpen() const override { return socket_ && socket_->isConnected(); }

  bool getState(CommState& state) override {
    state = state_;
    return isOpen();
  }

  bool setState(const CommState& state) override {
    if (!isOpen()) return false;
    state_ = state;
    if (!telnet()) return true;
    // The server's own flow control stays off: the bus has no handshake lines.
    return sendCommand(TelnetCodec::baudRateCommand(state.baudRate)) &&
           sendCommand(TelnetCodec::comPortCommand(telnet::SetDataSize, {state.byteSize})) &&
           sendCommand(
               TelnetCodec::comPortCommand(telnet::SetParity, {parityValue(state.parity)})) &&
           sendCommand(
               TelnetCodec::comPortCommand(telnet::SetStopSize, {stopSizeValue(state.stopBits)})) &&
           sendCommand(TelnetCodec::comPortCommand(telnet::SetControl, {telnet::NoFlowControl}));
  }

  bool setupQueues(uint32_t, uint32_t) override { return isOpen(); }

  bool getTimeouts(CommTimeouts& timeouts) override {
    timeouts = timeouts_;
    return isOpen();
  }

  bool setTimeouts(const CommTimeouts& timeouts) override {
    timeouts_ = timeouts;
    return isOpen();
  }

  // The server's buffers are purged by command; the bytes already on their
  // way here are taken off the connection and dropped. Writes are synchronous,
  // so the abort actions have nothing of their own to do. While an answer is
  // owed, the server keeps the line's bytes: a late answer purged there would
  // leave its debt unpaid (the device's next request waiting for it, then a
  // new connection) and the line unaware that its allowance was short.
  bool purge(PurgeAction action) override {
    if (!isOpen()) return false;
    if (action == PurgeAction::TxClear) {
      return !telnet() ||
             sendCommand(TelnetCodec::comPortCommand(telnet::PurgeData, {telnet::PurgeToSend}));
    }
    if (action == PurgeAction::RxClear && telnet() && !owed_.owesAny() &&
        !sendCommand(TelnetCodec::comPortCommand(telnet::PurgeData, {telnet::PurgeReceived}))) {
      return false;
    }
    if (action == PurgeAction::RxClear || action == PurgeAction::RxAbort) {
      // Bytes that keep coming are left to the read; a flood has ended the
      // connection by then.
      const auto deadline = SteadyClock::now() + std::chrono::milliseconds(RemotePurgeLongestMs);
      received_.clear();
      while (SteadyClock::now() < deadline && pump(0) > 0) received_.clear();
    }
    return isOpen();
  }

  bool setDtr(bool on) override { return setControl(on ? telnet::DtrOn : telnet::DtrOff); }
  bool setRts(bool on) override { return setControl(on ? telnet::RtsOn : telnet::RtsOff); }

  uint32_t takeLineErrors() override { return 0; }

  size_t read(uint8_t* buffer, size_t count) override {
    const auto start = SteadyClock::now();
    ReadDeadline deadline(timeouts_, count, start);
    const auto longest = start + std::chrono::milliseconds(RemoteLongestReadMs);
    const auto limit = std::min(start + deadline.totalLimit(), longest);
    // What this read would have waited on a local line: the time-outs set,
    // without the network allowance handed out last.
    const double localLimitMs = msBetween(start, limit) - allowanceMs_;
    // An answer later than that and the ceiling on top is not waited for.
    owed_.tryLimits(localLimitMs, limit + std::chrono::milliseconds(ceilingMs_));
    size_t got = take(buffer, count);
    if (got > 0) deadline.bytesArrived(start);
    while (got < count && isOpen()) {
      const auto now = SteadyClock::now();
      const auto until = std::min(now + deadline.remaining(now, got), longest);
      if (until <= now) break;
      if (pump(msUntil(until, now)) < 0) break;
      const size_t more = take(buffer + got, count - got);
      if (more > 0) {
        got += more;
        deadline.bytesArrived(SteadyClock::now());
      }
    }
    arrivals_ = deadline.arrivals();
    if (got == count) {
      delay_.noteAnswered();
      delay_.noteAnswerNeeded(msBetween(start, SteadyClock::now()) - localLimitMs, ceilingMs_);
    } else if (isOpen()) {
      owed_.tryGaveUp();
    }
    return got;
  }

  // Answers owed to a different request of the same device are awaited
  // first, as long as they may still come. One that has not come by then may
  // come still, later than any limit: a new connection brings nothing of the
  // old one's, so the line connects again rather than guess.
  void requestGoesOut(const uint8_t* frame, size_t count, bool answerAwaited) override {
    if (!isOpen() || count == 0) return;
    if (owed_.owedBefore(frame, count) > 0) {
      const auto until = owed_.awaitedUntil(frame);
      while (owed_.owedBefore(frame, count) > 0 && SteadyClock::now() < until &&
             pump(msUntil(until)) >= 0) {
      }
      if (owed_.owedBefore(frame, count) > 0 && isOpen()) connectAgain();
      received_.clear();
      if (!isOpen()) return;
    }
    if (answerAwaited) owed_.requestSent(frame, count, SteadyClock::now());
  }

  ReadArrivals lastReadArrivals() const override { return arrivals_; }

  size_t write(const uint8_t* buffer, size_t count) override {
    if (!isOpen()) return 0;
    if (!telnet()) return send(buffer, count) ? count : 0;
    const TelnetBytes escaped = TelnetCodec::escape(buffer, count);
    return send(escaped.data(), escaped.size()) ? count : 0;
  }

  // The server sends the bytes on and turns its line round itself: nothing
  // here can tell when they have left it.
  bool drain() override { return false; }
  bool isRemote() const override { return true; }
  uint32_t networkAllowanceMs(uint32_t ceilingMs) override {
    ceilingMs_ = ceilingMs;
    if (const std::optional<uint32_t> micros =
            socket_ ? socket_->roundTripMicros() : std::nullopt) {
      delay_.noteKernelRoundTrip(*micros / 1000.0);
    }
    allowanceMs_ = delay_.allowanceMs(ceilingMs);
    return allowanceMs_;
  }
  std::string failure() const override { return failure_; }
  std::string takeDropped() override { return std::exchange(dropped_, {}); }

 private:
  bool telnet() const { return address_.protocol == RemoteProtocol::Rfc2217; }

  // A new connection with the line's settings and time-outs as they were.
  void connectAgain() {
    const CommState state = state_;
    const CommTimeouts timeouts = timeouts_;
    if (!open(address_.text())) return;
    timeouts_ = timeouts;
    setState(state);
  }

  bool fail(const std::string& why) {
    if (socket_) socket_->close();
    received_.clear();
    failure_ = address_.text() + ": " + why;
    return false;
  }

  bool lose() {
    lost_ = true;
    return fail(describe({SocketError::Lost, {}}));
  }

  // The far end, not the network, made the line unusable: the connection goes
  // and the reason is told once (takeDropped).
  bool drop(const std::string& why) {
    fail(why);
    dropped_ = failure_;
    return false;
  }
  bool floods() {
    return drop("the line sends without pause (" + std::to_string(RemoteFloodBytes / 1024) +
                " KB more than a bus carries); the connection is dropped");
  }

  // Counts `bytes` that came against what the line's pace allows since the
  // connection began; false once they run RemoteFloodBytes beyond it.
  bool withinPace(size_t bytes) {
    const auto now = SteadyClock::now();
    const double seconds = std::chrono::duration<double>(now - pacedUntil_).count();
    pacedUntil_ = now;
    floodAllowance_ = std::min<double>(RemoteFloodBytes,
                                       floodAllowance_ + seconds * RemoteLinePaceBytesPerSecond);
    floodAllowance_ -= static_cast<double>(bytes);
    return floodAllowance_ >= 0;
  }

  // Offers binary transmission and the COM port option and waits, answering
  // the server's own requests, until it has taken or refused each of them.
  bool negotiate() {
    const TelnetBytes offers = codec_.offers();
    if (!send(offers.data(), offers.size())) return false;
    const auto deadline =
        SteadyClock::now() + std::chrono::milliseconds(RemoteNegotiationTimeoutMs);
    while (!codec_.settled()) {
      const uint32_t left = msUntil(deadline);
      if (left == 0) {
        return fail("no answer to the COM port option within " +
                    std::to_string(RemoteNegotiationTimeoutMs / 1000) +
                    " s (not a telnet server with RFC 2217?)");
      }
      if (pump(left) < 0) return false;
    }
    if (codec_.comPort() == TelnetCodec::Option::Refused) {
      return fail("the server refuses the COM port option (RFC 2217); is it a raw tcp:// port?");
    }
    if (codec_.binary() == TelnetCodec::Option::Refused) {
      return fail("the server refuses binary transmission");
    }
    return true;
  }

  // Watches a new connection for its settling time: false when the server closes
  // it meanwhile, with the printable text it sent before in `said`.
  bool settles(std::string& said) {
    const auto until = SteadyClock::now() + std::chrono::milliseconds(settling_.settleMs);
    while (true) {
      const auto now = SteadyClock::now();
      if (now >= until) return true;
      const std::string before(received_.begin(), received_.end());
      if (pump(msUntil(until, now)) < 0) {
        said.clear();
        for (const char c : before) {
          if (c >= ' ' && c <= '~') said += c;
        }
        return false;
      }
    }
  }

  // Waits at most `waitMs` for what the server sends and files it: data bytes
  // for read(), answers to its requests straight back. The count of bytes that
  // came, or -1 when the connection is gone or has been dropped: for a
  // subnegotiation that runs on, or for a flood (see RemoteFloodBytes).
  int pump(uint32_t waitMs) {
    uint8_t chunk[512];
    const std::optional<size_t> n = socket_->receive(chunk, sizeof chunk, waitMs);
    if (!n) {
      lose();
      return -1;
    }
    TelnetBytes replies;
    const auto now = SteadyClock::now();
    std::vector<OwedAnswers::LateAnswer> late;
    if (!telnet()) {
      late = owed_.sort(chunk, *n, received_, now);
    } else {
      TelnetBytes data;
      codec_.receive(chunk, *n, data, replies);
      if (codec_.broken()) {
        drop("the server sends a telnet subnegotiation of over " +
             std::to_string(MaxSubnegotiationBytes) + " bytes; the connection is dropped");
        return -1;
      }
      for (const uint8_t code : codec_.takeComPortAnswers()) serverAnswered(code, now);
      late = owed_.sort(data.data(), data.size(), received_, now);
    }
    if (!withinPace(*n) || received_.size() > RemoteQueueBytes) {
      floods();
      return -1;
    }
    // An answer that came after its try gave up tells how much longer than
    // it was given it needed, so the next try gets that much.
    for (const OwedAnswers::LateAnswer& answer : late) {
      delay_.noteLateAnswer(answer.beyondLocalLimitMs, ceilingMs_);
    }
    if (!replies.empty() && !send(replies.data(), replies.size())) return -1;
    return static_cast<int>(*n);
  }

  size_t take(uint8_t* buffer, size_t count) {
    const size_t n = std::min(count, received_.size());
    std::copy_n(received_.begin(), n, buffer);
    received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
  }

  bool send(const uint8_t* bytes, size_t count) {
    if (socket_->send(bytes, count, RemoteSendTimeoutMs)) return true;
    return lose();
  }

  bool sendCommand(const TelnetBytes& command) {
    if (!send(command.data(), command.size())) return false;
    if (controlsAwaited_.size() == KeptControlRequests) controlsAwaited_.pop_front();
    controlsAwaited_.push_back({command[3], SteadyClock::now()});
    return true;
  }

  // The server answers a command with its code + 100, in the order sent; the
  // commands before the one answered are taken as left unanswered.
  void serverAnswered(uint8_t code, SteadyClock::time_point now) {
    const auto answered = std::find_if(
        controlsAwaited_.begin(), controlsAwaited_.end(),
        [code](const auto& sent) { return sent.first + telnet::ServerAnswerOffset == code; });
    if (answered == controlsAwaited_.end()) return;
    delay_.noteServerRoundTrip(msBetween(answered->second, now));
    controlsAwaited_.erase(controlsAwaited_.begin(), answered + 1);
  }

  bool setControl(uint8_t value) {
    if (!isOpen() || !telnet()) return false;  // a raw line has no modem lines to set
    return sendCommand(TelnetCodec::comPortCommand(telnet::SetControl, {value}));
  }

  std::function<std::unique_ptr<StreamSocket>()> makeSocket_;
  RemoteSettling settling_;
  std::unique_ptr<StreamSocket> socket_;
  RemoteLineAddress address_;
  TelnetCodec codec_;
  std::deque<uint8_t> received_;
  CommState state_;
  CommTimeouts timeouts_;
  ReadArrivals arrivals_;
  std::string failure_;
  std::string dropped_;        // why the line was dropped, until taken
  double floodAllowance_ = 0;  // bytes the line may still bring beyond its pace
  SteadyClock::time_point pacedUntil_;
  bool lost_ = false;  // the last connection broke; cleared by the next open
  NetworkDelay delay_;
  uint32_t ceilingMs_ = 0;
  uint32_t allowanceMs_ = 0;  // the allowance handed out last
  OwedAnswers owed_;
  // The control requests sent (command code, when) whose answers are awaited.
  std::deque<std::pair<uint8_t, SteadyClock::time_point>> controlsAwaited_;
};

}  // namespace

std::string RemoteLineAddress::text() const {
  const bool bracketed = host.find(':') != std::string::npos;
  return std::string(protocol == RemoteProtocol::Rfc2217 ? Rfc2217Prefix : RawTcpPrefix) +
         (bracketed ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<RemoteLineAddress> parseRemoteLine(const std::string& name, std::string& problem) {
  RemoteLineAddress address;
  std::string rest;
  if (startsWithNoCase(name, Rfc2217Prefix)) {
    rest = name.substr(std::string(Rfc2217Prefix).size());
  } else if (startsWithNoCase(name, RawTcpPrefix)) {
    address.protocol = RemoteProtocol::RawTcp;
    rest = name.substr(std::string(RawTcpPrefix).size());
  } else {
    problem = name + ": not a remote line (rfc2217://HOST:PORT or tcp://HOST:PORT)";
    return std::nullopt;
  }
  const size_t colon = rest.rfind(':');
  std::string host = colon == std::string::npos ? rest : rest.substr(0, colon);
  const std::string port = colon == std::string::npos ? "" : rest.substr(colon + 1);
  // Brackets hold an IPv6 address and nothing else holds a colon; no name
  // holds brackets, a slash, blanks or control characters.
  const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
  if (bracketed) host = host.substr(1, host.size() - 2);
  const bool unusable = std::any_of(host.begin(), host.end(), [&](unsigned char c) {
    return c <= ' ' || c == 0x7F || c == '[' || c == ']' || c == '/' || (c == ':' && !bracketed);
  });
  if (unusable) host.clear();
  long number = 0;
  const bool digits =
      !port.empty() && port.size() <= 5 &&
      std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) number = std::stol(port);
  if (host.empty() || !digits || number < 1 || number > 65535) {
    problem = name + ": expected " +
              (address.protocol == RemoteProtocol::Rfc2217 ? "rfc2217" : "tcp") +
              "://HOST:PORT with a port of 1..65535";
    return std::nullopt;
  }
  address.host = host;
  address.port = static_cast<uint16_t>(number);
  return address;
}

std::unique_ptr<SerialPort> makeRemoteLinePort(
    std::function<std::unique_ptr<StreamSocket>()> makeSocket, RemoteSettling settling) {
  return std::make_unique<RemoteLinePort>(std::move(makeSocket), settling);
}

}  // namespace loopmon

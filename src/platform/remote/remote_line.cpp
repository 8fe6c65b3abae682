#include "platform/remote/remote_line.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <utility>

#include "platform/remote/clock_time.h"
#include "platform/remote/com_port_settings.h"
#include "platform/remote/flood_guard.h"
#include "platform/remote/network_delay.h"
#include "platform/remote/owed_answers.h"
#include "platform/remote/telnet_codec.h"
#include "platform/serial/read_deadline.h"
#include "platform/system/deadline.h"

namespace loopmon {
namespace {

using Time = std::chrono::steady_clock::time_point;

double msBetween(Time from, Time to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
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
  RemoteLinePort(std::shared_ptr<Clock> clock,
                 std::function<std::unique_ptr<StreamSocket>()> makeSocket, RemoteSettling settling)
      : clock_(std::move(clock)), makeSocket_(std::move(makeSocket)), settling_(settling) {}

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
    const auto giveUp = now() + std::chrono::milliseconds(settling_.busyServerMs);
    std::string said;
    while (true) {
      if (const SocketFailure failed =
              socket_->connect(address_.host, address_.port, RemoteConnectTimeoutMs)) {
        // Said so, a refusal right after a loss reads as the server going away.
        return fail(lost_ ? "connection lost, and connecting again failed: " + describe(failed)
                          : describe(failed));
      }
      codec_ = TelnetCodec();
      delay_.noteConnected();
      owed_.forgetAll();
      flood_.restart(now());
      lost_ = false;
      if ((!telnet() || negotiate()) && settles(said)) break;
      if (!lost_) return false;
      if (now() >= giveUp) {
        return fail("the server closes every connection at once" +
                    (said.empty() ? std::string() : ": \"" + said + "\""));
      }
      clock_->sleepMs(settling_.settleMs);
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
    for (const TelnetBytes& command : comPortSettingCommands(state)) {
      if (!sendCommand(command)) return false;
    }
    return true;
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
      const auto deadline = now() + std::chrono::milliseconds(RemotePurgeLongestMs);
      received_.clear();
      while (now() < deadline && pump(0) > 0) received_.clear();
    }
    return isOpen();
  }

  bool setDtr(bool on) override { return setControl(on ? telnet::DtrOn : telnet::DtrOff); }
  bool setRts(bool on) override { return setControl(on ? telnet::RtsOn : telnet::RtsOff); }

  uint32_t takeLineErrors() override { return 0; }

  size_t read(uint8_t* buffer, size_t count) override {
    const auto start = now();
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
      const Time at = now();
      const auto until = std::min(at + deadline.remaining(at, got), longest);
      if (until <= at) break;
      if (pump(msUntil(until, at)) < 0) break;
      const size_t more = take(buffer + got, count - got);
      if (more > 0) {
        got += more;
        deadline.bytesArrived(now());
      }
    }
    arrivals_ = deadline.arrivals();
    if (got == count) {
      delay_.noteAnswered();
      delay_.noteAnswerNeeded(msBetween(start, now()) - localLimitMs, ceilingMs_);
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
      while (owed_.owedBefore(frame, count) > 0 && now() < until &&
             pump(msUntil(until, now())) >= 0) {
      }
      if (owed_.owedBefore(frame, count) > 0 && isOpen()) connectAgain();
      received_.clear();
      if (!isOpen()) return;
    }
    if (answerAwaited) owed_.requestSent(frame, count, now());
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

  // Offers binary transmission and the COM port option and waits, answering
  // the server's own requests, until it has taken or refused each of them.
  bool negotiate() {
    const TelnetBytes offers = codec_.offers();
    if (!send(offers.data(), offers.size())) return false;
    const auto deadline = now() + std::chrono::milliseconds(RemoteNegotiationTimeoutMs);
    while (!codec_.settled()) {
      const uint32_t left = msUntil(deadline, now());
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
    const auto until = now() + std::chrono::milliseconds(settling_.settleMs);
    while (true) {
      const Time at = now();
      if (at >= until) return true;
      const std::string before(received_.begin(), received_.end());
      if (pump(msUntil(until, at)) < 0) {
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
    const Time at = now();
    std::vector<OwedAnswers::LateAnswer> late;
    if (!telnet()) {
      late = owed_.sort(chunk, *n, received_, at);
    } else {
      TelnetBytes data;
      codec_.receive(chunk, *n, data, replies);
      if (codec_.broken()) {
        drop("the server sends a telnet subnegotiation of over " +
             std::to_string(MaxSubnegotiationBytes) + " bytes; the connection is dropped");
        return -1;
      }
      for (const uint8_t code : codec_.takeComPortAnswers()) delay_.noteServerAnswered(code, at);
      late = owed_.sort(data.data(), data.size(), received_, at);
    }
    if (!flood_.admits(*n, received_.size(), at)) {
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
    delay_.noteControlSent(command[3], now());
    return true;
  }

  bool setControl(uint8_t value) {
    if (!isOpen() || !telnet()) return false;  // a raw line has no modem lines to set
    return sendCommand(TelnetCodec::comPortCommand(telnet::SetControl, {value}));
  }

  Time now() const { return clockTime(*clock_); }

  std::shared_ptr<Clock> clock_;
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
  std::string dropped_;  // why the line was dropped, until taken
  FloodGuard flood_;
  bool lost_ = false;  // the last connection broke; cleared by the next open
  NetworkDelay delay_;
  uint32_t ceilingMs_ = 0;
  uint32_t allowanceMs_ = 0;  // the allowance handed out last
  OwedAnswers owed_;
};

}  // namespace

std::unique_ptr<SerialPort> makeRemoteLinePort(
    std::shared_ptr<Clock> clock, std::function<std::unique_ptr<StreamSocket>()> makeSocket,
    RemoteSettling settling) {
  return std::make_unique<RemoteLinePort>(std::move(clock), std::move(makeSocket), settling);
}

}  // namespace loopmon

#pragma once
// A serial port that hands every call to another one: the base of wrappers
// that watch a few calls (timings of an exchange) and must pass the rest on
// unchanged, also the calls the interface gains later; and of ports that
// choose, as they open, which of the ports they own the calls go to.

#include <memory>
#include <string>
#include <utility>

#include "platform/serial/serial_port.h"

namespace loopmon {

class SerialPortRelay : public SerialPort {
 public:
  explicit SerialPortRelay(std::unique_ptr<SerialPort> inner)
      : owned_(std::move(inner)), inner_(owned_.get()) {}

  bool open(const std::string& name) override { return inner_->open(name); }
  OpenError openError() const override { return inner_->openError(); }
  void close() override { inner_->close(); }
  bool isOpen() const override { return inner_->isOpen(); }
  bool getState(CommState& state) override { return inner_->getState(state); }
  bool setState(const CommState& state) override { return inner_->setState(state); }
  bool setupQueues(uint32_t rx, uint32_t tx) override { return inner_->setupQueues(rx, tx); }
  bool getTimeouts(CommTimeouts& t) override { return inner_->getTimeouts(t); }
  bool setTimeouts(const CommTimeouts& t) override { return inner_->setTimeouts(t); }
  bool purge(PurgeAction action) override { return inner_->purge(action); }
  bool setDtr(bool on) override { return inner_->setDtr(on); }
  bool setRts(bool on) override { return inner_->setRts(on); }
  uint32_t takeLineErrors() override { return inner_->takeLineErrors(); }
  size_t read(uint8_t* buffer, size_t count) override { return inner_->read(buffer, count); }
  size_t write(const uint8_t* buffer, size_t count) override {
    return inner_->write(buffer, count);
  }
  ReadArrivals lastReadArrivals() const override { return inner_->lastReadArrivals(); }
  bool drain() override { return inner_->drain(); }
  void requestGoesOut(const uint8_t* frame, size_t count, bool answerAwaited) override {
    inner_->requestGoesOut(frame, count, answerAwaited);
  }
  bool isRemote() const override { return inner_->isRemote(); }
  uint32_t networkAllowanceMs(uint32_t ceilingMs) override {
    return inner_->networkAllowanceMs(ceilingMs);
  }
  std::string failure() const override { return inner_->failure(); }
  std::string takeDropped() override { return inner_->takeDropped(); }
  bool supportsKernelRs485() override { return inner_->supportsKernelRs485(); }
  bool enableKernelRs485() override { return inner_->enableKernelRs485(); }

 protected:
  // The port given at the start, and the one the calls go to from now on,
  // which the relay's owner keeps alive.
  SerialPort& relayed() { return *owned_; }
  void relayTo(SerialPort& port) { inner_ = &port; }

 private:
  std::unique_ptr<SerialPort> owned_;
  SerialPort* inner_;
};

}  // namespace loopmon

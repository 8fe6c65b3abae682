#include "platform/line_port.h"

#include <string>
#include <utility>

#include "platform/remote/remote_line.h"
#include "platform/serial/port_names.h"
#include "platform/store/registry.h"
#include "platform/store/whole_file.h"

namespace loopmon {
namespace {

// Opens a remote line or the local serial port, whichever the name leads to,
// and hands every call to it.
class LinePort final : public SerialPort {
 public:
  explicit LinePort(std::shared_ptr<const Registry> registry) : registry_(std::move(registry)) {}

  bool open(const std::string& name) override {
    close();
    std::string target = name;
    storeFailure_.clear();
    try {
      if (registry_) target = resolvePortName(*registry_, name);
    } catch (const FileError& error) {
      // The store of COM names cannot be read: the port cannot be told.
      active_ = nullptr;
      storeFailure_ = name + ": " + error.what();
      return false;
    }
    if (isRemoteLineName(target)) {
      if (!remote_) remote_ = makeRemoteLinePort([] { return makeStreamSocket(); });
      active_ = remote_.get();
      return remote_->open(target);
    }
    if (!local_) local_ = makeSerialPort();
    active_ = local_.get();
    return local_->open(name);
  }

  void close() override {
    if (active_) active_->close();
  }
  bool isOpen() const override { return active_ && active_->isOpen(); }
  bool getState(CommState& state) override { return active_ && active_->getState(state); }
  bool setState(const CommState& state) override { return active_ && active_->setState(state); }
  bool setupQueues(uint32_t receiveBytes, uint32_t transmitBytes) override {
    return active_ && active_->setupQueues(receiveBytes, transmitBytes);
  }
  bool getTimeouts(CommTimeouts& timeouts) override {
    return active_ && active_->getTimeouts(timeouts);
  }
  bool setTimeouts(const CommTimeouts& timeouts) override {
    return active_ && active_->setTimeouts(timeouts);
  }
  bool purge(PurgeAction action) override { return active_ && active_->purge(action); }
  bool setDtr(bool on) override { return active_ && active_->setDtr(on); }
  bool setRts(bool on) override { return active_ && active_->setRts(on); }
  uint32_t takeLineErrors() override { return active_ ? active_->takeLineErrors() : 0; }
  size_t read(uint8_t* buffer, size_t count) override {
    return active_ ? active_->read(buffer, count) : 0;
  }
  size_t write(const uint8_t* buffer, size_t count) override {
    return active_ ? active_->write(buffer, count) : 0;
  }
  ReadArrivals lastReadArrivals() const override {
    return active_ ? active_->lastReadArrivals() : ReadArrivals{};
  }
  bool drain() override { return active_ && active_->drain(); }
  OpenError openError() const override { return active_ ? active_->openError() : OpenError{}; }
  bool supportsKernelRs485() override { return active_ && active_->supportsKernelRs485(); }
  bool enableKernelRs485() override { return active_ && active_->enableKernelRs485(); }
  void requestGoesOut(const uint8_t* frame, size_t count, bool answerAwaited) override {
    if (active_) active_->requestGoesOut(frame, count, answerAwaited);
  }
  bool isRemote() const override { return active_ && active_->isRemote(); }
  uint32_t networkAllowanceMs(uint32_t ceilingMs) override {
    return active_ ? active_->networkAllowanceMs(ceilingMs) : ceilingMs;
  }
  std::string failure() const override { return active_ ? active_->failure() : storeFailure_; }
  std::string takeDropped() override { return active_ ? active_->takeDropped() : std::string(); }

 private:
  std::shared_ptr<const Registry> registry_;
  std::unique_ptr<SerialPort> local_;
  std::unique_ptr<SerialPort> remote_;
  SerialPort* active_ = nullptr;
  std::string storeFailure_;
};

}  // namespace

std::unique_ptr<SerialPort> makeLinePort(std::shared_ptr<const Registry> registry) {
  return std::make_unique<LinePort>(std::move(registry));
}

}  // namespace loopmon

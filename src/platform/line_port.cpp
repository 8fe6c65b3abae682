#include "platform/line_port.h"

#include <string>
#include <utility>

#include "platform/remote/remote_line.h"
#include "platform/serial/port_names.h"
#include "platform/serial/serial_port_relay.h"
#include "platform/store/registry.h"
#include "platform/store/whole_file.h"

namespace loopmon {
namespace {

// Opens a remote line or the local serial port, whichever the name leads to,
// and hands every call to it. Both are kept once made: the remote line keeps
// its name lookup from one opening to the next.
class LinePort final : public SerialPortRelay {
 public:
  LinePort(std::shared_ptr<const Registry> registry, std::shared_ptr<Clock> clock)
      : SerialPortRelay(makeSerialPort()),
        registry_(std::move(registry)),
        clock_(std::move(clock)) {}

  bool open(const std::string& name) override {
    close();
    std::string target = name;
    storeFailure_.clear();
    try {
      if (registry_) target = resolvePortName(*registry_, name);
    } catch (const FileError& error) {
      // The store of COM names cannot be read: the port cannot be told.
      storeFailure_ = name + ": " + error.what();
      return false;
    }
    if (isRemoteLineName(target)) {
      if (!remote_)
        remote_ = makeRemoteLinePort(clock_, [clock = clock_] { return makeStreamSocket(clock); });
      relayTo(*remote_);
      return remote_->open(target);
    }
    relayTo(relayed());
    return relayed().open(name);
  }

  OpenError openError() const override {
    return storeFailure_.empty() ? SerialPortRelay::openError() : OpenError{};
  }
  std::string failure() const override {
    return storeFailure_.empty() ? SerialPortRelay::failure() : storeFailure_;
  }

 private:
  std::shared_ptr<const Registry> registry_;
  std::shared_ptr<Clock> clock_;
  std::unique_ptr<SerialPort> remote_;
  std::string storeFailure_;
};

}  // namespace

std::unique_ptr<SerialPort> makeLinePort(std::shared_ptr<const Registry> registry,
                                         std::shared_ptr<Clock> clock) {
  return std::make_unique<LinePort>(std::move(registry), std::move(clock));
}

}  // namespace loopmon

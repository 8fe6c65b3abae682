// The bus driver device. It is opened the way a dynamically loaded driver of
// the Windows 9x family is: no access, no sharing, creation disposition 0 and
// delete-on-close, which unloads it with the last handle. NT-family systems
// refuse a creation disposition of 0, so there the open fails and the bus is
// reached over the serial port.

#include "platform/serial/bus_driver.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {
namespace {

class Win32BusDriver final : public BusDriver {
 public:
  ~Win32BusDriver() override { close(); }

  bool open() override {
    close();
    handle_ = CreateFileW(L"\\\\.\\VELTA485", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    return isOpen();
  }

  void close() override {
    if (!isOpen()) return;
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  bool isOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

  // The driver takes the bare numbers 1..7 as its control codes.
  uint32_t control(uint32_t code, const void* input, uint32_t inputBytes, void* output,
                   uint32_t outputBytes) override {
    DWORD returned = 0;
    DeviceIoControl(handle_, code, const_cast<void*>(input), inputBytes, output, outputBytes,
                    &returned, nullptr);
    return returned;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<BusDriver> makeBusDriver() {
  return std::make_unique<Win32BusDriver>();
}

}  // namespace loopmon

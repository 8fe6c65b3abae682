// Markers are real named mutexes, never waited on: the system closes the last
// handle of a process that ends, also on a crash, which is what makes a
// marker vanish with its last holder.

#include "platform/system/named_marker.h"
#include "platform/system/windows_api_win32.h"

namespace loopmon {
namespace {

class MutexHold final : public MarkerHold {
 public:
  explicit MutexHold(HANDLE handle) : handle_(handle) {}
  ~MutexHold() override { CloseHandle(handle_); }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

 private:
  HANDLE handle_;
};

class MutexMarkers final : public MarkerService {
 public:
  std::unique_ptr<MarkerHold> create(const std::string& name, bool& alreadyExisted) override {
    HANDLE handle = CreateMutexW(nullptr, FALSE, win32::widen(name).c_str());
    alreadyExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    if (!handle) {
      alreadyExisted = false;
      return nullptr;
    }
    return std::make_unique<MutexHold>(handle);
  }

  std::unique_ptr<MarkerHold> openExisting(const std::string& name) override {
    HANDLE handle = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, win32::widen(name).c_str());
    if (!handle) return nullptr;
    return std::make_unique<MutexHold>(handle);
  }
};

}  // namespace

std::unique_ptr<MarkerService> makeMarkerService(std::function<std::string()>) {
  return std::make_unique<MutexMarkers>();
}

}  // namespace loopmon

#pragma once
// In-memory named markers. A marker exists while any hold on it is alive;
// holdElsewhere stands for another process keeping one.

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/system/named_marker.h"

namespace loopmon::testing {

class FakeMarkers : public MarkerService, public std::enable_shared_from_this<FakeMarkers> {
 public:
  std::unique_ptr<MarkerHold> create(const std::string& name, bool& alreadyExisted) override {
    std::lock_guard lock(mutex_);
    alreadyExisted = holders_[name] > 0;
    return holdLocked(name);
  }
  std::unique_ptr<MarkerHold> openExisting(const std::string& name) override {
    std::lock_guard lock(mutex_);
    return holders_[name] > 0 ? holdLocked(name) : nullptr;
  }

  bool exists(const std::string& name) const { return holders(name) > 0; }
  int holders(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto it = holders_.find(name);
    return it == holders_.end() ? 0 : it->second;
  }
  void holdElsewhere(const std::string& name) {
    std::lock_guard lock(mutex_);
    ++holders_[name];
  }

 private:
  struct Hold : MarkerHold {
    Hold(std::shared_ptr<FakeMarkers> owner, std::string held)
        : markers(std::move(owner)), name(std::move(held)) {}
    ~Hold() override {
      std::lock_guard lock(markers->mutex_);
      --markers->holders_[name];
    }
    std::shared_ptr<FakeMarkers> markers;
    std::string name;
  };

  std::unique_ptr<MarkerHold> holdLocked(const std::string& name) {
    ++holders_[name];
    return std::make_unique<Hold>(shared_from_this(), name);
  }

  mutable std::mutex mutex_;
  std::map<std::string, int> holders_;
};

}  // namespace loopmon::testing

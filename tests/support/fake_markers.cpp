#include "fake_markers.h"

namespace loopmon::testing {

class FakeMarkerHold : public MarkerHold {
 public:
  FakeMarkerHold(std::shared_ptr<FakeMarkers> markers, std::string name)
      : markers_(std::move(markers)), name_(std::move(name)) {}
  ~FakeMarkerHold() override { markers_->release(name_); }

 private:
  std::shared_ptr<FakeMarkers> markers_;
  std::string name_;
};

std::unique_ptr<MarkerHold> FakeMarkers::create(const std::string& name, bool& alreadyExisted) {
  std::lock_guard lock(mutex_);
  int& count = holders_[name];
  alreadyExisted = count > 0;
  ++count;
  return std::make_unique<FakeMarkerHold>(shared_from_this(), name);
}

std::unique_ptr<MarkerHold> FakeMarkers::openExisting(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = holders_.find(name);
  if (it == holders_.end() || it->second == 0) return nullptr;
  ++it->second;
  return std::make_unique<FakeMarkerHold>(shared_from_this(), name);
}

bool FakeMarkers::exists(const std::string& name) const {
  return holders(name) > 0;
}

int FakeMarkers::holders(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = holders_.find(name);
  return it == holders_.end() ? 0 : it->second;
}

void FakeMarkers::holdElsewhere(const std::string& name) {
  std::lock_guard lock(mutex_);
  ++holders_[name];
}

void FakeMarkers::releaseElsewhere(const std::string& name) {
  release(name);
}

void FakeMarkers::release(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = holders_.find(name);
  if (it != holders_.end() && it->second > 0) --it->second;
}

}  // namespace loopmon::testing

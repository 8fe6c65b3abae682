#pragma once
// In-memory named markers. A marker exists while any hold on it is alive;
// holdElsewhere stands for another process keeping one.

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/named_marker.h"

namespace loopmon::testing {

class FakeMarkers : public MarkerService, public std::enable_shared_from_this<FakeMarkers> {
 public:
  std::unique_ptr<MarkerHold> create(const std::string& name, bool& alreadyExisted) override;
  std::unique_ptr<MarkerHold> openExisting(const std::string& name) override;

  bool exists(const std::string& name) const;
  int holders(const std::string& name) const;
  void holdElsewhere(const std::string& name);
  void releaseElsewhere(const std::string& name);

 private:
  friend class FakeMarkerHold;
  void release(const std::string& name);

  mutable std::mutex mutex_;
  std::map<std::string, int> holders_;
};

}  // namespace loopmon::testing

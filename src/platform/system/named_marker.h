#pragma once
// System-wide named markers standing in for named mutexes that are never
// waited on: holding one announces something to other processes. A marker
// exists while at least one holder keeps it, and vanishes when the last holder
// ends, also on a crash.

#include <functional>
#include <memory>
#include <string>

namespace loopmon {

class MarkerHold {
 public:
  virtual ~MarkerHold() = default;
};

class MarkerService {
 public:
  virtual ~MarkerService() = default;
  // Creates (or joins) the marker; `alreadyExisted` tells whether another holder had it.
  virtual std::unique_ptr<MarkerHold> create(const std::string& name, bool& alreadyExisted) = 0;
  // Joins the marker only if it exists; null otherwise.
  virtual std::unique_ptr<MarkerHold> openExisting(const std::string& name) = 0;
};

// The system's markers. On POSIX they are files in the folder `folder` names
// at each hold ("" when there is none), so a folder removed meanwhile is made
// again; Windows names its mutexes in the session's namespace and never asks.
std::unique_ptr<MarkerService> makeMarkerService(std::function<std::string()> folder);

}  // namespace loopmon

#pragma once

namespace loopmon {

struct OsVersion {
  bool ntPlatform = false;
  unsigned major = 0;
};

OsVersion queryOsVersion();

}  // namespace loopmon

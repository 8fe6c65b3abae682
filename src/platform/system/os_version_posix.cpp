#include "platform/system/os_version.h"

namespace loopmon {

// The bus code's choices (priorities, timer resolution, the end-of-exchange
// pause) follow a current NT-family system, which is what POSIX systems match.
OsVersion queryOsVersion() {
  return OsVersion{true, 10};
}

}  // namespace loopmon

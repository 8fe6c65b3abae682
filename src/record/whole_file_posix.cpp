#include <cerrno>
#include <cstring>

#include "platform/posix_files.h"
#include "record/site_record.h"

namespace loopmon {

void SaveWholeFile(const std::string& path, const std::string& content) {
  errno = 0;
  if (posix::replaceFile(path, content)) return;
  const int error = errno;
  throw RecordError(path + ": cannot be written" +
                    (error != 0 ? std::string(" (") + std::strerror(error) + ")" : ""));
}

}  // namespace loopmon

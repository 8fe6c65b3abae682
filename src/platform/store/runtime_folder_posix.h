#pragma once
// How the POSIX side finds the per-user runtime folder, open to the tests.

#include <string>

namespace loopmon::posix {

// The per-user runtime folder: `shared` (a fixed name such as
// /tmp/loopmon-<uid>/) when it is, or can be made, this user's own and
// private. When another user made it first, a fresh private folder beside it
// (`shared` without its slash, a dot and a random suffix), whose name is kept
// in the file `pointer` for every later call to find; "" when none can be had.
std::string privateRuntimeFolder(const std::string& shared, const std::string& pointer);

}  // namespace loopmon::posix

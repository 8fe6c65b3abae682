#pragma once
// What the profile files of both systems share: the text of an integer value
// and the names and values a write accepts.

#include <string>
#include <utility>
#include <vector>

namespace loopmon {

// Decimal, or hexadecimal after "0x" or "$", with an optional sign; the
// leading digits count (0 when there are none) and the result wraps at 32 bits.
int profileInteger(const std::string& value);

// False for entries that would not come back as written: a line break in a
// name or value, an empty name, "=" in a key or "]" in a section name.
bool acceptableProfileEntries(const std::string& section,
                              const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace loopmon

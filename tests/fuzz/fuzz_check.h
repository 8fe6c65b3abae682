#pragma once
// A property a fuzz target finds broken is a finding, like a crash: it is
// reported and the run stops, so libFuzzer keeps the input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace loopmon::fuzz {

inline void require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "broken property: %s\n", property);
  std::abort();
}

inline std::string textOf(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace loopmon::fuzz

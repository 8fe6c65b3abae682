#pragma once
// SHA-256 of a string of bytes, for the digest a signed page carries of its
// record: a changed byte in the record shows as another digest.

#include <string>
#include <string_view>

namespace loopmon {

// The digest as 64 lowercase hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace loopmon

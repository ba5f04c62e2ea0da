// UTF-8 validation and repair.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// The longest prefix of `bytes` that is well-formed UTF-8 (`size` bytes), and whether what follows
// it could still become well-formed: nothing, or the start of a sequence that the bytes end in the
// middle of (as when a text arrives in pieces).
struct Utf8Prefix {
  std::size_t size = 0;
  bool restMayComplete = true;
};
Utf8Prefix wellFormedPrefix(std::string_view bytes);

// `bytes` with every ill-formed sequence replaced by U+FFFD, one replacement per maximal subpart
// (the practice Unicode recommends and browsers follow). Valid input comes back unchanged.
std::string toValidUtf8(std::string_view bytes);

}  // namespace corvane

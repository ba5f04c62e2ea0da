// A code point in UTF-8, for tests that build texts from code points.
#pragma once

#include <string>

namespace corvane::testing {

inline std::string encodeUtf8(char32_t codePoint) {
  if (codePoint < 0x80) return std::string(1, static_cast<char>(codePoint));
  const int continuations = codePoint < 0x800 ? 1 : codePoint < 0x10000 ? 2 : 3;
  std::string bytes(1, static_cast<char>(((0xFF00 >> (continuations + 1)) & 0xFF) |
                                         (codePoint >> (6 * continuations))));
  for (int i = continuations - 1; i >= 0; --i)
    bytes += static_cast<char>(0x80 | ((codePoint >> (6 * i)) & 0x3F));
  return bytes;
}

}  // namespace corvane::testing

// Eight bytes at a time: tests on a 64-bit word that tell whether any of its bytes is of a kind,
// so that runs of text needing no byte-by-byte work are passed over quickly. Each test is exact
// about whether some byte matches, not about which one.
#pragma once

#include <cstdint>
#include <cstring>

namespace corvane {

// The eight bytes at `bytes`, in memory order (only which bytes are present matters).
inline std::uint64_t wordAt(const void* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

constexpr std::uint64_t everyByte(unsigned char byte) { return 0x0101010101010101ULL * byte; }

// Whether every byte is ASCII (below 0x80).
constexpr bool isAsciiWord(std::uint64_t word) { return (word & everyByte(0x80)) == 0; }

// Whether some byte is below `bound` (at most 0x80).
constexpr bool hasByteBelow(std::uint64_t word, unsigned char bound) {
  return ((word - everyByte(bound)) & ~word & everyByte(0x80)) != 0;
}

// Whether some byte equals `byte`.
constexpr bool hasByte(std::uint64_t word, unsigned char byte) {
  return hasByteBelow(word ^ everyByte(byte), 1);
}

}  // namespace corvane

#include "utf8.h"

#include "../lib/byte_words.h"

// The U+FFFD replacement needs the length of each ill-formed sequence's maximal subpart, which
// general-purpose decoders do not report; this small decoder follows the well-formed byte
// sequence table directly and also gives the validator an ASCII fast path.

namespace corvane {
namespace {

struct Sequence {
  std::size_t length;  // bytes taken: the whole character, or the maximal ill-formed subpart
  bool valid;
  bool truncated = false;  // ill-formed only because the bytes end before the sequence does
};

Sequence scanSequence(const unsigned char* p, std::size_t available) {
  const unsigned char lead = p[0];
  if (lead < 0x80) return {1, true};
  std::size_t need;
  unsigned char low = 0x80, high = 0xBF;  // range allowed for the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return {1, false};
  }
  std::size_t i = 1;
  for (; i < need; ++i) {
    if (i >= available) return {i, false, true};
    const unsigned char byte = p[i];
    const unsigned char lo = i == 1 ? low : 0x80;
    const unsigned char hi = i == 1 ? high : 0xBF;
    if (byte < lo || byte > hi) return {i, false};
  }
  return {need, true};
}

}  // namespace

Utf8Prefix wellFormedPrefix(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    if (i + 8 <= n && isAsciiWord(wordAt(p + i))) {
      i += 8;
      continue;
    }
    const Sequence s = scanSequence(p + i, n - i);
    if (!s.valid) return {i, s.truncated};
    i += s.length;
  }
  return {n, true};
}

bool isValidUtf8(std::string_view bytes) { return wellFormedPrefix(bytes).size == bytes.size(); }

std::string toValidUtf8(std::string_view bytes) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::string out;
  out.reserve(bytes.size() + 8);
  std::size_t i = 0;
  while (i < bytes.size()) {
    const Sequence s = scanSequence(p + i, bytes.size() - i);
    if (s.valid) {
      out.append(bytes.substr(i, s.length));
    } else {
      out.append("\xEF\xBF\xBD");
    }
    i += s.length;
  }
  return out;
}

}  // namespace corvane

#include "text.h"

#include <utf8proc.h>

#include <limits>

namespace corvane {
namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

struct CodePoint {
  char32_t value;
  std::size_t length;  // in bytes
};

bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The code point that starts at text[at], at < text.size(). The input is trusted to be well formed
// apart from the guards that keep every read inside the text.
CodePoint decodeAt(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return {lead, 1};
  std::size_t length;
  char32_t value;
  if (lead >= 0xC0 && lead < 0xE0) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead < 0xF8) {
    length = 4;
    value = lead & 0x07;
  } else {
    return {replacementCharacter, 1};
  }
  if (length > text.size() - at) return {replacementCharacter, text.size() - at};
  for (std::size_t i = 1; i < length; ++i) {
    value = (value << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
  }
  return {value, length};
}

// Decides, one code point at a time, where characters begin.
class GraphemeBreaker {
 public:
  // True when a character begins at `next`, the code point that follows all those given so far.
  bool breaksBefore(char32_t next) {
    const char32_t previous = previous_;
    previous_ = next;
    if (previous == noCodePoint) return true;
    if (previous < 0x80 && next < 0x80) {
      // Between two ASCII code points only CR LF stays together. After an ASCII code point
      // utf8proc's state is nothing but that code point's own class, which a zero state derives
      // afresh on the next call, so the state is reset rather than kept.
      state_ = 0;
      return !(previous == '\r' && next == '\n');
    }
    return utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(previous),
                                            static_cast<utf8proc_int32_t>(next), &state_);
  }

 private:
  static constexpr char32_t noCodePoint = std::numeric_limits<char32_t>::max();
  char32_t previous_ = noCodePoint;
  utf8proc_int32_t state_ = 0;
};

// A character boundary: the start of the next character, or the end of the text.
struct Boundary {
  std::size_t piece;       // the piece the next character starts in; the piece count at the end
  std::size_t offset;      // byte offset of that start within the piece
  std::size_t characters;  // characters before the boundary
  bool atEnd() const { return offset == std::numeric_limits<std::size_t>::max(); }
};

// Walks to the boundary after the first `count` characters, or to the end of a shorter text. Stops
// at the first code point of character count + 1, so nothing beyond it is ever decoded.
Boundary boundaryAfter(TextPieces text, std::size_t count) {
  GraphemeBreaker breaker;
  std::size_t characters = 0;
  for (std::size_t piece = 0; piece < text.size(); ++piece) {
    const std::string_view bytes = text[piece];
    for (std::size_t at = 0; at < bytes.size();) {
      const CodePoint codePoint = decodeAt(bytes, at);
      if (breaker.breaksBefore(codePoint.value)) {
        if (characters == count) return {piece, at, characters};
        ++characters;
      }
      at += codePoint.length;
    }
  }
  return {text.size(), std::numeric_limits<std::size_t>::max(), characters};
}

TextPieces asPieces(const std::string_view& text) { return TextPieces(&text, 1); }

// Start of the last code point in text[floor, end), floor < end.
std::size_t startOfLastCodePoint(std::string_view text, std::size_t floor, std::size_t end) {
  std::size_t start = end - 1;
  while (start > floor && end - start < 4 && isContinuationByte(text[start])) --start;
  return start;
}

}  // namespace

std::size_t countCharacters(std::string_view text) {
  return boundaryAfter(asPieces(text), std::numeric_limits<std::size_t>::max()).characters;
}

std::size_t countCharactersUpTo(TextPieces text, std::size_t limit) {
  const Boundary boundary = boundaryAfter(text, limit);
  return boundary.atEnd() ? boundary.characters : limit + 1;
}

std::size_t countCharactersUpTo(std::string_view text, std::size_t limit) {
  return countCharactersUpTo(asPieces(text), limit);
}

std::string_view firstCharacters(std::string_view text, std::size_t count) {
  const Boundary boundary = boundaryAfter(asPieces(text), count);
  return boundary.atEnd() ? text : text.substr(0, boundary.offset);
}

std::string firstCharacters(TextPieces text, std::size_t count) {
  const Boundary boundary = boundaryAfter(text, count);
  std::string prefix;
  for (std::size_t piece = 0; piece < boundary.piece; ++piece) prefix += text[piece];
  if (!boundary.atEnd()) prefix += text[boundary.piece].substr(0, boundary.offset);
  return prefix;
}

bool isTrimmedWhitespace(char32_t codePoint) {
  switch (codePoint) {
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return (codePoint >= 0x09 && codePoint <= 0x0D) ||
             (codePoint >= 0x2000 && codePoint <= 0x200A);
  }
}

std::string_view trimWhitespace(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const CodePoint codePoint = decodeAt(text, begin);
    if (!isTrimmedWhitespace(codePoint.value)) break;
    begin += codePoint.length;
  }
  std::size_t end = text.size();
  while (end > begin) {
    const std::size_t start = startOfLastCodePoint(text, begin, end);
    if (!isTrimmedWhitespace(decodeAt(text.substr(0, end), start).value)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

}  // namespace corvane

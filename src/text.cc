#include "text.h"

#include <utf8proc.h>

#include <limits>

#include "byte_words.h"

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

// Whether a code point is "plain" for segmentation: of the grapheme class Other and, where the
// library knows Indic conjunct breaks, none of their classes. Letters of most scripts (Latin,
// Greek, Cyrillic, CJK ideographs, Arabic, …) are. Between two plain code points, or after an ASCII
// one and before a plain one, a character always starts (no rule of UAX #29 joins them), and after
// a plain code point utf8proc's state is nothing but that code point's class, which a zero state
// derives afresh.
bool isPlain(const utf8proc_property_t& property) {
#if UTF8PROC_VERSION_MAJOR > 2 || (UTF8PROC_VERSION_MAJOR == 2 && UTF8PROC_VERSION_MINOR >= 9)
  if (property.indic_conjunct_break != UTF8PROC_INDIC_CONJUNCT_BREAK_NONE) return false;
#endif
  return property.boundclass == UTF8PROC_BOUNDCLASS_OTHER;
}

// Decides, one code point at a time, where characters begin. utf8proc's rules are applied in full
// wherever a code point is neither ASCII nor plain, or follows one that is neither; elsewhere the
// answer is known without them, which is where nearly all text is.
class GraphemeBreaker {
 public:
  // Whether the code point given last is ASCII (and there was one).
  bool afterAscii() const { return previous_ < 0x80; }
  char32_t previous() const { return previous_; }

  // Takes `last` as the code point given last, after a run of ASCII that the caller segmented
  // itself.
  void continueAfterAscii(char last) {
    previous_ = static_cast<unsigned char>(last);
    previousSimple_ = true;
    state_ = 0;
  }

  // True when a character begins at `next`, the code point that follows all those given so far.
  bool breaksBefore(char32_t next) {
    const char32_t previous = previous_;
    previous_ = next;
    if (previous == noCodePoint) {
      previousSimple_ = next < 0x80 || isPlain(*utf8proc_get_property(toUtf8proc(next)));
      return true;
    }
    if (previous < 0x80 && next < 0x80) {
      // Between two ASCII code points only CR LF stays together.
      state_ = 0;
      previousSimple_ = true;
      return !(previous == '\r' && next == '\n');
    }
    const bool nextSimple = next < 0x80 || isPlain(*utf8proc_get_property(toUtf8proc(next)));
    const bool simple = previousSimple_ && nextSimple;
    previousSimple_ = nextSimple;
    if (simple) {
      state_ = 0;
      return true;
    }
    const bool breaks =
        utf8proc_grapheme_break_stateful(toUtf8proc(previous), toUtf8proc(next), &state_);
    if (nextSimple) state_ = 0;  // what utf8proc's state after `next` holds, derived afresh
    return breaks;
  }

 private:
  static constexpr char32_t noCodePoint = std::numeric_limits<char32_t>::max();
  static utf8proc_int32_t toUtf8proc(char32_t codePoint) {
    return static_cast<utf8proc_int32_t>(codePoint);
  }
  char32_t previous_ = noCodePoint;
  bool previousSimple_ = false;
  utf8proc_int32_t state_ = 0;
};

// A character boundary: the start of the next character, or the end of the text.
struct Boundary {
  std::size_t piece;       // the piece the next character starts in; the piece count at the end
  std::size_t offset;      // byte offset of that start within the piece
  std::size_t characters;  // characters before the boundary
  bool atEnd() const { return offset == std::numeric_limits<std::size_t>::max(); }
};

// The end of the run of ASCII bytes in `bytes` that starts at `at`: eight bytes at a time, then
// byte by byte.
std::size_t asciiRunEnd(std::string_view bytes, std::size_t at) {
  while (bytes.size() - at >= 8 && isAsciiWord(wordAt(bytes.data() + at))) at += 8;
  while (at < bytes.size() && static_cast<unsigned char>(bytes[at]) < 0x80) ++at;
  return at;
}

// Segments the ASCII run of `bytes` that starts at `at`, right after an ASCII code point: between
// two ASCII code points a character always starts, except at the line feed of CR LF, so no
// property is looked up and a run holding no carriage return counts one character a byte. Returns
// where the run ends, or where character count + 1 starts (then `characters` == count and
// `stopped` is set).
std::size_t segmentAsciiRun(std::string_view bytes, std::size_t at, GraphemeBreaker& breaker,
                            std::size_t& characters, std::size_t count, bool& stopped) {
  const std::size_t end = asciiRunEnd(bytes, at);
  const std::string_view run = bytes.substr(at, end - at);
  if (breaker.previous() != '\r' && run.size() <= count - characters &&
      run.find('\r') == std::string_view::npos) {
    characters += run.size();
    breaker.continueAfterAscii(run.back());
    return end;
  }
  auto previous = static_cast<char>(breaker.previous());
  for (; at < end; ++at) {
    const char next = bytes[at];
    if (!(previous == '\r' && next == '\n')) {
      if (characters == count) {
        stopped = true;
        break;
      }
      ++characters;
    }
    previous = next;
  }
  breaker.continueAfterAscii(previous);
  return at;
}

// Walks to the boundary after the first `count` characters, or to the end of a shorter text. Stops
// at the first code point of character count + 1, so nothing beyond it is ever decoded.
Boundary boundaryAfter(TextPieces text, std::size_t count) {
  GraphemeBreaker breaker;
  std::size_t characters = 0;
  for (std::size_t piece = 0; piece < text.size(); ++piece) {
    const std::string_view bytes = text[piece];
    for (std::size_t at = 0; at < bytes.size();) {
      if (breaker.afterAscii() && static_cast<unsigned char>(bytes[at]) < 0x80) {
        bool stopped = false;
        at = segmentAsciiRun(bytes, at, breaker, characters, count, stopped);
        if (stopped) return {piece, at, characters};
        continue;
      }
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

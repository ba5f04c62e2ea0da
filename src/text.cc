#include "text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "../lib/byte_words.h"
#include "text_tables.h"

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
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data()) + at;
  const std::size_t left = text.size() - at;
  const unsigned lead = bytes[0];
  if (lead < 0x80) return {lead, 1};
  if (lead < 0xC0 || lead >= 0xF8) return {replacementCharacter, 1};
  if (lead < 0xE0) {
    if (left < 2) return {replacementCharacter, left};
    return {(lead & 0x1F) << 6 | (bytes[1] & 0x3FU), 2};
  }
  if (lead < 0xF0) {
    if (left < 3) return {replacementCharacter, left};
    return {(lead & 0x0F) << 12 | (bytes[1] & 0x3FU) << 6 | (bytes[2] & 0x3FU), 3};
  }
  if (left < 4) return {replacementCharacter, left};
  return {
      (lead & 0x07) << 18 | (bytes[1] & 0x3FU) << 12 | (bytes[2] & 0x3FU) << 6 | (bytes[3] & 0x3FU),
      4};
}

// Segmentation is table-driven (src/text_tables.h, made by scripts/generate_text_tables.py from
// the project's Unicode data): a code point's class from a two-level table, and from the state
// before it and that class, whether a character begins there and the state after it.

// The class of a code point in text_tables; past U+10FFFF (only in ill-formed text), that of the
// replacement character.
constexpr unsigned tableClass(char32_t codePoint) {
  if (codePoint > 0x10FFFF) codePoint = replacementCharacter;
  return text_tables::classPages[text_tables::classPageOf[codePoint >> 8]][codePoint & 0xFF];
}

constexpr unsigned startState = 0;
constexpr unsigned breakBit = 0x80;

// The state after an ASCII code point that begins a text.
constexpr std::array<std::uint8_t, 128> asciiStates = [] {
  std::array<std::uint8_t, 128> states{};
  for (char32_t byte = 0; byte < 128; ++byte)
    states[byte] = text_tables::transitions[startState][tableClass(byte)] & ~breakBit;
  return states;
}();

// The states from which every ASCII code point begins a character and leads to the state it leads
// to at the start of a text, so that a run of them can be counted a byte a character.
static_assert(text_tables::stateCount <= 32);
constexpr std::uint32_t asciiRunStates = [] {
  std::uint32_t states = 0;
  for (int state = 0; state < text_tables::stateCount; ++state) {
    bool open = true;
    for (char32_t byte = 0; byte < 128; ++byte) {
      const unsigned step = text_tables::transitions[state][tableClass(byte)];
      open = open && step == (breakBit | asciiStates[byte]);
    }
    if (open) states |= std::uint32_t{1} << state;
  }
  return states;
}();
// A run goes on from the state each ASCII code point but the carriage return leaves, and may
// start the text.
static_assert([] {
  for (char32_t byte = 0; byte < 128; ++byte) {
    if (byte != '\r' && ((asciiRunStates >> asciiStates[byte]) & 1) == 0) return false;
  }
  return ((asciiRunStates >> startState) & 1) != 0;
}());

// Which bytes of `word` are zero: the high bit of each such byte set, nothing else (no borrow
// from one byte to the next, so any byte may be asked about).
constexpr std::uint64_t zeroBytes(std::uint64_t word) {
  constexpr std::uint64_t low7 = everyByte(0x7F);
  return ~(((word & low7) + low7) | word | low7);
}

// The index, in memory order, of the first byte of `word` whose high bit is set in `marks` (a
// byte's high bit each, nothing else); 8 when there is none.
std::size_t firstMarked(std::uint64_t marks) {
  if (marks == 0) return 8;
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::size_t>(std::countr_zero(marks)) / 8;
  } else {
    return static_cast<std::size_t>(std::countl_zero(marks)) / 8;
  }
}

TextPieces asPieces(const std::string_view& text) { return TextPieces(&text, 1); }

// Start of the last code point in text[floor, end), floor < end.
std::size_t startOfLastCodePoint(std::string_view text, std::size_t floor, std::size_t end) {
  std::size_t start = end - 1;
  while (start > floor && end - start < 4 && isContinuationByte(text[start])) --start;
  return start;
}

}  // namespace

bool CharacterWalk::Segmentation::asciiRunMayStart() const {
  return ((asciiRunStates >> state) & 1) != 0;
}

void CharacterWalk::Segmentation::afterAscii(unsigned char last) { state = asciiStates[last]; }

bool CharacterWalk::Segmentation::breaksBefore(char32_t next) {
  const unsigned step = text_tables::transitions[state][tableClass(next)];
  state = static_cast<std::uint8_t>(step & ~breakBit);
  return (step & breakBit) != 0;
}

// Walks `bytes`, the piece at piece_, from offset_ to its end or to the first code point of
// character limit + 1, which it takes in (then the walk stops there and it returns true). Where
// the state allows, a run of ASCII bytes is taken eight at a time, a character each.
bool CharacterWalk::advance(std::string_view bytes, std::size_t limit) {
  const char* const data = bytes.data();
  const std::size_t size = bytes.size();
  std::size_t at = offset_;
  std::size_t characters = characters_;
  // A local copy, which the compiler keeps in registers: the bytes read may alias the members.
  Segmentation segmentation = segmentation_;
  while (at < size) {
    if (static_cast<unsigned char>(data[at]) < 0x80 && segmentation.asciiRunMayStart()) {
      // Each byte up to the first carriage return or non-ASCII byte begins a character, and so
      // does a carriage return in the lead.
      const std::size_t available = size - at;
      std::uint64_t word = 0;
      if (available >= 8) {
        word = wordAt(data + at);
      } else {
        std::memcpy(&word, data + at, available);
      }
      const std::uint64_t stops = (word & everyByte(0x80)) | zeroBytes(word ^ everyByte('\r'));
      const std::size_t run = std::min(std::max<std::size_t>(firstMarked(stops), 1), available);
      if (run > limit - characters) {
        at += limit - characters;
        segmentation.afterAscii(static_cast<unsigned char>(data[at]));
        segmentation_ = segmentation;
        stopPiece_ = piece_;
        stopOffset_ = at;
        offset_ = at + 1;
        characters_ = limit + 1;
        return true;
      }
      characters += run;
      at += run;
      segmentation.afterAscii(static_cast<unsigned char>(data[at - 1]));
      continue;
    }
    const CodePoint codePoint = decodeAt(bytes, at);
    characters += segmentation.breaksBefore(codePoint.value) ? 1 : 0;
    if (characters > limit) {
      // Character limit + 1 begins here, and its first code point is taken in: the walk goes on
      // after it.
      stopPiece_ = piece_;
      stopOffset_ = at;
      offset_ = at + codePoint.length;
      characters_ = characters;
      segmentation_ = segmentation;
      return true;
    }
    at += codePoint.length;
  }
  offset_ = at;
  characters_ = characters;
  segmentation_ = segmentation;
  return false;
}

std::size_t CharacterWalk::countUpTo(std::size_t limit) {
  if (characters_ > limit) return limit + 1;  // stopped at this limit already
  for (; piece_ < text_.size(); ++piece_, offset_ = 0) {
    if (advance(text_[piece_], limit)) return limit + 1;
  }
  return characters_;
}

std::size_t CharacterWalk::prefixSize() const {
  std::size_t size = 0;
  const std::size_t whole = atEnd() ? text_.size() : stopPiece_;
  for (std::size_t piece = 0; piece < whole; ++piece) size += text_[piece].size();
  return atEnd() ? size : size + stopOffset_;
}

std::string CharacterWalk::prefix() const {
  std::string text;
  text.reserve(prefixSize());
  const std::size_t whole = atEnd() ? text_.size() : stopPiece_;
  for (std::size_t piece = 0; piece < whole; ++piece) text += text_[piece];
  if (!atEnd()) text += text_[stopPiece_].substr(0, stopOffset_);
  return text;
}

std::size_t countCharacters(std::string_view text) {
  return CharacterWalk(asPieces(text)).countUpTo(std::numeric_limits<std::size_t>::max());
}

std::size_t countCharactersUpTo(TextPieces text, std::size_t limit) {
  return CharacterWalk(text).countUpTo(limit);
}

std::size_t countCharactersUpTo(std::string_view text, std::size_t limit) {
  return countCharactersUpTo(asPieces(text), limit);
}

std::string_view firstCharacters(std::string_view text, std::size_t count) {
  CharacterWalk walk(asPieces(text));
  walk.countUpTo(count);
  return text.substr(0, walk.prefixSize());
}

std::string firstCharacters(TextPieces text, std::size_t count) {
  CharacterWalk walk(text);
  walk.countUpTo(count);
  return walk.prefix();
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

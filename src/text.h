// User-perceived characters: the extended grapheme clusters of Unicode text segmentation (UAX #29),
// by the Unicode 17.0 data, counted exactly as Swift's String counts them on macOS 26. Every
// budget in this program is counted in these, so a flag, an accented letter written as a base and
// a combining mark, a Devanagari conjunct, or a family emoji built with joiners each count as one.
// Where Swift departs from the Unicode text (Indic conjuncts join only across six viramas; Hangul
// jamo are told by their blocks), so does this program: scripts/generate_text_tables.py says how.
//
// All texts are UTF-8 and expected to be well formed (they come out of a validating JSON decoder).
// Ill-formed bytes give meaningless counts but never make these functions read outside the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvane {

// One text given as consecutive pieces, segmented as if they were joined, without joining them in
// memory. Each piece must hold whole code points. Lets a caller measure "label + content" or
// "part + separator + part" while paying only for the characters it actually looks at.
using TextPieces = std::span<const std::string_view>;

// Number of characters in `text`.
std::size_t countCharacters(std::string_view text);

// min(number of characters, limit + 1): enough to tell whether the text fits `limit`, and the exact
// count when it does, while looking at no more than limit + 1 characters.
std::size_t countCharactersUpTo(std::string_view text, std::size_t limit);
std::size_t countCharactersUpTo(TextPieces text, std::size_t limit);

// The longest prefix of `text` holding at most `count` characters; it ends on a character
// boundary, so its own count is min(count, countCharacters(text)).
std::string_view firstCharacters(std::string_view text, std::size_t count);
std::string firstCharacters(TextPieces text, std::size_t count);

// A walk through a text's characters from its start that can be taken further later without
// looking again at what it has passed: a text is counted up to one limit and then, if need be, up
// to a larger one or cut, for the price of one walk. `text` (the span and the pieces) must outlive
// the walk.
class CharacterWalk {
 public:
  explicit CharacterWalk(TextPieces text) : text_(text) {}

  // countCharactersUpTo(text, limit), walking on from where the walk stands; `limit` may not be
  // less than a limit given before.
  std::size_t countUpTo(std::size_t limit);

  // Whether the walk has reached the end of the text (then countUpTo gave the exact count).
  bool atEnd() const { return piece_ == text_.size(); }

  // firstCharacters(text, limit) for the last limit given to countUpTo: the text before the
  // character the walk stopped at, or the whole text at the end.
  std::string prefix() const;
  // The size in bytes of prefix().
  std::size_t prefixSize() const;

 private:
  bool advance(std::string_view bytes, std::size_t limit);

  TextPieces text_;
  std::size_t piece_ = 0;  // where the walk goes on: the piece and the byte offset in it
  std::size_t offset_ = 0;
  std::size_t stopPiece_ = 0;  // where the character the walk stopped at begins
  std::size_t stopOffset_ = 0;
  std::size_t characters_ = 0;  // characters begun so far
  // The segmentation state after the code points walked so far (see text.cc).
  struct Segmentation {
    std::uint8_t state = 0;

    bool asciiRunMayStart() const;
    void afterAscii(unsigned char last);
    bool breaksBefore(char32_t next);
  };
  Segmentation segmentation_;
};

// True for the code points trimWhitespace removes: the Unicode White_Space characters (tab to
// carriage return, U+0085, and the space separators, line and paragraph separators of category Z).
// Format characters such as the zero width space U+200B and the byte order mark U+FEFF are not.
bool isTrimmedWhitespace(char32_t codePoint);

// `text` without its leading and trailing isTrimmedWhitespace code points; the interior is left as
// it is.
std::string_view trimWhitespace(std::string_view text);

}  // namespace corvane

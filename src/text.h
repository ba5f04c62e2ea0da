// User-perceived characters: the extended grapheme clusters of Unicode text segmentation (UAX #29).
// Every budget in this program is counted in these, so a flag, an accented letter written as a
// base and a combining mark, or a family emoji built with joiners each count as one.
//
// All texts are UTF-8 and expected to be well formed (they come out of a validating JSON decoder).
// Ill-formed bytes give meaningless counts but never make these functions read outside the text.
#pragma once

#include <cstddef>
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

// True for the code points trimWhitespace removes: the Unicode White_Space characters, except
// that the zero width space U+200B and the byte order mark U+FEFF are not among them.
bool isTrimmedWhitespace(char32_t codePoint);

// `text` without its leading and trailing isTrimmedWhitespace code points; the interior is left as
// it is.
std::string_view trimWhitespace(std::string_view text);

}  // namespace corvane

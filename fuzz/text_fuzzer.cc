// Character counting, cutting and trimming on texts built from the code points that make grapheme
// clusters interesting (marks, joiners, regional indicators, Hangul jamo, emoji modifiers, CR LF),
// checked against a plain segmentation of the whole text with utf8proc. The same functions also run
// on the raw input bytes, which need not be UTF-8 at all, where they must stay inside the text.
#include <fuzzer/FuzzedDataProvider.h>
#include <utf8proc.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "text.h"

namespace {

using corvane::TextPieces;

struct Range {
  char32_t first, last;
};

// Ranges the generator draws code points from.
constexpr std::array<Range, 22> ranges{{
    {0x20, 0x7E},        // ASCII letters and punctuation
    {0x09, 0x0D},        // tab, line feed, vertical tab, form feed, carriage return
    {0x00, 0x1F},        // controls
    {0x0300, 0x036F},    // combining marks
    {0x200B, 0x200D},    // zero width space, non-joiner, joiner
    {0xFE0E, 0xFE0F},    // variation selectors
    {0x1F1E6, 0x1F1FF},  // regional indicators
    {0x1F3FB, 0x1F3FF},  // emoji modifiers
    {0x1F466, 0x1F469},  // people emoji
    {0x2764, 0x2764},    // heavy heart (extended pictographic)
    {0x1100, 0x115F},    // Hangul leading jamo
    {0x1160, 0x11A7},    // Hangul vowel jamo
    {0x11A8, 0x11FF},    // Hangul trailing jamo
    {0xAC00, 0xAC1C},    // Hangul syllables LV and LVT
    {0x0600, 0x0605},    // prepended concatenation marks
    {0x0900, 0x094D},    // Devanagari, spacing marks and virama
    {0x00A0, 0x00FF},    // Latin-1, no-break space
    {0x2000, 0x202F},    // spaces, separators, joiners
    {0x3000, 0x3000},    // ideographic space
    {0xFEFF, 0xFEFF},    // byte order mark
    {0x0085, 0x0085},    // next line
    {0x0000, 0x10FFFF},  // anything
}};

void appendUtf8(std::string& out, char32_t codePoint) {
  utf8proc_uint8_t buffer[4];
  const auto length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(codePoint), buffer);
  out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

char32_t drawCodePoint(FuzzedDataProvider& provider) {
  const Range range = ranges[provider.ConsumeIntegralInRange<std::size_t>(0, ranges.size() - 1)];
  char32_t codePoint = provider.ConsumeIntegralInRange<char32_t>(range.first, range.last);
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) codePoint = 0xFFFD;  // no surrogates in UTF-8
  return codePoint;
}

// The byte offsets where characters begin, 0 included, from utf8proc's own segmentation of the
// whole text, one code point after the other.
std::vector<std::size_t> referenceBoundaries(std::string_view text) {
  std::vector<std::size_t> boundaries;
  utf8proc_int32_t state = 0;
  utf8proc_int32_t previous = -1;
  for (std::size_t at = 0; at < text.size();) {
    utf8proc_int32_t codePoint = 0;
    const auto length =
        utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at),
                         static_cast<utf8proc_ssize_t>(text.size() - at), &codePoint);
    FUZZ_CHECK(length > 0);
    if (previous < 0 || utf8proc_grapheme_break_stateful(previous, codePoint, &state)) {
      boundaries.push_back(at);
    }
    previous = codePoint;
    at += static_cast<std::size_t>(length);
  }
  return boundaries;
}

bool isBoundary(const std::vector<std::size_t>& boundaries, std::size_t offset,
                std::size_t textSize) {
  if (offset == textSize) return true;
  for (const std::size_t boundary : boundaries) {
    if (boundary == offset) return true;
  }
  return false;
}

std::size_t codePointAt(std::string_view text, std::size_t at, char32_t& codePoint) {
  utf8proc_int32_t value = 0;
  const auto length = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + at),
                                       static_cast<utf8proc_ssize_t>(text.size() - at), &value);
  codePoint = static_cast<char32_t>(value);
  return static_cast<std::size_t>(length);
}

void checkTrim(std::string_view text) {
  const std::string_view trimmed = corvane::trimWhitespace(text);
  FUZZ_CHECK(trimmed.data() >= text.data() &&
             trimmed.data() + trimmed.size() <= text.data() + text.size());
  const std::size_t begin = static_cast<std::size_t>(trimmed.data() - text.data());
  const std::size_t end = begin + trimmed.size();
  char32_t codePoint = 0;
  // Only whitespace was removed, at each end.
  for (std::size_t at = 0; at < begin; at += codePointAt(text, at, codePoint)) {
    codePointAt(text, at, codePoint);
    FUZZ_CHECK(corvane::isTrimmedWhitespace(codePoint));
  }
  for (std::size_t at = end; at < text.size(); at += codePointAt(text, at, codePoint)) {
    codePointAt(text, at, codePoint);
    FUZZ_CHECK(corvane::isTrimmedWhitespace(codePoint));
  }
  // And what is left starts and ends with something else.
  if (trimmed.empty()) return;
  codePointAt(text, begin, codePoint);
  FUZZ_CHECK(!corvane::isTrimmedWhitespace(codePoint));
  std::size_t last = begin;
  for (std::size_t at = begin; at < end; at += codePointAt(text, at, codePoint)) last = at;
  codePointAt(text, last, codePoint);
  FUZZ_CHECK(!corvane::isTrimmedWhitespace(codePoint));
}

void checkCut(std::string_view text, const std::vector<std::size_t>& boundaries,
              std::size_t count) {
  const std::size_t total = boundaries.size();
  const std::string_view cut = corvane::firstCharacters(text, count);
  FUZZ_CHECK(cut.data() == text.data() && cut.size() <= text.size());
  FUZZ_CHECK(isBoundary(boundaries, cut.size(), text.size()));
  FUZZ_CHECK(corvane::countCharacters(cut) == std::min(count, total));
  const std::size_t expectedUpTo = total <= count ? total : count + 1;
  FUZZ_CHECK(corvane::countCharactersUpTo(text, count) == expectedUpTo);
}

// The functions on bytes that need not be UTF-8: any answer, but no read outside the text, and a
// cut that is still a prefix.
void checkRawBytes(std::string_view bytes, std::size_t count) {
  const std::size_t total = corvane::countCharacters(bytes);
  FUZZ_CHECK(total <= bytes.size());
  const std::string_view cut = corvane::firstCharacters(bytes, count);
  FUZZ_CHECK(cut.data() == bytes.data() && cut.size() <= bytes.size());
  const std::string_view trimmed = corvane::trimWhitespace(bytes);
  FUZZ_CHECK(trimmed.data() >= bytes.data() &&
             trimmed.data() + trimmed.size() <= bytes.data() + bytes.size());
  const std::array<std::string_view, 2> halves{bytes.substr(0, bytes.size() / 2),
                                               bytes.substr(bytes.size() / 2)};
  corvane::countCharactersUpTo(TextPieces(halves), count);
  FUZZ_CHECK(corvane::firstCharacters(TextPieces(halves), count).size() <= bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  checkRawBytes(std::string_view(reinterpret_cast<const char*>(data), size), size % 7);

  FuzzedDataProvider provider(data, size);
  // The text, with the byte offsets where its pieces end: each piece holds whole code points.
  std::string text;
  std::vector<std::size_t> pieceEnds;
  const std::size_t codePoints = provider.ConsumeIntegralInRange<std::size_t>(0, 64);
  for (std::size_t i = 0; i < codePoints && provider.remaining_bytes() > 0; ++i) {
    appendUtf8(text, drawCodePoint(provider));
    if (provider.ConsumeIntegralInRange<int>(0, 3) == 0) pieceEnds.push_back(text.size());
  }
  std::vector<std::string_view> pieces;
  std::size_t pieceStart = 0;
  for (const std::size_t end : pieceEnds) {
    pieces.push_back(std::string_view(text).substr(pieceStart, end - pieceStart));
    pieceStart = end;
  }
  pieces.push_back(std::string_view(text).substr(pieceStart));

  const std::vector<std::size_t> boundaries = referenceBoundaries(text);
  const std::size_t total = boundaries.size();
  FUZZ_CHECK(corvane::countCharacters(text) == total);

  for (const std::size_t count : {std::size_t{0}, total, total + 1, total > 0 ? total - 1 : 0,
                                  provider.ConsumeIntegralInRange<std::size_t>(0, total)}) {
    checkCut(text, boundaries, count);
    // Pieces are segmented as if joined.
    FUZZ_CHECK(corvane::firstCharacters(TextPieces(pieces), count) ==
               corvane::firstCharacters(text, count));
    FUZZ_CHECK(corvane::countCharactersUpTo(TextPieces(pieces), count) ==
               corvane::countCharactersUpTo(text, count));
  }

  // Joining texts never makes more characters than they had apart.
  for (std::size_t at = 0; at <= text.size(); ++at) {
    if (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;
    const std::string_view head = std::string_view(text).substr(0, at);
    const std::string_view tail = std::string_view(text).substr(at);
    FUZZ_CHECK(total <= corvane::countCharacters(head) + corvane::countCharacters(tail));
  }

  checkTrim(text);
  return 0;
}

// Counting, cutting and trimming texts of code points that make clusters interesting, whole and in
// pieces, against the segmentation tables stepped one code point at a time (no ASCII runs, no
// pieces, no limit); on raw bytes any answer will do, but inside the text.
#include <numeric>

#include "harness.h"
#include "text_tables.h"

// Controls, marks, joiners, regional indicators, emoji, Hangul jamo, spaces ...; and anything.
constexpr std::pair<char32_t, char32_t> ranges[] = {
    {0x20, 0x7E},       {0x09, 0x0D},       {0x00, 0x1F},       {0x0300, 0x036F},
    {0x200B, 0x200D},   {0xFE0E, 0xFE0F},   {0x1F1E6, 0x1F1FF}, {0x1F3FB, 0x1F3FF},
    {0x1F466, 0x1F469}, {0x2764, 0x2764},   {0x1100, 0x115F},   {0x1160, 0x11A7},
    {0x11A8, 0x11FF},   {0xAC00, 0xAC1C},   {0x0600, 0x0605},   {0x0900, 0x094D},
    {0x00A0, 0x00FF},   {0x2000, 0x202F},   {0x3000, 0x3000},   {0xFEFF, 0xFEFF},
    {0x0085, 0x0085},   {0x0995, 0x09CD},   {0x1780, 0x17D2},   {0x1000, 0x103A},
    {0x1B05, 0x1B44},   {0x16D63, 0x16D6A}, {0xE0020, 0xE007F}, {0x0000, 0x10FFFF}};

static std::string encode(char32_t codePoint) {
  if (codePoint < 0x80) return std::string(1, static_cast<char>(codePoint));
  std::string bytes;
  const int continuations = codePoint < 0x800 ? 1 : codePoint < 0x10000 ? 2 : 3;
  bytes += static_cast<char>(((0xFF00 >> (continuations + 1)) & 0xFF) |
                             (codePoint >> (6 * continuations)));
  for (int i = continuations - 1; i >= 0; --i)
    bytes += static_cast<char>(0x80 | ((codePoint >> (6 * i)) & 0x3F));
  return bytes;
}

// The code point at text[at] of well-formed UTF-8, and its length.
static std::pair<char32_t, std::size_t> decode(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  char32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i)
    codePoint = codePoint << 6 | (static_cast<unsigned char>(text[at + i]) & 0x3F);
  return {codePoint, length};
}

static bool within(std::string_view part, std::string_view text) {
  return part.data() >= text.data() && part.data() + part.size() <= text.data() + text.size();
}

void fuzz(std::string_view bytes, FuzzedDataProvider& provider) {
  const std::size_t n = bytes.size() % 7;
  const std::array halves{bytes.substr(0, bytes.size() / 2), bytes.substr(bytes.size() / 2)};
  countCharactersUpTo(TextPieces(halves), n);
  FUZZ_CHECK(countCharacters(bytes) <= bytes.size() && within(trimWhitespace(bytes), bytes) &&
             firstCharacters(bytes, n).data() == bytes.data() &&
             within(firstCharacters(bytes, n), bytes) &&
             firstCharacters(TextPieces(halves), n).size() <= bytes.size());
  std::vector<std::string> pieces(1);  // each holding whole code points
  const std::size_t codePoints = provider.ConsumeIntegralInRange<std::size_t>(0, 64);
  for (std::size_t i = 0; i < codePoints && provider.remaining_bytes() > 0; ++i) {
    const auto [first, last] = provider.PickValueInArray(ranges);
    auto codePoint = provider.ConsumeIntegralInRange<char32_t>(first, last);
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) codePoint = 0xFFFD;  // none in UTF-8
    pieces.back() += encode(codePoint);
    if (provider.ConsumeIntegralInRange<int>(0, 3) == 0) pieces.emplace_back();
  }
  const std::vector<std::string_view> views(pieces.begin(), pieces.end());
  const std::string text = std::accumulate(pieces.begin(), pieces.end(), std::string());
  const std::string_view whole = text, trimmed = trimWhitespace(text);
  FUZZ_CHECK(within(trimmed, text));
  const std::size_t begin = trimmed.data() - text.data(), end = begin + trimmed.size();
  const std::size_t counted = countCharacters(text);
  std::vector<std::size_t> boundaries;  // where characters begin, one code point after the other
  unsigned state = 0;
  for (std::size_t start = 0, at = 0; at < text.size(); start = at) {
    const auto [codePoint, length] = decode(text, at);
    at += length;
    const unsigned codePointClass =
        corvane::text_tables::classPages[corvane::text_tables::classPageOf[codePoint >> 8]]
                                        [codePoint & 0xFF];
    const unsigned step = corvane::text_tables::transitions[state][codePointClass];
    state = step & 0x7F;
    if (step & 0x80) boundaries.push_back(start);
    // Joining texts never makes more characters than they had apart.
    FUZZ_CHECK(counted <=
               countCharacters(whole.substr(0, start)) + countCharacters(whole.substr(start)));
    // Only whitespace was trimmed, and what is left starts and ends with something else.
    const bool white = isTrimmedWhitespace(codePoint);
    FUZZ_CHECK(start >= begin && at <= end ? !white || (start != begin && at != end) : white);
  }
  const std::size_t total = boundaries.size();
  boundaries.push_back(text.size());
  FUZZ_CHECK(counted == total);
  for (const std::size_t count : {std::size_t{0}, total, total + 1, total > 0 ? total - 1 : 0,
                                  provider.ConsumeIntegralInRange<std::size_t>(0, total)}) {
    const std::string_view cut = firstCharacters(text, count);
    FUZZ_CHECK(cut.data() == text.data() && std::ranges::binary_search(boundaries, cut.size()));
    FUZZ_CHECK(countCharacters(cut) == std::min(count, total));
    FUZZ_CHECK(countCharactersUpTo(text, count) == std::min(count + 1, total));
    FUZZ_CHECK(firstCharacters(TextPieces(views), count) == cut);
    FUZZ_CHECK(countCharactersUpTo(TextPieces(views), count) == std::min(count + 1, total));
  }
}

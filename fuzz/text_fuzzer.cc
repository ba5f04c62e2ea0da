// Counting, cutting and trimming texts of code points that make clusters interesting, whole and in
// pieces, against utf8proc's segmentation; on raw bytes any answer will do, but inside the text.
#include <utf8proc.h>
#include <numeric>

#include "harness.h"

// Controls, marks, joiners, regional indicators, emoji, Hangul jamo, spaces ...; and anything.
constexpr std::pair<char32_t, char32_t> ranges[] = {
    {0x20, 0x7E},     {0x09, 0x0D},       {0x00, 0x1F},       {0x0300, 0x036F},   {0x200B, 0x200D},
    {0xFE0E, 0xFE0F}, {0x1F1E6, 0x1F1FF}, {0x1F3FB, 0x1F3FF}, {0x1F466, 0x1F469}, {0x2764, 0x2764},
    {0x1100, 0x115F}, {0x1160, 0x11A7},   {0x11A8, 0x11FF},   {0xAC00, 0xAC1C},   {0x0600, 0x0605},
    {0x0900, 0x094D}, {0x00A0, 0x00FF},   {0x2000, 0x202F},   {0x3000, 0x3000},   {0xFEFF, 0xFEFF},
    {0x0085, 0x0085}, {0x0000, 0x10FFFF}};

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
    auto codePoint = provider.ConsumeIntegralInRange<utf8proc_int32_t>(first, last);
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) codePoint = 0xFFFD;  // none in UTF-8
    utf8proc_uint8_t encoded[4];
    pieces.back().append(reinterpret_cast<char*>(encoded),
                         utf8proc_encode_char(codePoint, encoded));
    if (provider.ConsumeIntegralInRange<int>(0, 3) == 0) pieces.emplace_back();
  }
  const std::vector<std::string_view> views(pieces.begin(), pieces.end());
  const std::string text = std::accumulate(pieces.begin(), pieces.end(), std::string());
  const std::string_view whole = text, trimmed = trimWhitespace(text);
  FUZZ_CHECK(within(trimmed, text));
  const std::size_t begin = trimmed.data() - text.data(), end = begin + trimmed.size();
  const std::size_t counted = countCharacters(text);
  std::vector<std::size_t> boundaries;  // where characters begin, one code point after the other
  utf8proc_int32_t codePoint = 0, previous = -1, state = 0;
  for (std::size_t start = 0, at = 0; at < text.size(); start = at, previous = codePoint) {
    const auto length = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(&text[at]),
                                         text.size() - at, &codePoint);
    FUZZ_CHECK(length > 0);
    at += length;
    if (previous < 0 || utf8proc_grapheme_break_stateful(previous, codePoint, &state))
      boundaries.push_back(start);
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

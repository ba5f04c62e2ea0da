#include "text.h"
#include "utf8.h"

#include <gtest/gtest.h>
#include <utf8proc.h>

#include <array>
#include <fstream>
#include <sstream>

namespace corvane {
namespace {

std::string utf8(unsigned long codePoint) {
  utf8proc_uint8_t bytes[4];
  const auto length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(codePoint), bytes);
  return std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
}

// Unicode's GraphemeBreakTest.txt, lines like "÷ 0020 × 0308 ÷ 0020 ÷  # comment" (÷ a character
// boundary, × none). Each text must count and cut at exactly those boundaries, also when split
// into pieces at any code point, inside a character too: the segmentation state carries over.
TEST(Text, GraphemeBreakTest) {
  std::ifstream file("/usr/share/unicode/auxiliary/GraphemeBreakTest.txt");
  int lines = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    ++lines;
    std::string text;
    std::vector<std::size_t> starts, boundaries;  // byte offsets of code points and characters
    std::istringstream tokens(line.substr(0, line.find('#')));
    for (std::string token; tokens >> token;) {
      if (token == "\xC3\xB7") {
        boundaries.push_back(text.size());
      } else if (token != "\xC3\x97") {
        starts.push_back(text.size());
        text += utf8(std::stoul(token, nullptr, 16));
      }
    }
    const std::size_t characters = boundaries.size() - 1;
    EXPECT_EQ(countCharacters(text), characters);
    for (std::size_t n = 0; n <= characters + 1; ++n) {
      EXPECT_EQ(firstCharacters(text, n).size(), boundaries[std::min(n, characters)]) << n;
      EXPECT_EQ(countCharactersUpTo(text, n), std::min(characters, n + 1)) << n;
    }
    const std::string_view whole = text;
    for (const std::size_t split : starts) {
      const std::array pieces{whole.substr(0, split), std::string_view(), whole.substr(split)};
      EXPECT_EQ(countCharactersUpTo(pieces, characters), characters) << split;
      for (std::size_t n = 0; n <= characters; ++n) {
        EXPECT_EQ(firstCharacters(pieces, n), whole.substr(0, boundaries[n])) << split << " " << n;
      }
    }
  }
  EXPECT_GT(lines, 500) << "GraphemeBreakTest.txt missing or short: install unicode-data";
}

// C's escapes \xHH \uXXXX \UXXXXXXXX \n \r \\; anything else as it is.
std::string unescape(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char kind = text[i] == '\\' ? text[++i] : 0;
    const std::size_t digits = kind == 'x' ? 2 : kind == 'u' ? 4 : kind == 'U' ? 8 : 0;
    const auto value =
        digits ? std::stoul(std::string(text.substr(i + 1, digits)), nullptr, 16) : 0;
    bytes += kind == 'x' ? std::string(1, static_cast<char>(value))
             : digits    ? utf8(value)
                         : std::string(1, kind == 'n'   ? '\n'
                                          : kind == 'r' ? '\r'
                                                        : text[i]);
    i += digits;
  }
  return bytes;
}

// tests/data/text.txt: countCharacters, trimWhitespace, toValidUtf8 and isValidUtf8.
TEST(Text, Cases) {
  std::ifstream file(std::string(CORVANE_SOURCE_DIR) + "/tests/data/text.txt");
  int checked = 0;
  for (std::string line; std::getline(file, line);) {
    const auto space = line.find(' '), arrow = line.rfind(" =>");
    if (line.starts_with('#') || arrow == std::string::npos) continue;
    const std::string in = unescape(line.substr(space + 1, arrow - space - 1));
    const std::string want = unescape(line.substr(std::min(arrow + 4, line.size())));
    const std::string got = line.starts_with("count")  ? std::to_string(countCharacters(in))
                            : line.starts_with("trim") ? std::string(trimWhitespace(in))
                                                       : toValidUtf8(in);
    EXPECT_EQ(got, want) << line;
    EXPECT_TRUE(!line.starts_with("repair") || isValidUtf8(in) == (in == want)) << line;
    ++checked;
  }
  EXPECT_GT(checked, 80);
}

}  // namespace
}  // namespace corvane

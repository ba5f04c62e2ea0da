#include "text.h"
#include "text_tables.h"
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

// Unicode's GraphemeBreakTest.txt ("÷ 0020 × 0308 ÷": ÷ a boundary, × none): each text counts and
// cuts there, also split into pieces at any code point, as the segmentation state carries over.
TEST(Text, GraphemeBreakTest) {
  constexpr const char* path = "/usr/share/unicode/auxiliary/GraphemeBreakTest.txt";
  std::ifstream file(path);
#ifndef __linux__
  // Debian's unicode-data has it; a Mac has no package that installs it there.
  if (!file) GTEST_SKIP() << "needs " << path << " (Debian's unicode-data)";
#endif
  int lines = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    ++lines;
    std::string text;
    std::vector<std::size_t> starts, boundaries;  // byte offsets of code points and characters
    std::istringstream tokens(line.substr(0, line.find('#')));
    for (std::string token; tokens >> token;) {
      if (token == "\xC3\x97") continue;  // ×
      (token == "\xC3\xB7" ? boundaries : starts).push_back(text.size());
      if (token != "\xC3\xB7") text += utf8(std::stoul(token, nullptr, 16));
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
      CharacterWalk walk(pieces);  // taken further a character at a time
      for (std::size_t n = 0; n <= characters; ++n) {
        EXPECT_EQ(firstCharacters(pieces, n), whole.substr(0, boundaries[n])) << split << " " << n;
        EXPECT_EQ(walk.countUpTo(n), std::min(characters, n + 1)) << split << " " << n;
        EXPECT_EQ(walk.prefix(), whole.substr(0, boundaries[n])) << split << " " << n;
        EXPECT_EQ(walk.atEnd(), n == characters) << split << " " << n;
      }
    }
  }
  EXPECT_GT(lines, 500) << "GraphemeBreakTest.txt missing or short: install unicode-data";
}

// src/text_tables.h against the utf8proc linked: every code point's class, and utf8proc's answer
// and state for every state and every pair of classes (from state 0, it takes the class of the
// code point before).
TEST(Text, TablesAreUtf8procs) {
  if (CORVANE_TEXT_TABLES_UTF8PROC_VERSION !=
      UTF8PROC_VERSION_MAJOR * 10000 + UTF8PROC_VERSION_MINOR * 100 + UTF8PROC_VERSION_PATCH) {
    GTEST_SKIP() << "the tables are of another utf8proc version, and unused";
  }
  using namespace text_tables;
  std::vector<utf8proc_int32_t> example(std::size(boundclassOf), -1);
  for (utf8proc_int32_t c = 0; c < 0x110000; ++c) {
    const unsigned tableClass = classPages[classPageOf[c >> 8]][c & 0xFF];
    ASSERT_LT(tableClass, std::size(boundclassOf)) << c;
    ASSERT_EQ(boundclassOf[tableClass], utf8proc_get_property(c)->boundclass) << c;
    if (example[tableClass] < 0) example[tableClass] = c;
  }
  for (int state = 0; state < stateCount; ++state) {
    for (std::size_t previous = 0; previous < example.size(); ++previous) {
      for (std::size_t next = 0; next < example.size(); ++next) {
        utf8proc_int32_t after = state;
        const bool breaks =
            utf8proc_grapheme_break_stateful(example[previous], example[next], &after);
        const unsigned step = transitions[state == 0 ? boundclassOf[previous] : state][next];
        EXPECT_EQ(step, (breaks ? 0x80U : 0U) | static_cast<unsigned>(after))
            << state << " " << previous << " " << next;
      }
    }
  }
}

// \xHH for a byte, \uXXXX and \UXXXXXXXX for a code point; anything else as it is.
std::string unescape(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char kind = text[i] == '\\' ? text[i + 1] : 0;
    const std::size_t digits = kind == 'x' ? 2 : kind == 'u' ? 4 : kind == 'U' ? 8 : 0;
    const auto value =
        digits ? std::stoul(std::string(text.substr(i + 2, digits)), nullptr, 16) : 0;
    bytes += digits == 0   ? std::string(1, text[i])
             : digits == 2 ? std::string(1, static_cast<char>(value))
                           : utf8(value);
    i += digits ? digits + 1 : 0;
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

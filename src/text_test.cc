#include "text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace corvane {
namespace {

constexpr const char* graphemeBreakTestPath = "/usr/share/unicode/auxiliary/GraphemeBreakTest.txt";

std::string utf8(char32_t codePoint) {
  std::string bytes;
  if (codePoint < 0x80) {
    bytes += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    bytes += static_cast<char>(0xC0 | (codePoint >> 6));
    bytes += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    bytes += static_cast<char>(0xE0 | (codePoint >> 12));
    bytes += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    bytes += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    bytes += static_cast<char>(0xF0 | (codePoint >> 18));
    bytes += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    bytes += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    bytes += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
  return bytes;
}

// One line of Unicode's GraphemeBreakTest.txt: the text, the byte offset where each code point
// starts, and the byte offsets of its character boundaries (0 and the end included).
struct BreakCase {
  std::string line;
  std::string text;
  std::vector<std::size_t> codePointStarts;
  std::vector<std::size_t> boundaries;
};

// "÷ 0020 × 0308 ÷ 0020 ÷  # comment": ÷ marks a boundary, × a place that is not one.
BreakCase parseBreakCase(const std::string& line) {
  BreakCase breakCase{line, {}, {}, {}};
  std::istringstream tokens(line.substr(0, line.find('#')));
  for (std::string token; tokens >> token;) {
    if (token == "\xC3\xB7") {
      breakCase.boundaries.push_back(breakCase.text.size());
    } else if (token != "\xC3\x97") {
      breakCase.codePointStarts.push_back(breakCase.text.size());
      breakCase.text += utf8(static_cast<char32_t>(std::stoul(token, nullptr, 16)));
    }
  }
  return breakCase;
}

std::vector<BreakCase> readGraphemeBreakTest() {
  std::ifstream file(graphemeBreakTestPath);
  std::vector<BreakCase> cases;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line[0] != '#') cases.push_back(parseBreakCase(line));
  }
  return cases;
}

TEST(GraphemeBreakTest, CountsAndCutsEveryUnicodeCase) {
  const std::vector<BreakCase> cases = readGraphemeBreakTest();
  ASSERT_GT(cases.size(), 500u) << graphemeBreakTestPath
                                << " is missing or short: install the unicode-data package";
  for (const BreakCase& breakCase : cases) {
    SCOPED_TRACE(breakCase.line);
    const std::size_t characters = breakCase.boundaries.size() - 1;
    EXPECT_EQ(countCharacters(breakCase.text), characters);
    for (std::size_t count = 0; count <= characters + 1; ++count) {
      const std::size_t end = breakCase.boundaries[std::min(count, characters)];
      EXPECT_EQ(firstCharacters(breakCase.text, count).size(), end) << "first " << count;
      EXPECT_EQ(countCharactersUpTo(breakCase.text, count), std::min(characters, count + 1));
    }
  }
}

// Splitting a text into pieces at any code point must not change where characters begin, even
// where the split falls inside a character (the segmentation state has to carry over).
TEST(GraphemeBreakTest, PiecesSegmentAsTheJoinedText) {
  const std::vector<BreakCase> cases = readGraphemeBreakTest();
  ASSERT_GT(cases.size(), 500u) << graphemeBreakTestPath << " is missing or short";
  for (const BreakCase& breakCase : cases) {
    SCOPED_TRACE(breakCase.line);
    const std::string_view text = breakCase.text;
    const std::size_t characters = breakCase.boundaries.size() - 1;
    for (const std::size_t split : breakCase.codePointStarts) {
      const std::array pieces{text.substr(0, split), std::string_view(), text.substr(split)};
      EXPECT_EQ(countCharactersUpTo(pieces, characters), characters) << "split at " << split;
      for (std::size_t count = 0; count <= characters; ++count) {
        EXPECT_EQ(firstCharacters(pieces, count), text.substr(0, breakCase.boundaries[count]));
      }
    }
  }
}

// The ASCII shortcut must hand over correctly to the full rules whenever a neighbour is not ASCII.
TEST(TextCharacters, AsciiNextToOtherCodePoints) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t characters;
  };
  const std::vector<Case> cases = {
      {"plain ASCII", "abc def", 7},
      {"CR LF is one character", "a\r\nb", 3},
      {"CR CR LF", "\r\r\n", 2},
      {"combining accent joins the letter", "e\u0301", 1},
      {"accent after ASCII run", "cafe\u0301 ok", 7},
      {"zero width joiner joins the letter", "a\u200D", 1},
      {"joiner then ASCII breaks", "a\u200Db", 2},
      {"prepended mark takes the letter", "\u0600a", 1},
      {"prepended mark then ASCII run", "x\u0600ab", 3},
      {"spacing mark after ASCII", "a\u0903b", 2},
      {"accent after CR stays apart", "\r\u0301", 2},
      {"accent after LF stays apart", "\n\u0301", 2},
      {"CR between other code points", "\u00E9\ra\u0301", 3},
      {"joiner and emoji around ASCII", "\U0001F469\u200Da\U0001F469", 3},
      {"family emoji between ASCII", "a\U0001F469\u200D\U0001F469\u200D\U0001F467b", 3},
      {"flags pair up", "\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA", 2},
      {"odd regional indicator", "\U0001F1EB\U0001F1F7\U0001F1E9", 2},
      {"ASCII resets flag pairing", "\U0001F1EBa\U0001F1F7\U0001F1E9", 3},
      {"empty", "", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(countCharacters(c.text), c.characters) << c.name;
  }
}

// Pieces are segmented as one text: a label's trailing space takes a leading combining mark.
TEST(TextCharacters, PiecesJoinAcrossTheirEdges) {
  const std::array<std::string_view, 2> pieces{"User: ", "\u0301x"};
  EXPECT_EQ(countCharactersUpTo(pieces, 100), 7u);
  EXPECT_EQ(firstCharacters(pieces, 6), "User: \u0301");
}

TEST(TextTrim, RemovesEachWhitespaceCodePointFromBothEnds) {
  const std::vector<char32_t> trimmed = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                         0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                         0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                         0x2029, 0x202F, 0x205F, 0x3000};
  for (const char32_t codePoint : trimmed) {
    const std::string space = utf8(codePoint);
    const std::string text = space + space + "a" + space + "b" + space;
    EXPECT_EQ(trimWhitespace(text), "a" + space + "b")
        << std::hex << static_cast<std::uint32_t>(codePoint);
    EXPECT_EQ(trimWhitespace(space), "") << std::hex << static_cast<std::uint32_t>(codePoint);
  }
}

TEST(TextTrim, KeepsEverythingElse) {
  const std::vector<char32_t> others = {0x08,   0x0E,   0x1F,   0x21,   0x84,   0x86,   0x9F,
                                        0xA1,   0x180E, 0x1FFF, 0x200B, 0x200C, 0x200D, 0x2027,
                                        0x202A, 0x2060, 0x3001, 0xFEFF, 0x1F600};
  for (const char32_t codePoint : others) {
    const std::string kept = utf8(codePoint);
    EXPECT_EQ(trimWhitespace("\t" + kept + "\u3000"), kept)
        << std::hex << static_cast<std::uint32_t>(codePoint);
  }
}

TEST(TextTrim, StopsAtTheFirstCodePointOutsideTheSet) {
  EXPECT_EQ(trimWhitespace("\u3000 \u200B a \u00A0\n"), "\u200B a");
  EXPECT_EQ(trimWhitespace("\u00E9\u00A0x\n\n\ny\r\n"), "\u00E9\u00A0x\n\n\ny");
  EXPECT_EQ(trimWhitespace(""), "");
}

}  // namespace
}  // namespace corvane

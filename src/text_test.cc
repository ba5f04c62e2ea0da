#include "text.h"
#include "text_tables.h"
#include "utf8.h"

#include <gtest/gtest.h>

#include "support/encode_utf8.h"

#include <array>
#include <fstream>
#include <map>
#include <sstream>

namespace corvane {
namespace {

std::string utf8(char32_t codePoint) { return testing::encodeUtf8(codePoint); }

std::string dataPath(const char* relative) {
  return std::string(CORVANE_SOURCE_DIR) + "/" + relative;
}

// tests/data/grapheme_break_departures.txt: the conformance lines Swift segments otherwise, each
// mapped to Swift's segmentation.
std::map<std::string, std::string> swiftDepartures() {
  std::ifstream file(dataPath("tests/data/grapheme_break_departures.txt"));
  std::map<std::string, std::string> departures;
  for (std::string line; std::getline(file, line);) {
    const auto arrow = line.find(" => ");
    if (line.starts_with('#') || arrow == std::string::npos) continue;
    departures[line.substr(0, arrow)] = line.substr(arrow + 4);
  }
  return departures;
}

// Unicode's GraphemeBreakTest.txt ("÷ 0020 × 0308 ÷": ÷ a boundary, × none), of the version the
// tables are made from: each text counts and cuts there (or where Swift does, for the departures),
// also split into pieces at any code point, as the segmentation state carries over.
TEST(Text, GraphemeBreakTest) {
  std::ifstream file(dataPath("third_party/unicode/17.0.0/GraphemeBreakTest.txt"));
  ASSERT_TRUE(file) << "the project's copy of GraphemeBreakTest.txt is missing";
  ASSERT_STREQ(text_tables::unicodeVersion, "17.0.0");
  std::map<std::string, std::string> departures = swiftDepartures();
  EXPECT_FALSE(departures.empty());
  int lines = 0;
  for (std::string line; std::getline(file, line);) {
    line = line.substr(0, line.find('#'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (line.empty()) continue;
    SCOPED_TRACE(line);
    ++lines;
    if (const auto departure = departures.find(line); departure != departures.end()) {
      line = departure->second;
      departures.erase(departure);
    }
    std::string text;
    std::vector<std::size_t> starts, boundaries;  // byte offsets of code points and characters
    std::istringstream tokens(line);
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
  EXPECT_EQ(lines, 766);
  for (const auto& [unmatched, swift] : departures)
    ADD_FAILURE() << "not in the file: " << unmatched;
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
  std::ifstream file(dataPath("tests/data/text.txt"));
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

#include "utf8.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(Utf8, ValidityAtTheEdgesOfEachForm) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain ascii, long enough for the word path", true},
      {"\x7F", true},
      {"\xC2\x80", true},
      {"\xDF\xBF", true},
      {"\xE0\xA0\x80", true},
      {"\xED\x9F\xBF", true},       // U+D7FF, last before the surrogates
      {"\xEE\x80\x80", true},       // U+E000, first after them
      {"\xF0\x90\x80\x80", true},   // U+10000
      {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
      {"\xC0\x80", false},          // overlong NUL
      {"\xC1\xBF", false},          // overlong
      {"\xE0\x9F\xBF", false},      // overlong three-byte form
      {"\xED\xA0\x80", false},      // U+D800
      {"\xF0\x8F\xBF\xBF", false},  // overlong four-byte form
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
      {"\xF5\x80\x80\x80", false},
      {"\xFF", false},
      {"\x80", false},               // lone continuation
      {"\xE2\x80", false},           // truncated at the end
      {"abcdefgh\xE2\x80", false},   // truncated after a fast-path word
      {"abcdefg\xC3\xA9xyz", true},  // a character straddling a word
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << ::testing::PrintToString(c.bytes);
  }
}

TEST(Utf8, ReplacesEachMaximalSubpartWithOneReplacementCharacter) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"chat", "chat"},
      {"\xFF", r},
      {"a\xFF\xFE"
       "b",
       "a" + r + r + "b"},
      // Truncated sequences count once each; a bad lead byte counts alone.
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + r + r + r + "b" + r + "c" + r + r + "d"},
      {"\xED\xA0\x80", r + r + r},  // a surrogate is three bad bytes
      {"\xE2\x80"
       "x",
       r + "x"},
      {"\xC3\xA9\xC3", "\xC3\xA9" + r},
  };
  for (const auto& c : cases) {
    const std::string got = toValidUtf8(c.in);
    EXPECT_EQ(got, c.out) << ::testing::PrintToString(c.in);
    EXPECT_TRUE(isValidUtf8(got));
  }
}

}  // namespace
}  // namespace corvane

// The character walk against Swift's String itself: random texts drawn from every class of the
// segmentation tables and from the code points where the rules are subtle are counted and cut by
// both, and must agree on every count and every cut. tests/swift/swift_characters.swift is built
// wherever a Swift toolchain is found; elsewhere this test is skipped.
#include <gtest/gtest.h>

#include "support/encode_utf8.h"

#include <array>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"
#include "text.h"
#include "text_tables.h"

namespace corvane {
namespace {

#ifdef CORVANE_SWIFT_CHARACTERS_BIN

std::string utf8(char32_t codePoint) { return testing::encodeUtf8(codePoint); }

// Where the rules are subtle: the six viramas and the conjunct linkers Swift does not join with,
// consonants of both kinds of script, ZWJ and emoji (modifiers, tags, variation selector), regional
// indicators, Hangul jamo and syllables, Prepend, SpacingMark, CR, LF, controls, unassigned code
// points, and the Kirat Rai vowel signs that Unicode calls V and Swift does not.
constexpr std::array<char32_t, 52> subtleCodePoints = {
    0x094D,  0x09CD,  0x0ACD,  0x0B4D,  0x0C4D,  0x0D4D,  0x1039,  0x17D2,  0x1B44,  0xA9C0, 0x1A60,
    0x11F42, 0x0915,  0x0937,  0x0995,  0x0D15,  0x1000,  0x1780,  0x1781,  0x1B13,  0x200D, 0x200C,
    0x1F469, 0x1F3FB, 0x2764,  0xFE0F,  0xE0067, 0xE007F, 0x1F3F4, 0x1F1E6, 0x1F1FA, 0x1100, 0x1161,
    0x11A8,  0xAC00,  0xAC01,  0x0600,  0x0903,  0x0301,  0x0D,    0x0A,    0x01,    0x7F,   0x0085,
    0x0378,  0xE01F0, 0x50000, 0x16D63, 0x16D6A, 0x0041,  0x3099,  0x0E33};

struct Sample {
  std::vector<char32_t> codePoints;
  std::string text;                 // in UTF-8
  std::vector<std::size_t> starts;  // byte offset of each code point, and the size at the end
};

std::vector<Sample> randomTexts(unsigned seed, int count) {
  // Every code point but the surrogates, by its class in the tables.
  std::vector<std::vector<char32_t>> byClass(text_tables::classCount);
  for (char32_t c = 0; c < 0x110000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    byClass[text_tables::classPages[text_tables::classPageOf[c >> 8]][c & 0xFF]].push_back(c);
  }
  std::mt19937 random(seed);
  std::vector<Sample> samples(static_cast<std::size_t>(count));
  for (Sample& sample : samples) {
    const int length = std::uniform_int_distribution<int>(0, 40)(random);
    for (int i = 0; i < length; ++i) {
      char32_t c;
      if (std::bernoulli_distribution(0.6)(random)) {
        c = subtleCodePoints[random() % subtleCodePoints.size()];
      } else {
        const auto& pool = byClass[random() % byClass.size()];
        c = pool[random() % pool.size()];
      }
      sample.starts.push_back(sample.text.size());
      sample.codePoints.push_back(c);
      sample.text += utf8(c);
    }
    sample.starts.push_back(sample.text.size());
  }
  return samples;
}

TEST(Text, AgreesWithSwiftString) {
  unsigned seed = 20261207;
  if (const char* given = std::getenv("CORVANE_TEST_SEED"))
    seed = static_cast<unsigned>(std::atol(given));
  SCOPED_TRACE("seed " + std::to_string(seed) + " (CORVANE_TEST_SEED picks another)");
  const std::vector<Sample> samples = randomTexts(seed, 4000);
  std::vector<std::string> inputs;  // each text's code points in hexadecimal, as Swift reads them
  testing::ProcessOptions options;
  for (const Sample& sample : samples) {
    std::ostringstream line;
    line << std::hex;
    for (std::size_t i = 0; i < sample.codePoints.size(); ++i)
      line << (i ? " " : "") << static_cast<unsigned long>(sample.codePoints[i]);
    inputs.push_back(line.str());
    options.stdinData += inputs.back() + '\n';
  }
  const testing::ProcessResult swift = testing::runProcess(CORVANE_SWIFT_CHARACTERS_BIN, options);
  ASSERT_TRUE(swift.exited && swift.status == 0) << swift.err;
  const std::vector<std::string> lines = testing::splitLines(swift.out);
  ASSERT_EQ(lines.size(), samples.size());

  std::mt19937 random(seed);
  int differences = 0;
  for (std::size_t i = 0; i < samples.size() && differences < 20; ++i) {
    const Sample& sample = samples[i];
    std::istringstream fields(lines[i]);
    std::size_t characters = 0;
    fields >> characters;
    std::vector<std::size_t> cuts{0};  // byte size of Swift's prefix(n), n = 0, 1, ...
    for (std::size_t codePoints; fields >> codePoints;)
      cuts.push_back(sample.starts.at(codePoints));
    const std::string_view text = sample.text;
    // Split at a random code point, as the prompt walks a label and its content.
    const std::size_t split = sample.starts[random() % sample.starts.size()];
    const std::array pieces{text.substr(0, split), text.substr(split)};
    bool same = countCharacters(text) == characters && cuts.size() == characters + 1;
    for (std::size_t n = 0; same && n <= characters + 1; ++n) {
      const std::size_t cut = cuts[std::min(n, characters)];
      same = firstCharacters(text, n).size() == cut &&
             firstCharacters(pieces, n) == text.substr(0, cut) &&
             countCharactersUpTo(pieces, n) == std::min(characters, n + 1);
    }
    if (!same) {
      ++differences;
      ADD_FAILURE() << "code points " << inputs[i] << ": Swift counts and cuts " << lines[i]
                    << ", the walk counts " << countCharacters(text);
    }
  }
}

#else

TEST(Text, AgreesWithSwiftString) {
  GTEST_SKIP() << "no Swift toolchain: Swift's String is not at hand to compare with";
}

#endif

}  // namespace
}  // namespace corvane

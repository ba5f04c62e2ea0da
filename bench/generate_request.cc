// Writes a chat request of a given number of messages and about a given size to standard output,
// the same bytes on every run: a fixed-seed generator picks the words, so the benchmark's inputs
// never differ between machines or runs.
//
// Usage: generate_request MESSAGES BYTES [NON_ASCII_PERCENT | multilingual]
//
// The text mixes ASCII words with accented Latin, Greek, Cyrillic, CJK, Hangul and Arabic words,
// combining marks, emoji (with skin tones, joiners and flags), and JSON escapes (\n, \", \u00e9,
// surrogate pairs), so that decoding and character counting both meet what a real conversation
// holds. Every message has about the same size, so requests of different sizes differ only in the
// number of messages. NON_ASCII_PERCENT is the share of words drawn from the non-ASCII ones (40 by
// default, which makes roughly half the bytes non-ASCII): 5 gives a mostly-ASCII conversation, 100
// one with no ASCII word at all. "multilingual" writes Chinese, Japanese and Korean text with CJK
// punctuation and emoji sequences (skin tones, joiners, flags, keycaps, variation selectors)
// instead, with no ASCII but the odd line break.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// SplitMix64: tiny, fast and fully determined by its seed.
class Random {
 public:
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }

 private:
  std::uint64_t state_ = 0x636F7276616E65ULL;
};

// Words as they stand in the JSON text (escapes included).
// clang-format off
constexpr std::string_view asciiWords[] = {
    "the", "pivot", "table", "summarises", "rows", "by", "column", "value", "please", "explain",
    "how", "to", "group", "sales", "per", "month", "and", "region", "without", "losing", "totals",
    "formula", "cell", "range", "chart", "axis", "legend", "filter", "sort", "merge", "data",
    "report", "quickly", "with", "a", "short", "answer", "thanks", "again", "update", "42",
    "3.14", "2024-05-01", "C:\\\\Users\\\\me", "\\\"quoted\\\"", "x/y", "<tag>", "e-mail", "it's",
    "(note)", "[draft]", "{json}", "50%", "#1", "a&b"};
// clang-format on

// clang-format off
constexpr std::string_view otherWords[] = {
    "caf\xC3\xA9",                                      // café, precomposed
    "cafe\xCC\x81",                                     // café, e + combining acute
    "na\xC3\xAFve",                                     // naïve
    "Stra\xC3\x9F" "e",                                 // Straße
    "\xC3\xBC" "ber",                                   // über
    "se\xC3\xB1or",                                     // señor
    "\xCE\xB1\xCE\xBB\xCF\x86\xCE\xAC",                 // Greek
    "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", // привет
    "\xD1\x82\xD0\xB0\xD0\xB1\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB0",  // таблица
    "\xE6\x95\xB0\xE6\x8D\xAE\xE9\x80\x8F\xE8\xA7\x86\xE8\xA1\xA8",  // 数据透视表
    "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF",  // こんにちは
    "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4",             // 한국어
    "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB",             // 한 as conjoining jamo
    "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7",         // مرحبا
    "\xF0\x9F\x98\x80",                                 // 😀
    "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD",                 // 👍🏽
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7",  // 👨‍👩‍👧
    "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7",                 // 🇫🇷
    "\xE2\x9C\x94\xEF\xB8\x8F",                         // ✔️
    "\\u00e9t\\u00e9",                                   // été, escaped
    "\\ud83d\\ude80",                                    // 🚀, escaped surrogate pair
    "line\\nbreak",                                      // escaped line feed
    "tab\\tbed",                                         // escaped tab
    "\xE2\x80\x94",                                     // em dash
    "\xE2\x82\xAC" "12",                                // €12
};
// clang-format on

// clang-format off
constexpr std::string_view cjkWords[] = {
    "\xE6\x95\xB0\xE6\x8D\xAE\xE9\x80\x8F\xE8\xA7\x86\xE8\xA1\xA8",      // 数据透视表
    "\xE6\x8C\x89\xE6\x9C\x88\xE4\xBB\xBD",                  // 按月份
    "\xE6\xB1\x87\xE6\x80\xBB\xE9\x94\x80\xE5\x94\xAE\xE9\xA2\x9D",      // 汇总销售额
    "\xE8\xAF\xB7\xE8\xA7\xA3\xE9\x87\x8A",                  // 请解释
    "\xE5\x85\xAC\xE5\xBC\x8F",                              // 公式
    "\xE5\x8D\x95\xE5\x85\x83\xE6\xA0\xBC",                  // 单元格
    "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF",      // こんにちは
    "\xE3\x83\x86\xE3\x83\xBC\xE3\x83\x96\xE3\x83\xAB",                  // テーブル
    "\xE9\x9B\x86\xE8\xA8\x88\xE3\x81\x97\xE3\x81\xA6\xE3\x81\x8F\xE3\x81\xA0\xE3\x81\x95\xE3\x81\x84",  // 集計してください
    "\xE3\x82\xAC\xE3\x82\xA4\xE3\x83\x89",                  // ガイド
    "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4",                  // 한국어
    "\xED\x94\xBC\xEB\xB2\x97 \xED\x85\x8C\xEC\x9D\xB4\xEB\xB8\x94",     // 피벗 테이블
    "\xEB\xA7\xA4\xEC\xB6\x9C\xEC\x9D\x84",                  // 매출을
    "\xEF\xBC\x8C",                                          // ，
    "\xE3\x80\x82",                                          // 。
    "\xE3\x80\x81",                                          // 、
    "\xEF\xBC\x81",                                          // ！
    "\xE3\x80\x8C\xE5\x90\x88\xE8\xAE\xA1\xE3\x80\x8D",                  // 「合计」
};

constexpr std::string_view emojiWords[] = {
    "\xF0\x9F\x98\x80",                                     // 😀
    "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD",                 // 👍🏽
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7\xE2\x80\x8D\xF0\x9F\x91\xA6",  // 👨‍👩‍👧‍👦
    "\xF0\x9F\x87\xAF\xF0\x9F\x87\xB5",                 // 🇯🇵
    "\xF0\x9F\x87\xB0\xF0\x9F\x87\xB7",                 // 🇰🇷
    "\xE2\x9D\xA4\xEF\xB8\x8F",                         // ❤️
    "1\xEF\xB8\x8F\xE2\x83\xA3",                         // 1️⃣
    "\xF0\x9F\x8F\xB3\xEF\xB8\x8F\xE2\x80\x8D\xF0\x9F\x8C\x88",  // 🏳️‍🌈
    "\xF0\x9F\x91\xA9\xF0\x9F\x8F\xBB\xE2\x80\x8D\xF0\x9F\x92\xBB",  // 👩🏻‍💻
    "\xF0\x9F\x93\x8A",                                     // 📊
};
// clang-format on

template <std::size_t N>
std::string_view pick(Random& random, const std::string_view (&words)[N]) {
  return words[random.below(N)];
}

// One message's content, as JSON string contents, of about `size` bytes.
void appendContent(std::string& out, Random& random, std::size_t size,
                   std::size_t nonAsciiPercent) {
  const std::size_t start = out.size();
  bool first = true;
  while (out.size() - start < size) {
    if (!first) out += random.below(12) == 0 ? "\\n" : " ";
    first = false;
    out +=
        random.below(100) < nonAsciiPercent ? pick(random, otherWords) : pick(random, asciiWords);
  }
}

// The same for the multilingual text: CJK words run on without spaces, one word in six an emoji.
void appendMultilingualContent(std::string& out, Random& random, std::size_t size) {
  const std::size_t start = out.size();
  while (out.size() - start < size) {
    if (out.size() > start && random.below(40) == 0) out += "\\n";
    out += random.below(6) == 0 ? pick(random, emojiWords) : pick(random, cjkWords);
  }
}

std::string_view roleOf(std::size_t index, Random& random) {
  if (index == 0) return "system";
  if (random.below(20) == 0) return "tool";
  return index % 2 == 1 ? "user" : "assistant";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fputs("usage: generate_request MESSAGES BYTES [NON_ASCII_PERCENT | multilingual]\n",
               stderr);
    return 2;
  }
  const bool multilingual = argc == 4 && std::string_view(argv[3]) == "multilingual";
  const std::size_t nonAsciiPercent =
      argc == 4 && !multilingual ? std::strtoull(argv[3], nullptr, 10) : 40;
  const std::size_t messages = std::strtoull(argv[1], nullptr, 10);
  const std::size_t bytes = std::strtoull(argv[2], nullptr, 10);
  if (messages == 0) {
    std::fputs("generate_request: at least one message\n", stderr);
    return 2;
  }
  // Bytes of a message beyond its content: {"role":"assistant","content":""}, and a comma.
  constexpr std::size_t messageOverhead = 40;
  constexpr std::size_t headerOverhead = 100;
  const std::size_t perMessage = bytes > headerOverhead ? (bytes - headerOverhead) / messages : 0;
  const std::size_t contentSize = perMessage > messageOverhead ? perMessage - messageOverhead : 1;

  Random random;
  std::string out;
  out.reserve(1 << 20);
  out += "{\"instructions\":\"Answer as a spreadsheet expert.\",\"messages\":[";
  for (std::size_t i = 0; i < messages; ++i) {
    if (i > 0) out += ',';
    out += "{\"role\":\"";
    out += roleOf(i, random);
    out += "\",\"content\":\"";
    if (multilingual) {
      appendMultilingualContent(out, random, contentSize);
    } else {
      appendContent(out, random, contentSize, nonAsciiPercent);
    }
    out += "\"}";
    if (out.size() >= (1 << 20)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  out += "],\"temperature\":0.2,\"maxTokens\":300}\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

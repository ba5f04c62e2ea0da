#include "prompt.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "text.h"

namespace corvane {
namespace {

// `count` characters cycling through some of several bytes and code points each, so that a byte or
// code point count gets every figure wrong. A prefix of k characters of mixed(n) is mixed(k).
std::string mixed(std::size_t count) {
  static const char* const units[] = {
      "a",      "e\u0301", "\U0001F469\u200D\U0001F469\u200D\U0001F467", "\U0001F1EB\U0001F1F7",
      "\u5B57", "b"};
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += units[i % 6];
  return text;
}

// `count` characters of Hindi, conjuncts among them: "क्ष" (ka, virama, ssa) and "न्द्र" (three
// consonants joined by two viramas) are one character each, as Swift counts them.
std::string hindi(std::size_t count) {
  static const char* const units[] = {
      "\u0915\u094D\u0937", "\u0928\u094D\u0926\u094D\u0930", " ",
      "\u0939\u093F\u0902", "\u091C\u094D\u091E\u093E",       "\u0964"};
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += units[i % 6];
  return text;
}

const std::string marker = "\n\u2026[truncated for on-device context]", cue = "\n\nAssistant:";

using Messages = std::vector<std::optional<std::string>>;  // role, content, role, content...

// Texts here run to tens of kilobytes: on a mismatch, say where they part instead of printing them.
::testing::AssertionResult builds(std::optional<std::string> instructions, const Messages& messages,
                                  const std::string& wantInstructions, const std::string& want) {
  ChatRequest request{{}, {}, {}, std::move(instructions)};
  for (std::size_t i = 0; i + 1 < messages.size(); i += 2) {
    request.messages.push_back({*messages[i], messages[i + 1]});
  }
  const PromptPair pair = buildPrompt(request), counted = buildPromptByCounting(request);
  const std::string got = pair.instructions + '|' + pair.prompt,
                    all = wantInstructions + '|' + want;
  if (counted.instructions != pair.instructions || counted.prompt != pair.prompt) {
    return ::testing::AssertionFailure() << "buildPromptByCounting makes another pair";
  }
  if (got == all) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "instructions|prompt part at byte "
                                       << std::ranges::mismatch(got, all).in1 - got.begin();
}

TEST(Prompt, Pairs) {
  EXPECT_EQ(countCharacters(truncationMarker), truncationMarkerChars);
  EXPECT_TRUE(builds("Answer briefly.",
                     {"system", "  You help with spreadsheets.\n", "user", "What is a pivot table?",
                      "assistant", "A summary table.", "tool", "rows=3", "user", "   ", "developer",
                      "Show an example.", "system", "Use metric units.", "assistant", std::nullopt},
                     "Answer briefly.\n\nYou help with spreadsheets.\n\nUse metric units.",
                     "User: What is a pivot table?\n\nAssistant: A summary table.\n\nTool result: "
                     "rows=3\n\nUser: Show an example.\n\nAssistant:"));
  // Instructions are kept verbatim, empty ones and blank system parts add nothing; no turn, no cue.
  EXPECT_TRUE(builds("   ",
                     {"system", " A ", "system", " \n ", "system", std::nullopt, "system", "B"},
                     "   \n\nA\n\nB", ""));
  // Roles match exactly or speak as the user; only the ends of a content are trimmed.
  EXPECT_TRUE(builds("", {"system", "S", "System", "1", "ASSISTANT", "2", " tool", "\n a\n\n b \n"},
                     "S", "User: 1\n\nUser: 2\n\nUser: a\n\n b" + cue));
  // The instructions' budget: 2000 + 2 + 2498 fits exactly.
  EXPECT_TRUE(builds(mixed(2000), {"system", mixed(2498)}, mixed(2000) + "\n\n" + mixed(2498), ""));
  EXPECT_TRUE(builds(mixed(2000), {"system", mixed(2499)},
                     mixed(2000) + "\n\n" + mixed(2498) + marker, ""));
  // 6000 system parts are cut as one text: each "a" with its separator is three characters.
  Messages many;
  std::string parts;
  for (int i = 0; i < 6000; ++i) many.insert(many.end(), {"system", "a"});
  for (int i = 0; i < 1500; ++i) parts += "a\n\n";
  EXPECT_TRUE(builds({}, many, parts + marker, ""));
  // Bytes that fit settle the pair uncounted; a byte more, and the counts decide. 4 + 16 +
  // (6 + 1 + 2) + (6 + n + 2) bytes and characters: the older line fits up to n = 11963.
  for (const std::size_t n : {11963, 11964}) {
    const std::string older(n, 'a');
    EXPECT_TRUE(builds("iiii", {"user", older, "user", "b"}, "iiii",
                       (n == 11963 ? "User: " + older + "\n\n" : "") + "User: b" + cue));
  }
  // Conjuncts count one: 6000 characters of Hindi are cut after the 4500th, not earlier.
  EXPECT_TRUE(builds(hindi(4500), {}, hindi(4500), ""));
  EXPECT_TRUE(builds(hindi(6000), {}, hindi(4500) + marker, ""));
  EXPECT_TRUE(builds({}, {"user", hindi(11976)}, "", "User: " + hindi(11976) + cue));
  EXPECT_TRUE(builds(std::string(4500, 'i'), {}, std::string(4500, 'i'), ""));
  EXPECT_TRUE(builds(std::string(4501, 'i'), {}, std::string(4500, 'i') + marker, ""));
  // 12001 bytes but 12000 characters: the line fits.
  EXPECT_TRUE(builds("\u00e9", {"user", std::string(11975, 'a'), "user", ""}, "\u00e9",
                     "User: " + std::string(11975, 'a') + cue));
  // One line: 16 reserved, so the fallback limit is 11984 with the label.
  EXPECT_TRUE(builds({}, {"user", mixed(11978)}, "", "User: " + mixed(11978) + cue));
  EXPECT_TRUE(builds({}, {"user", mixed(11979)}, "", "User: " + mixed(11978) + marker + cue));
  // 16 + 58 + 113 leave too little for the 12006-character line: the walk stops there for good.
  EXPECT_TRUE(builds(
      {}, {"user", mixed(10), "user", mixed(12000), "assistant", mixed(100), "tool", mixed(43)}, "",
      "Assistant: " + mixed(100) + "\n\nTool result: " + mixed(43) + cue));
  // A leading combining mark joins the label's space: 11972 characters leave exactly the 10 that
  // "User: Hi" costs.
  EXPECT_TRUE(builds({}, {"user", "Hi", "user", "\u0301" + mixed(11966)}, "",
                     "User: Hi\n\nUser: \u0301" + mixed(11966) + cue));
  // The fallback line gets 12000 - 4535 - 16; the instructions then give way to 4504 characters,
  // the first four of the earlier marker among them, or keep their floor of 256.
  EXPECT_TRUE(builds(mixed(10000), {"user", mixed(20000)}, mixed(4500) + "\n\u2026[t" + marker,
                     "User: " + mixed(7443) + marker + cue));
  EXPECT_TRUE(builds(mixed(257), {"user", mixed(20000)}, mixed(256) + marker,
                     "User: " + mixed(11721) + marker + cue));
  // A kept part ending in CR joins the marker's line feed: later figures count the text as it is.
  EXPECT_TRUE(builds(mixed(10000), {"user", mixed(7442) + "\r" + mixed(20000)},
                     mixed(4500) + "\n\u2026[tr" + marker,
                     "User: " + mixed(7442) + "\r" + marker + cue));
  EXPECT_TRUE(builds(mixed(4499) + "\r" + mixed(6000), {"user", mixed(20000)},
                     mixed(4499) + "\r\n\u2026[t" + marker, "User: " + mixed(7444) + marker + cue));
}

// Lines the walk took are not counted again: whatever their edges hold, the pair must fit. The
// older line's length sweeps the room left, so one length fills the context to the last character
// the walk can charge, 6 below the budget (the cue and separators cost less than the walk charges).
TEST(Prompt, WalkedLinesFitBesideWholeInstructions) {
  for (const char* head : {"", "\u0301", "\u200D", "\U0001F1EB", "\U0001F469"}) {
    for (const char* tail : {"", "e\u0301", "\u200D", "\U0001F1EB", "\r\u200D"}) {
      std::size_t largest = 0;
      for (std::size_t n = 7950; n < 7965; ++n) {
        ChatRequest request{
            {{"assistant", head + mixed(n) + tail}, {"user", "Hi"}}, {}, {}, mixed(4000)};
        const PromptPair pair = buildPrompt(request);
        EXPECT_EQ(pair.instructions, mixed(4000));
        largest =
            std::max(largest, countCharacters(pair.instructions) + countCharacters(pair.prompt));
      }
      EXPECT_EQ(largest, contextCharBudget - 6) << head << "|" << tail;
    }
  }
}

}  // namespace
}  // namespace corvane

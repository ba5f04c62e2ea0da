#include "prompt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "text.h"

namespace corvane {
namespace {

ChatMessage message(std::string role, std::optional<std::string> content) {
  return ChatMessage{std::move(role), std::move(content)};
}

ChatRequest request(std::optional<std::string> instructions, std::vector<ChatMessage> messages) {
  ChatRequest built;
  built.instructions = std::move(instructions);
  built.messages = std::move(messages);
  return built;
}

// `count` characters cycling through several that take more than one byte and more than one code
// point, so that a byte or code point count would get every figure wrong. Any prefix of
// mixed(n) of k characters is mixed(k).
std::string mixed(std::size_t count) {
  static const std::vector<std::string> units = {
      "a",      "e\u0301", "\U0001F469\u200D\U0001F469\u200D\U0001F467", "\U0001F1EB\U0001F1F7",
      "\u5B57", "b"};
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += units[i % units.size()];
  return text;
}

const std::string marker(truncationMarker);
const std::string cue = "\n\nAssistant:";

std::size_t length(const std::string& text) { return countCharacters(text); }

// Texts here run to tens of kilobytes: on a mismatch, say where they part instead of printing
// both.
::testing::AssertionResult sameText(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const auto parted = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  const auto at = static_cast<std::size_t>(parted.first - actual.begin());
  const std::size_t from = at < 20 ? 0 : at - 20;
  return ::testing::AssertionFailure()
         << "sizes " << actual.size() << " and " << expected.size()
         << " bytes, first difference at byte " << at << ": actual \"" << actual.substr(from, 40)
         << "\" expected \"" << expected.substr(from, 40) << "\"";
}

TEST(PromptBuild, WorkedExample) {
  const PromptPair pair = buildPrompt(request(
      "Answer briefly.",
      {message("system", "  You help with spreadsheets.\n"),
       message("user", "What is a pivot table?"), message("assistant", "A summary table."),
       message("tool", "rows=3"), message("user", "   "), message("developer", "Show an example."),
       message("system", "Use metric units."), message("assistant", {})}));
  EXPECT_EQ(pair.instructions,
            "Answer briefly.\n\nYou help with spreadsheets.\n\nUse metric units.");
  EXPECT_EQ(pair.prompt,
            "User: What is a pivot table?\n\nAssistant: A summary table.\n\nTool result: "
            "rows=3\n\nUser: Show an example.\n\nAssistant:");
  EXPECT_EQ(length(pair.instructions), 63u);
  EXPECT_EQ(length(pair.prompt), 114u);
  EXPECT_EQ(length(pair.instructions + pair.prompt), 177u);
}

TEST(PromptBuild, SmallRequests) {
  struct Case {
    const char* name;
    ChatRequest request;
    std::string instructions;
    std::string prompt;
  };
  const std::vector<Case> cases = {
      {"nothing at all", request({}, {}), "", ""},
      {"only system messages: no prompt, no cue",
       request("Be kind.", {message("system", " A "), message("system", "B")}),
       "Be kind.\n\nA\n\nB", ""},
      {"instructions of spaces are used verbatim", request("   ", {}), "   ", ""},
      {"empty instructions add no separator", request("", {message("system", "S")}), "S", ""},
      {"blank system message adds no separator",
       request("X", {message("system", " \n "), message("system", "Y")}), "X\n\nY", ""},
      {"skipped messages keep the order",
       request({}, {message("user", "a"), message("user", " \t"), message("system", ""),
                    message("assistant", {}), message("tool", "b"), message("system", {})}),
       "", "User: a\n\nTool result: b" + cue},
      {"roles match exactly or speak as the user",
       request({}, {message("System", "1"), message("ASSISTANT", "2"), message(" tool", "3"),
                    message("", "4"), message("developer", "5")}),
       "", "User: 1\n\nUser: 2\n\nUser: 3\n\nUser: 4\n\nUser: 5" + cue},
      {"interior blank lines stay", request({}, {message("user", "\n a\n\n\n b \n")}), "",
       "User: a\n\n\n b" + cue},
      {"zero width space and byte order mark are content",
       request({}, {message("user", "\u200B"), message("assistant", "\uFEFF")}), "",
       "User: \u200B\n\nAssistant: \uFEFF" + cue},
  };
  for (const Case& c : cases) {
    const PromptPair pair = buildPrompt(c.request);
    EXPECT_TRUE(sameText(pair.instructions, c.instructions)) << c.name;
    EXPECT_TRUE(sameText(pair.prompt, c.prompt)) << c.name;
  }
}

TEST(PromptInstructions, HeldToTheirBudget) {
  // The request instructions (2000) + separator (2) + a system part: 4500 fits exactly.
  const PromptPair exact = buildPrompt(request(mixed(2000), {message("system", mixed(2498))}));
  EXPECT_TRUE(sameText(exact.instructions, mixed(2000) + "\n\n" + mixed(2498)));
  EXPECT_EQ(length(exact.instructions), 4500u);

  const PromptPair over = buildPrompt(request(mixed(2000), {message("system", mixed(2499))}));
  EXPECT_TRUE(sameText(over.instructions, mixed(2000) + "\n\n" + mixed(2498) + marker));
  EXPECT_EQ(length(over.instructions), 4535u);
}

TEST(PromptInstructions, LongInstructionsBesideAShortMessage) {
  const PromptPair pair = buildPrompt(request(mixed(10000), {message("user", "Hi")}));
  EXPECT_TRUE(sameText(pair.instructions, mixed(4500) + marker));
  EXPECT_EQ(length(pair.instructions), 4535u);
  EXPECT_TRUE(sameText(pair.prompt, "User: Hi" + cue));
  EXPECT_EQ(length(pair.prompt), 20u);
}

TEST(PromptInstructions, ManySystemMessagesAreCutLikeOneText) {
  std::vector<ChatMessage> messages(6000, message("system", "a"));
  messages.push_back(message("user", "last"));
  const PromptPair pair = buildPrompt(request({}, messages));
  // "a" and its separator are three characters: the first 4500 are 1500 of them.
  std::string expected;
  for (int i = 0; i < 1500; ++i) expected += "a\n\n";
  EXPECT_TRUE(sameText(pair.instructions, expected + marker));
  EXPECT_TRUE(sameText(pair.prompt, "User: last" + cue));
}

// One user message and no instructions: 16 characters are reserved, the line costs its length
// plus 2 and carries the 6 characters of "User: ".
TEST(PromptTurnLines, SingleMessageAroundTheContextBudget) {
  struct Case {
    std::size_t contentLength;
    std::string expectedPrompt;
    std::size_t promptLength;
  };
  const std::vector<Case> cases = {
      {11975, "User: " + mixed(11975) + cue, 11993},  // fits the walk
      {11976, "User: " + mixed(11976) + cue, 11994},  // fills the context to the character
      {11977, "User: " + mixed(11977) + cue, 11995},  // only the fallback keeps it whole
      {11978, "User: " + mixed(11978) + cue, 11996},  // exactly the fallback limit of 11984
      {11979, "User: " + mixed(11978) + marker + cue, 12031},
      {30000, "User: " + mixed(11978) + marker + cue, 12031},
  };
  for (const Case& c : cases) {
    const PromptPair pair = buildPrompt(request({}, {message("user", mixed(c.contentLength))}));
    EXPECT_TRUE(sameText(pair.instructions, "")) << c.contentLength;
    EXPECT_TRUE(sameText(pair.prompt, c.expectedPrompt)) << c.contentLength;
    EXPECT_EQ(length(pair.prompt), c.promptLength) << c.contentLength;
  }
}

TEST(PromptTurnLines, WalkStopsAtTheFirstLineThatDoesNotFit) {
  const std::string newest = "Tool result: " + mixed(43);  // 56
  const std::string middle = "Assistant: " + mixed(100);   // 111
  const PromptPair pair =
      buildPrompt(request({}, {message("user", mixed(10)), message("user", mixed(12000)),
                               message("assistant", mixed(100)), message("tool", mixed(43))}));
  // 16 + 58 + 113 leaves 11813, too little for the 12006-character line, and the 16-character
  // line before it stays out even though it would fit.
  EXPECT_TRUE(sameText(pair.prompt, middle + "\n\n" + newest + cue));
  EXPECT_EQ(length(pair.prompt), 111u + 2 + 56 + 12);
}

TEST(PromptTurnLines, ALineCountsAsTheTextItMakes) {
  // A leading combining mark joins the label's space: "User: " + this content is 11972
  // characters, which leaves exactly the 10 that "User: Hi" costs.
  const std::string content = "\u0301" + mixed(11966);
  const PromptPair pair =
      buildPrompt(request({}, {message("user", "Hi"), message("user", content)}));
  EXPECT_TRUE(sameText(pair.prompt, "User: Hi\n\nUser: " + content + cue));
}

TEST(PromptFinalCheck, InstructionsGiveWayToTheFallbackLine) {
  const PromptPair pair = buildPrompt(request(mixed(10000), {message("user", mixed(20000))}));
  // 4535 + 16 leaves 7449 for the newest line, cut with its label.
  EXPECT_TRUE(sameText(pair.prompt, "User: " + mixed(7443) + marker + cue));
  EXPECT_EQ(length(pair.prompt), 7496u);
  // 4535 + 7496 is over the context: the instructions keep 12000 - 7496 = 4504 of their
  // characters, the first four of the earlier marker among them.
  EXPECT_TRUE(sameText(pair.instructions, mixed(4500) + "\n\u2026[t" + marker));
  EXPECT_EQ(length(pair.instructions), 4539u);
}

// When the walk took the lines, the pair is not counted again: it must fit whatever the lines hold
// at their edges. Each case sweeps the older line's length across the room left, so one length
// fills the context to the last character the walk can charge.
TEST(PromptFinalCheck, WalkedLinesFitBesideWholeInstructions) {
  const std::vector<std::string> heads = {"", "\u0301", "\u200D", "\U0001F1EB", "\U0001F469"};
  const std::vector<std::string> tails = {"", "e\u0301", "\u200D", "\U0001F1EB", "\r\u200D"};
  for (const std::string& head : heads) {
    for (const std::string& tail : tails) {
      std::size_t largest = 0;
      for (std::size_t n = 7950; n < 7965; ++n) {
        const PromptPair pair = buildPrompt(request(
            mixed(4000), {message("assistant", head + mixed(n) + tail), message("user", "Hi")}));
        EXPECT_TRUE(sameText(pair.instructions, mixed(4000)));
        const std::size_t total = length(pair.instructions) + length(pair.prompt);
        EXPECT_LE(total, contextCharBudget) << n;
        largest = std::max(largest, total);
      }
      // Filled to the last character: 6 below the budget, the cue and separators being cheaper
      // than what the walk charges.
      EXPECT_EQ(largest, contextCharBudget - 6);
    }
  }
}

TEST(PromptFinalCheck, InstructionsKeepTheirFloor) {
  const PromptPair pair = buildPrompt(request(mixed(257), {message("user", mixed(20000))}));
  EXPECT_EQ(length(pair.prompt), 11774u);
  EXPECT_TRUE(sameText(pair.instructions, mixed(256) + marker));
  EXPECT_EQ(length(pair.instructions), 291u);
}

// A kept part ending in CR merges with the marker's line feed into one character, so the cut text
// is one shorter than limit + 35, and every later figure must follow from the text as it is.
TEST(PromptLoneCarriageReturn, FallbackCutEndingInCr) {
  // The line's 7449th character is the CR.
  const std::string content = mixed(7442) + "\r" + mixed(20000);
  const PromptPair pair = buildPrompt(request(mixed(10000), {message("user", content)}));
  EXPECT_TRUE(sameText(pair.prompt, "User: " + mixed(7442) + "\r" + marker + cue));
  EXPECT_EQ(length(pair.prompt), 7495u);
  // 12000 - 7495 leaves the instructions 4505 characters, not 4504.
  EXPECT_TRUE(sameText(pair.instructions, mixed(4500) + "\n\u2026[tr" + marker));
  EXPECT_EQ(length(pair.instructions), 4540u);
}

TEST(PromptLoneCarriageReturn, InstructionsCutEndingInCr) {
  const std::string instructions = mixed(4499) + "\r" + mixed(6000);
  const PromptPair pair = buildPrompt(request(instructions, {message("user", mixed(20000))}));
  // Step by step: instructions 4534, fallback room 12000 - 4550 = 7450, prompt 7450 + 35 + 12.
  EXPECT_TRUE(sameText(pair.prompt, "User: " + mixed(7444) + marker + cue));
  EXPECT_EQ(length(pair.prompt), 7497u);
  // 4534 + 7497 is over: 4503 characters stay, the CR LF pair counted once among them.
  EXPECT_TRUE(sameText(pair.instructions, mixed(4499) + "\r\n\u2026[t" + marker));
  EXPECT_EQ(length(pair.instructions), 4538u);
}

TEST(PromptLoneCarriageReturn, FinalCutEndingInCr) {
  const std::string instructions = mixed(255) + "\rx";  // 257 characters, kept as given
  const PromptPair pair = buildPrompt(request(instructions, {message("user", mixed(20000))}));
  EXPECT_EQ(length(pair.prompt), 11774u);
  EXPECT_TRUE(sameText(pair.instructions, mixed(255) + "\r" + marker));
  EXPECT_EQ(length(pair.instructions), 290u);
}

// 100,000 messages of about 640 bytes, system ones among them. Only the newest lines and the first
// instruction parts may be looked at, so this stays quick; a walk that built or counted every line
// would show here as a slow test.
TEST(PromptScale, HundredThousandMessages) {
  const std::string body = mixed(113);  // 645 bytes
  std::vector<ChatMessage> messages;
  messages.reserve(100000);
  for (int i = 0; i < 100000; ++i) {
    const char* role = i % 10 == 3 ? "system" : i % 2 == 0 ? "user" : "assistant";
    messages.push_back(message(role, body));
  }
  const ChatRequest big = request("Stay short.", std::move(messages));
  const PromptPair first = buildPrompt(big);
  EXPECT_EQ(length(first.instructions), 4535u);
  // The lines' costs add up to at most 12000 - 4551 and the prompt is that sum + 10; had one more
  // line (at most 113 + 2) fitted, the walk would have taken it.
  EXPECT_LE(length(first.prompt), 12000u - 4551 + 10);
  EXPECT_GT(length(first.prompt), 12000u - 4551 + 10 - 126);
  EXPECT_TRUE(first.prompt.ends_with("Assistant: " + body + cue));
  const PromptPair second = buildPrompt(big);
  EXPECT_TRUE(sameText(first.instructions, second.instructions));
  EXPECT_TRUE(sameText(first.prompt, second.prompt));
}

}  // namespace
}  // namespace corvane

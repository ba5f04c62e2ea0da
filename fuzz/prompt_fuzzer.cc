// buildPrompt on requests made from the fuzzer's bytes: a few dozen messages of every role, with
// texts from empty to far past the budgets (short patterns repeated), whitespace-only ones, and
// clusters that run across the cut. It must never crash, give the same pair twice, keep both texts
// valid UTF-8, end a non-empty prompt with the cue for the assistant, leave the prompt empty only
// when no message has content to answer, and never exceed the largest total the budgets allow.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "chat_request.h"
#include "fuzz_check.h"
#include "prompt.h"
#include "text.h"
#include "utf8.h"

namespace {

using corvane::ChatMessage;
using corvane::ChatRequest;

// The pair: the context budget plus what the budget arithmetic lets past it (the newest line's
// floor of 512 characters, the marker and the cue).
constexpr std::size_t maxPairChars = 12065;
constexpr std::string_view assistantCue = "\n\nAssistant:";

// Fragments that make the texts interesting around the cut: whitespace the trim removes, a
// carriage return that the marker's line feed would join, combining marks and joiners that glue
// characters together, and multi-byte characters.
constexpr std::array<std::string_view, 10> fragments{
    " ",
    "\r",
    "\n",
    "\xCC\x81" /* U+0301 */,
    "\xE2\x80\x8D" /* ZWJ */,
    "\xF0\x9F\x91\xA9" /* woman */,
    "\xF0\x9F\x87\xBA" /* RI U */,
    "\xE3\x80\x80" /* ideographic space */,
    "a",
    "\xE2\x80\xA6" /* ellipsis */,
};

// A short pattern, repeated: up to about 40000 characters from a handful of input bytes.
std::string makeText(FuzzedDataProvider& provider) {
  std::string pattern;
  const int parts = provider.ConsumeIntegralInRange<int>(0, 4);
  for (int i = 0; i < parts; ++i) {
    if (provider.ConsumeBool()) {
      pattern += fragments[provider.ConsumeIntegralInRange<std::size_t>(0, fragments.size() - 1)];
    } else {
      pattern += corvane::toValidUtf8(provider.ConsumeRandomLengthString(16));
    }
  }
  std::size_t repeats = 1;
  switch (provider.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      break;
    case 1:
      repeats = provider.ConsumeIntegralInRange<std::size_t>(1, 600);
      break;
    default:
      repeats = provider.ConsumeIntegralInRange<std::size_t>(1000, 20000);
      break;
  }
  std::string text;
  text.reserve(pattern.size() * repeats);
  for (std::size_t i = 0; i < repeats; ++i) text += pattern;
  return text;
}

std::string makeRole(FuzzedDataProvider& provider) {
  static constexpr std::array<std::string_view, 6> roles{"user",   "assistant", "tool",
                                                         "system", "",          "User"};
  const std::size_t pick = provider.ConsumeIntegralInRange<std::size_t>(0, roles.size());
  if (pick < roles.size()) return std::string(roles[pick]);
  return corvane::toValidUtf8(provider.ConsumeRandomLengthString(12));
}

bool hasContentToAnswer(const ChatRequest& request) {
  for (const ChatMessage& message : request.messages) {
    if (message.role == "system" || !message.content) continue;
    if (!corvane::trimWhitespace(*message.content).empty()) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  ChatRequest request;
  if (provider.ConsumeBool()) request.instructions = makeText(provider);
  const int messages = provider.ConsumeIntegralInRange<int>(0, 40);
  for (int i = 0; i < messages && provider.remaining_bytes() > 0; ++i) {
    ChatMessage message;
    message.role = makeRole(provider);
    if (provider.ConsumeIntegralInRange<int>(0, 5) != 0) message.content = makeText(provider);
    request.messages.push_back(std::move(message));
  }

  const corvane::PromptPair pair = corvane::buildPrompt(request);
  const corvane::PromptPair again = corvane::buildPrompt(request);
  FUZZ_CHECK(pair.instructions == again.instructions && pair.prompt == again.prompt);

  FUZZ_CHECK(corvane::isValidUtf8(pair.instructions) && corvane::isValidUtf8(pair.prompt));
  FUZZ_CHECK(pair.prompt.empty() == !hasContentToAnswer(request));
  FUZZ_CHECK(pair.prompt.empty() || pair.prompt.ends_with(assistantCue));
  FUZZ_CHECK(corvane::countCharacters(pair.instructions) + corvane::countCharacters(pair.prompt) <=
             maxPairChars);
  return 0;
}

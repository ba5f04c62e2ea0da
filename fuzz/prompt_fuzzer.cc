// buildPrompt on up to 40 messages of any role, with texts from empty to far past the budgets. The
// pair comes out the same each time, and the same as buildPromptByCounting, as valid UTF-8, within
// the most the budgets allow; a prompt ends with the cue for the assistant, and is empty only when
// no message has content to answer.
#include "harness.h"
#include "prompt.h"

// Fragments that matter around the cut: whitespace the trim removes, a carriage return the
// marker's line feed would join, a combining mark and the joiner that glue characters.
constexpr std::string_view fragments[] = {" ",          "\r",         "\n",     "\u0301", "\u200D",
                                          "\U0001F469", "\U0001F1FA", "\u3000", "a",      "\u2026"};
constexpr const char* roles[] = {"user", "assistant", "tool", "system", "", "User"};

// A short pattern, repeated: up to about 40000 characters from a handful of input bytes.
static std::string makeText(FuzzedDataProvider& provider) {
  std::string pattern, text;
  for (int parts = provider.ConsumeIntegralInRange<int>(0, 4); parts > 0; --parts) {
    pattern += provider.ConsumeBool() ? std::string(provider.PickValueInArray(fragments))
                                      : toValidUtf8(provider.ConsumeRandomLengthString(16));
  }
  std::size_t repeats = 1;
  const int length = provider.ConsumeIntegralInRange<int>(0, 3);
  if (length == 1) repeats = provider.ConsumeIntegralInRange<std::size_t>(1, 600);
  if (length > 1) repeats = provider.ConsumeIntegralInRange<std::size_t>(1000, 20000);
  for (std::size_t i = 0; i < repeats; ++i) text += pattern;
  return text;
}

void fuzz(std::string_view, FuzzedDataProvider& provider) {
  ChatRequest request;
  bool answerable = false;
  if (provider.ConsumeBool()) request.instructions = makeText(provider);
  const int messages = provider.ConsumeIntegralInRange<int>(0, 40);
  for (int i = 0; i < messages && provider.remaining_bytes() > 0; ++i) {
    ChatMessage& message = request.messages.emplace_back();
    const std::size_t role = provider.ConsumeIntegralInRange<std::size_t>(0, std::size(roles));
    message.role =
        role < std::size(roles) ? roles[role] : toValidUtf8(provider.ConsumeRandomLengthString(12));
    if (provider.ConsumeIntegralInRange<int>(0, 5) != 0) message.content = makeText(provider);
    answerable = answerable || (message.role != "system" && message.content &&
                                !trimWhitespace(*message.content).empty());
  }
  const PromptPair pair = buildPrompt(request), again = buildPrompt(request);
  FUZZ_CHECK(pair.instructions == again.instructions && pair.prompt == again.prompt);
  // Where byte lengths settle the pair, it is made without counting: counting gives the same.
  const PromptPair counted = buildPromptByCounting(request);
  FUZZ_CHECK(pair.instructions == counted.instructions && pair.prompt == counted.prompt);
  FUZZ_CHECK(isValidUtf8(pair.instructions) && isValidUtf8(pair.prompt));
  FUZZ_CHECK(pair.prompt.empty() || pair.prompt.ends_with("\n\nAssistant:"));
  FUZZ_CHECK(pair.prompt.empty() == !answerable);
  // The context budget, and past it the newest line's floor of 512 characters, marker and cue.
  FUZZ_CHECK(countCharacters(pair.instructions) + countCharacters(pair.prompt) <= 12065);
}

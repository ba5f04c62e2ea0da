// Condensing a chat request into the instructions text and the prompt text the model takes, under
// fixed budgets counted in user-perceived characters (extended grapheme clusters).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "chat_request.h"

namespace corvane {

inline constexpr std::size_t contextCharBudget = 12000;
inline constexpr std::size_t instructionsCharBudget = 4500;
// Charged once against the context budget, with the instructions, before any turn line is chosen.
inline constexpr std::size_t promptOverheadChars = 16;
// Charged for each turn line on top of its own length: the separator that joins it to the next.
inline constexpr std::size_t turnLineChargeChars = 2;
// The newest turn line, when no turn line fits whole, is kept to at least this many characters.
inline constexpr std::size_t fallbackLineFloorChars = 512;
// Instructions cut to make the pair fit keep at least this many characters.
inline constexpr std::size_t instructionsFloorChars = 256;
// A line feed, the horizontal ellipsis, then the bracketed words: 35 characters, 37 bytes.
inline constexpr std::string_view truncationMarker =
    "\n\xE2\x80\xA6[truncated for on-device context]";
inline constexpr std::size_t truncationMarkerChars = 35;

struct PromptPair {
  std::string instructions;
  std::string prompt;
};

// Never fails; the same request always yields the same pair. Either text may be empty.
PromptPair buildPrompt(const ChatRequest& request);

// The same pair as buildPrompt, always made by counting characters: buildPrompt skips counting
// where byte lengths already settle the pair, and the tests hold the two to the same answer.
PromptPair buildPromptByCounting(const ChatRequest& request);

}  // namespace corvane

// Placeholder until prompt assembly lands.
#include "prompt.h"

namespace corvane {
PromptPair buildPrompt(const ChatRequest&) { return {}; }
}  // namespace corvane

// The two decoders behind decodeChatRequest, declared apart so that tests can hold one to the
// other.
#pragma once

#include <optional>
#include <string_view>
#include <variant>

#include "chat_request.h"

namespace corvane {

inline bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The request's own keys, compared exactly as written (after unescaping); every other key names a
// member the request ignores.
enum class TopKey { messages, temperature, maxTokens, instructions, other };

inline TopKey topKeyOf(std::string_view key) {
  if (key == "messages") return TopKey::messages;
  if (key == "temperature") return TopKey::temperature;
  if (key == "maxTokens") return TopKey::maxTokens;
  if (key == "instructions") return TopKey::instructions;
  return TopKey::other;
}

// The request, when `bytes` are strict JSON of the shape a request has and every field is valid;
// nothing otherwise, and also whenever this decoder would rather not decide (an escaped key,
// nesting past a few dozen levels, a number of unusual form). Whatever it returns, the complete
// decoder returns too.
std::optional<ChatRequest> decodeTypicalChatRequest(std::string_view bytes);

// The complete decoder: any input, and the first failure in field order, located and described.
std::variant<ChatRequest, DecodeFailure> decodeAnyChatRequest(std::string_view bytes);

}  // namespace corvane

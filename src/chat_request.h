// The chat request as read from standard input, and its strict decoding.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvane {

struct ChatMessage {
  std::string role;
  std::optional<std::string> content;  // absent or null in the JSON: no value
};

struct ChatRequest {
  std::vector<ChatMessage> messages;  // chronological; the last one is the newest
  std::optional<double> temperature;
  std::optional<std::int64_t> maxTokens;
  std::optional<std::string> instructions;
};

struct DecodeFailure {
  std::string description;  // where and what, for the developer of the calling application
};

// Decodes the complete bytes of standard input. Only the first failure in field order (messages,
// element by element with role before content, then temperature, maxTokens, instructions) is
// reported, whatever its place in the document.
std::variant<ChatRequest, DecodeFailure> decodeChatRequest(std::string_view bytes);

}  // namespace corvane

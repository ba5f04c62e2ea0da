// The two decoders behind decodeChatRequest, declared apart so that tests can hold one to the
// other.
#pragma once

#include <optional>
#include <string_view>
#include <variant>

#include "chat_request.h"

namespace corvane {

// The request, when `bytes` are strict JSON of the shape a request has and every field is valid;
// nothing otherwise, and also whenever this decoder would rather not decide (an escaped key,
// nesting past a few dozen levels, a number of unusual form). Whatever it returns, the complete
// decoder returns too.
std::optional<ChatRequest> decodeTypicalChatRequest(std::string_view bytes);

// The complete decoder: any input, and the first failure in field order, located and described.
std::variant<ChatRequest, DecodeFailure> decodeAnyChatRequest(std::string_view bytes);

}  // namespace corvane

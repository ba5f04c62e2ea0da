// Placeholder until the decoder lands.
#include "chat_request.h"

namespace corvane {
std::variant<ChatRequest, DecodeFailure> decodeChatRequest(std::string_view) {
  return DecodeFailure{"not implemented"};
}
}  // namespace corvane

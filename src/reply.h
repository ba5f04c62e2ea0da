// The one reply line every run prints, and the writer through which it leaves the program.
#pragma once

#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace corvane {

class Platform;

using ReplyValue = std::variant<std::string, bool>;

// A flat JSON object whose values are texts or booleans. Each reply is built from a fixed set of
// distinct keys, so keys are never repeated.
struct ResponseObject {
  std::vector<std::pair<std::string, ReplyValue>> members;

  ResponseObject& set(std::string key, ReplyValue value) {
    members.emplace_back(std::move(key), std::move(value));
    return *this;
  }

  static ResponseObject error(std::string message) {
    ResponseObject reply;
    reply.set("error", std::move(message));
    return reply;
  }
};

// Printed instead of a reply that cannot be written as valid UTF-8 JSON.
inline constexpr std::string_view fallbackReplyLine = "{\"error\":\"failed to encode response\"}\n";

// The reply as one compact JSON line ending in a line feed, or nothing when a key or value is not
// valid UTF-8.
std::optional<std::string> serializeReply(const ResponseObject& reply);

// Writes the reply (or the fallback line) to standard output. Never fails, never ends the process;
// the caller chooses the exit status afterwards. A reply whose line cannot be made for lack of
// memory is written as the fallback line too.
void emit(Platform& platform, const ResponseObject& reply) noexcept;

// Writes the fallback line.
void emitFallback(Platform& platform) noexcept;

// Writes the reply that `build` returns. When there is not the memory to build it, the fallback
// line stands for it, so that the run still answers with one line and its own exit status.
template <typename Build>
void emitBuilt(Platform& platform, Build&& build) noexcept {
  try {
    emit(platform, build());
  } catch (const std::bad_alloc&) {
    emitFallback(platform);
  }
}

}  // namespace corvane

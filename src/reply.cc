#include "reply.h"

#include "../lib/json_text.h"
#include "platform.h"
#include "utf8.h"

namespace corvane {

std::optional<std::string> serializeReply(const ResponseObject& reply) {
  std::size_t size = 3;
  for (const auto& [key, value] : reply.members) {
    size += key.size() + 4;
    if (const auto* text = std::get_if<std::string>(&value))
      size += text->size() + 2;
    else
      size += 5;
  }
  std::string line;
  line.reserve(size + size / 8);
  line.push_back('{');
  bool first = true;
  for (const auto& [key, value] : reply.members) {
    if (!first) line.push_back(',');
    first = false;
    if (!isValidUtf8(key)) return std::nullopt;
    appendJsonString(line, key);
    line.push_back(':');
    if (const auto* text = std::get_if<std::string>(&value)) {
      if (!isValidUtf8(*text)) return std::nullopt;
      appendJsonString(line, *text);
    } else {
      line.append(std::get<bool>(value) ? "true" : "false");
    }
  }
  line.append("}\n");
  return line;
}

void emit(Platform& platform, const ResponseObject& reply) noexcept {
  std::optional<std::string> line;
  try {
    line = serializeReply(reply);
  } catch (const std::bad_alloc&) {
    // No memory for the line: the fallback needs none.
  }
  platform.writeStandardOutput(line ? std::string_view(*line) : fallbackReplyLine);
}

void emitFallback(Platform& platform) noexcept { platform.writeStandardOutput(fallbackReplyLine); }

}  // namespace corvane

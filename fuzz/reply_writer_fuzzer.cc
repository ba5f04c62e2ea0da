// The reply writer on texts from the input, now and then left as raw bytes: with all of them valid
// UTF-8, one compact JSON line of the same members in order; else emit() writes the fallback line.
// And the lines of a streamed answer: whatever the pieces and revisions, each line is whole valid
// UTF-8, and they add up to the final content.
#include <boost/json.hpp>
#include <set>

#include "answer_stream.h"
#include "harness.h"
#include "platform.h"
#include "reply.h"

namespace json = boost::json;

// Collects what emit() writes; nothing else of the platform is used.
struct CapturingPlatform final : Platform {
  std::string written;
  bool osVersionAtLeast(OsVersion) override { return false; }
  ModelAvailability modelAvailability() override { return {}; }
  std::error_code startGeneration(GenerationJob, GenerationCompletion&) noexcept override {
    return std::make_error_code(std::errc::not_supported);
  }
  InputRead readStandardInput() override { return {}; }
  void writeStandardOutput(std::string_view bytes) override { written += bytes; }
};

// Pieces cut from the content at any byte, revisions to prefixes of it or to other bytes, then the
// content itself.
void fuzzStream(FuzzedDataProvider& provider) {
  const std::string content = provider.ConsumeRandomLengthString(512);
  AnswerStream stream;
  std::string client;
  const auto apply = [&](const std::optional<ResponseObject>& line) {
    if (!line) return;
    const std::optional<std::string> bytes = serializeReply(*line);
    FUZZ_CHECK(bytes && line->members.size() == 1);
    const auto& [key, value] = line->members[0];
    const std::string& text = std::get<std::string>(value);
    FUZZ_CHECK(key == "delta" || key == "replace");
    client = key == "replace" ? text : client + text;
  };
  std::size_t at = 0;
  while (at < content.size() && provider.remaining_bytes() > 0) {
    if (provider.ConsumeIntegralInRange<int>(0, 7) == 0) {
      const bool other = provider.ConsumeBool();
      at = provider.ConsumeIntegralInRange<std::size_t>(0, content.size());
      apply(stream.progressed(
          other ? provider.ConsumeRandomLengthString(64) : content.substr(0, at), true));
      continue;
    }
    const std::size_t size = provider.ConsumeIntegralInRange<std::size_t>(0, 9);
    apply(stream.progressed(std::string_view(content).substr(at, size), false));
    at += size;
  }
  FUZZ_CHECK(client == stream.sent() && isValidUtf8(client));
  apply(stream.finished(content));
  FUZZ_CHECK(client == stream.sent() && isValidUtf8(client));
  if (isValidUtf8(content)) FUZZ_CHECK(client == content);
}

void fuzz(std::string_view, FuzzedDataProvider& provider) {
  if (provider.ConsumeIntegralInRange<int>(0, 3) == 0) return fuzzStream(provider);
  const auto text = [&, keepRaw = provider.ConsumeIntegralInRange<int>(0, 7) == 0] {
    return keepRaw ? provider.ConsumeRandomLengthString(2048)
                   : toValidUtf8(provider.ConsumeRandomLengthString(2048));
  };
  ResponseObject reply;
  std::set<std::string> keys;  // a reply never repeats a key
  bool allValid = true;
  for (int members = provider.ConsumeIntegralInRange<int>(0, 5); members > 0; --members) {
    std::string key = text();
    if (!keys.insert(key).second) continue;
    ReplyValue value = provider.ConsumeBool() ? ReplyValue(provider.ConsumeBool()) : text();
    const auto* string = std::get_if<std::string>(&value);
    allValid = allValid && isValidUtf8(key) && (!string || isValidUtf8(*string));
    reply.set(std::move(key), std::move(value));
  }
  const std::optional<std::string> line = serializeReply(reply);
  CapturingPlatform platform;
  emit(platform, reply);
  if (!allValid) return FUZZ_CHECK(!line && platform.written == fallbackReplyLine);
  FUZZ_CHECK(line && platform.written == *line);
  json::object members;
  for (const auto& member : reply.members)
    std::visit([&](const auto& v) { members[member.first] = v; }, member.second);
  // The same members in order (parse throws on anything else), as Boost.JSON writes them, \/ aside.
  const json::value parsed = json::parse(*line);
  const std::string boostLine = json::serialize(members);
  std::string expected;
  for (const char c : boostLine) expected.append(c == '/' ? "\\/" : std::string_view(&c, 1));
  FUZZ_CHECK(json::serialize(parsed) == boostLine);
  FUZZ_CHECK(*line == expected + '\n');
}

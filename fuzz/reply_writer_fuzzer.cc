// The reply writer on arbitrary texts. For valid UTF-8 keys and values the line is one compact JSON
// object that ends in the only line feed, reads back to the same members in the same order, and
// writes the solidus as \/, control characters escaped and everything else as raw bytes. When any
// text is not valid UTF-8 there is no line, and emit() writes the fallback line instead.
#include <fuzzer/FuzzedDataProvider.h>

#include <boost/json.hpp>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform.h"
#include "reply.h"
#include "utf8.h"

namespace {

namespace json = boost::json;
using corvane::ReplyValue;
using corvane::ResponseObject;

// Collects what emit() writes; nothing else of the platform is used.
class CapturingPlatform final : public corvane::Platform {
 public:
  std::string written;
  bool osVersionAtLeast(corvane::OsVersion) override { return false; }
  corvane::ModelAvailability modelAvailability() override {
    return corvane::ModelAvailability::unavailableOtherReason;
  }
  std::unique_ptr<corvane::ModelSession> createSession(std::optional<std::string_view>) override {
    return nullptr;
  }
  corvane::InputRead readStandardInput() override { return {}; }
  void writeStandardOutput(std::string_view bytes) override { written.append(bytes); }
};

// Raw bytes most of the time made valid; now and then left as they are.
std::string text(FuzzedDataProvider& provider, bool keepRaw) {
  std::string bytes = provider.ConsumeRandomLengthString(2048);
  return keepRaw ? bytes : corvane::toValidUtf8(bytes);
}

// Walks the line as JSON text: outside escapes, no raw solidus and no raw control character;
// escapes are the short forms or \u00XX for control characters only.
bool escapesAsWritten(std::string_view body) {
  for (std::size_t i = 0; i < body.size(); ++i) {
    const auto c = static_cast<unsigned char>(body[i]);
    if (c == '/' || c < 0x20) return false;
    if (c != '\\') continue;
    if (++i == body.size()) return false;
    const char escape = body[i];
    if (escape == 'u') {
      if (i + 4 >= body.size() || body.substr(i + 1, 2) != "00") return false;
      const std::string_view hex = body.substr(i + 3, 2);
      const std::string_view digits = "0123456789abcdef";
      if (hex[0] > '1' || digits.find(hex[1]) == std::string_view::npos) return false;
      // A control character that has a short form is written in it.
      const int code = (hex[0] - '0') * 16 + static_cast<int>(digits.find(hex[1]));
      if (code == '\b' || code == '\f' || code == '\n' || code == '\r' || code == '\t')
        return false;
      i += 4;
    } else if (std::string_view("\"\\/bfnrt").find(escape) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const bool keepRaw = provider.ConsumeIntegralInRange<int>(0, 7) == 0;
  ResponseObject reply;
  std::set<std::string> keys;
  bool allValid = true;
  const int members = provider.ConsumeIntegralInRange<int>(0, 5);
  for (int i = 0; i < members; ++i) {
    std::string key = text(provider, keepRaw);
    if (!keys.insert(key).second) continue;  // a reply never repeats a key
    allValid = allValid && corvane::isValidUtf8(key);
    if (provider.ConsumeBool()) {
      reply.set(std::move(key), provider.ConsumeBool());
    } else {
      std::string value = text(provider, keepRaw);
      allValid = allValid && corvane::isValidUtf8(value);
      reply.set(std::move(key), std::move(value));
    }
  }

  const std::optional<std::string> line = corvane::serializeReply(reply);
  CapturingPlatform platform;
  corvane::emit(platform, reply);
  if (!allValid) {
    FUZZ_CHECK(!line);
    FUZZ_CHECK(platform.written == corvane::fallbackReplyLine);
    return 0;
  }
  FUZZ_CHECK(line.has_value());
  FUZZ_CHECK(platform.written == *line);
  FUZZ_CHECK(!line->empty() && line->back() == '\n');
  const std::string_view body(line->data(), line->size() - 1);
  FUZZ_CHECK(body.find('\n') == std::string_view::npos);
  FUZZ_CHECK(escapesAsWritten(body));

  json::error_code error;
  const json::value parsed = json::parse(body, error);
  FUZZ_CHECK(!error);
  FUZZ_CHECK(parsed.is_object());
  const json::object& object = parsed.get_object();
  FUZZ_CHECK(object.size() == reply.members.size());
  auto member = object.begin();
  for (const auto& [key, value] : reply.members) {
    FUZZ_CHECK(std::string_view(member->key()) == key);
    if (const auto* flag = std::get_if<bool>(&value)) {
      FUZZ_CHECK(member->value().is_bool() && member->value().get_bool() == *flag);
    } else {
      FUZZ_CHECK(member->value().is_string());
      FUZZ_CHECK(std::string_view(member->value().get_string()) == std::get<std::string>(value));
    }
    ++member;
  }
  return 0;
}

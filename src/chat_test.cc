// The chat command on a scripted platform: its checks, the availability gate, the generation and
// the reply line.
#include "chat.h"

#include <gtest/gtest.h>

#include <sstream>

#include "availability.h"

namespace corvane {
namespace {

struct Script {
  bool osSupported = true;
  ModelAvailability availability = ModelAvailability::available;
  GenerationOutcome outcome{true, "answer"};
};

// Answers as scripted, and logs each call and then what is written.
struct FakePlatform final : Platform {
  explicit FakePlatform(const Script& script) : script(script) {}
  Script script;
  std::ostringstream log;

  bool osVersionAtLeast(OsVersion v) override {
    log << "os " << v.major << "." << v.minor << "." << v.patch << "; ";
    return script.osSupported;
  }
  ModelAvailability modelAvailability() override {
    log << "availability; ";
    return script.availability;
  }
  std::unique_ptr<ModelSession> createSession(std::optional<std::string_view> given) override {
    log << "session" << (given ? " " : "") << given.value_or("") << "; ";
    return std::make_unique<Session>(*this);
  }
  InputRead readStandardInput() override { return {}; }
  void writeStandardOutput(std::string_view bytes) override { log << bytes; }

  struct Session final : ModelSession {
    explicit Session(FakePlatform& fake) : fake(fake) {}
    GenerationOutcome respond(std::string_view prompt, const GenerationOptions& options) override {
      fake.log << "respond " << prompt << " at " << options.temperature << " up to "
               << options.maximumResponseTokens << "; ";
      return fake.script.outcome;
    }
    FakePlatform& fake;
  };
};

std::string error(std::string_view text) { return "{\"error\":\"" + std::string(text) + "\"}\n"; }

// What chat logs for `input`, up to its reply line.
std::string run(const Script& script, std::string_view input) {
  FakePlatform platform(script);
  const auto prepared = prepareGeneration(platform, input);
  const auto* job = std::get_if<GenerationJob>(&prepared);
  emit(platform, job ? generateReply(platform, *job) : std::get<ResponseObject>(prepared));
  return platform.log.str();
}

const std::string asked = "os 26.0.0; availability; ";

TEST(Chat, TokenLimitDefaultsAndClamps) {
  const std::pair<std::optional<std::int64_t>, std::int64_t> cases[] = {
      {std::nullopt, 256}, {INT64_MIN, 32}, {31, 32},   {32, 32},
      {300, 300},          {512, 512},      {513, 512}, {INT64_MAX, 512}};
  for (const auto& [maxTokens, limit] : cases) EXPECT_EQ(responseTokenLimit(maxTokens), limit);
}

TEST(Chat, Runs) {
  // Refusals in order: empty or undecodable input before the platform is asked anything, then the
  // gate (the model left alone below macOS 26), then a request without user content.
  EXPECT_EQ(run({.osSupported = false}, ""), error("empty chat request on stdin"));
  EXPECT_EQ(run({.osSupported = false}, "{"),
            error("invalid chat request JSON: unexpected end of input at line 1, column 2"));
  EXPECT_EQ(run({.osSupported = false}, R"({"messages":[]})"),
            "os 26.0.0; " + error(osTooOldMessage));
  EXPECT_EQ(run({.availability = ModelAvailability::deviceNotEligible}, R"({"messages":[]})"),
            asked + error(deviceNotEligibleMessage));
  EXPECT_EQ(run({}, R"({"messages":[{"role":"system","content":"x"}]})"),
            asked + error("no user content in chat request"));
  // Instructions and settings reach the model; empty instructions are none at all.
  const std::string hi = R"("messages":[{"role":"user","content":"Hi"}]})";
  const std::string answered =
      asked + "session; respond User: Hi\n\nAssistant: at 0.35 up to 256; ";
  EXPECT_EQ(run({}, R"({"instructions":"Be brief.","temperature":0,"maxTokens":9,)" + hi),
            asked +
                "session Be brief.; respond User: Hi\n\nAssistant: at 0 up to 32; "
                "{\"content\":\"answer\",\"finishReason\":\"stop\"}\n");
  EXPECT_EQ(run({.outcome = {false, "the model refused"}}, R"({"instructions":"",)" + hi),
            answered + error("on-device generation failed: the model refused"));
  // The answer escaped as JSON requires, the solidus too, as briefly as JSON allows; DEL, U+2028
  // and all else valid UTF-8 raw. An answer that is not valid UTF-8 gives way to the fallback line.
  const std::string raw = "\x7F\xC3\xA9\xE2\x80\xA8\xF0\x9F\x98\x80";
  EXPECT_EQ(
      run({.outcome = {true, std::string("a/b\"\\\n\t\r\b\f\0\x01\x1F", 13) + raw}}, "{" + hi),
      answered + R"({"content":"a\/b\"\\\n\t\r\b\f\u0000\u0001\u001f)" + raw +
          R"(","finishReason":"stop"})" + "\n");
  EXPECT_EQ(run({.outcome = {true, "\xED\xA0\x80"}}, "{" + hi),
            answered + std::string(fallbackReplyLine));
}

}  // namespace
}  // namespace corvane

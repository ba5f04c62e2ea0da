// The chat command on a scripted platform: its checks, the availability gate, the generation and
// the reply line.
#include "chat.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "availability.h"

namespace corvane {
namespace {

struct Script {
  bool osSupported = true;
  ModelAvailability availability = ModelAvailability::available;
  GenerationOutcome outcome{true, "answer"};
  std::error_code startFailure{};
  std::vector<std::string> pieces{};  // reported before the outcome when the job is streamed
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
  // Completes on a thread of its own, as a platform must, or refuses to start when scripted so.
  std::error_code startGeneration(GenerationJob job,
                                  GenerationCompletion& completion) noexcept override {
    log << "session" << (job.instructions ? " " : "") << job.instructions.value_or("")
        << "; respond " << job.prompt << " at " << job.options.temperature << " up to "
        << job.options.maximumResponseTokens << "; ";
    if (script.startFailure) return script.startFailure;
    std::thread([&completion, outcome = script.outcome, pieces = script.pieces,
                 streamed = job.streamed]() mutable {
      for (const std::string& piece : pieces) {
        if (streamed) completion.generationProgressed(piece, false);
      }
      completion.generationFinished(std::move(outcome));
    }).detach();
    return {};
  }
  InputRead readStandardInput() override { return {}; }
  void writeStandardOutput(std::string_view bytes) override {
    log << (std::this_thread::get_id() == mainThread ? "" : "(worker) ") << bytes;
  }

  const std::thread::id mainThread = std::this_thread::get_id();
};

std::string error(std::string_view text) { return "{\"error\":\"" + std::string(text) + "\"}\n"; }

// What chat (or with `streamed`, stream) logs for `input`, up to its reply line (or the start
// failure).
std::string run(const Script& script, std::string_view input, bool streamed = false) {
  FakePlatform platform(script);
  auto prepared = prepareGeneration(platform, input);
  if (const auto* refusal = std::get_if<ResponseObject>(&prepared)) {
    emit(platform, *refusal);
  } else if (std::get<GenerationJob>(prepared).streamed = streamed;
             const auto failure = generateAndReply(platform, std::get<GenerationJob>(prepared))) {
    platform.log << "not started: " << failure.message();
  }
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
  // The reply to a generation is written by the thread that completed it; a generation that
  // cannot start is left to the caller (which refuses the request).
  const std::string worker = "(worker) ";
  EXPECT_EQ(run({}, R"({"instructions":"Be brief.","temperature":0,"maxTokens":9,)" + hi),
            asked + "session Be brief.; respond User: Hi\n\nAssistant: at 0 up to 32; " + worker +
                "{\"content\":\"answer\",\"finishReason\":\"stop\"}\n");
  EXPECT_EQ(run({.outcome = {false, "the model refused"}}, R"({"instructions":"",)" + hi),
            answered + worker + error("on-device generation failed: the model refused"));
  EXPECT_EQ(run({.startFailure = std::make_error_code(std::errc::resource_unavailable_try_again)},
                "{" + hi),
            answered + "not started: " +
                std::make_error_code(std::errc::resource_unavailable_try_again).message());
  // The answer escaped as JSON requires, the solidus too, as briefly as JSON allows; DEL, U+2028
  // and all else valid UTF-8 raw. An answer that is not valid UTF-8 gives way to the fallback line.
  const std::string raw = "\x7F\xC3\xA9\xE2\x80\xA8\xF0\x9F\x98\x80";
  EXPECT_EQ(
      run({.outcome = {true, std::string("a/b\"\\\n\t\r\b\f\0\x01\x1F", 13) + raw}}, "{" + hi),
      answered + worker + R"({"content":"a\/b\"\\\n\t\r\b\f\u0000\u0001\u001f)" + raw +
          R"(","finishReason":"stop"})" + "\n");
  EXPECT_EQ(run({.outcome = {true, "\xED\xA0\x80"}}, "{" + hi),
            answered + worker + std::string(fallbackReplyLine));
}

// stream writes the pieces as the worker gets them, then chat's reply; a job that is not streamed
// writes no piece, whatever the platform reports.
TEST(Chat, Streams) {
  const std::string hi = R"({"messages":[{"role":"user","content":"Hi"}]})";
  const std::string answered =
      asked + "session; respond User: Hi\n\nAssistant: at 0.35 up to 256; ";
  const std::string reply = "(worker) {\"content\":\"answer\",\"finishReason\":\"stop\"}\n";
  Script pieces;
  pieces.pieces = {"ans", "wer"};
  EXPECT_EQ(run(pieces, hi, true),
            answered + "(worker) {\"delta\":\"ans\"}\n(worker) {\"delta\":\"wer\"}\n" + reply);
  EXPECT_EQ(run(pieces, hi, false), answered + reply);
  Script failing;
  failing.outcome = {false, "refused"};
  failing.pieces = {"ans"};
  EXPECT_EQ(run(failing, hi, true), answered + "(worker) {\"delta\":\"ans\"}\n(worker) " +
                                        error("on-device generation failed: refused"));
  // A platform that gives the answer whole: one delta with all of it.
  EXPECT_EQ(run({}, hi, true), answered + "(worker) {\"delta\":\"answer\"}\n" + reply);
  // Refusals are chat's.
  EXPECT_EQ(run({}, "", true), error("empty chat request on stdin"));
}

}  // namespace
}  // namespace corvane

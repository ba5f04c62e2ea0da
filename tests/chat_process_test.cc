// The chat command as a calling application sees it, on the stand-in platform (and the production
// build's refusal on systems without the model).
#include <chrono>
#include <string>

#include "support/expectations.h"
#include "support/process.h"

namespace corvane::testing {
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

const std::string hello = R"({"messages":[{"role":"user","content":"Hello"}]})";
const std::string helloPrompt = "User: Hello\\n\\nAssistant:";
const std::string tooOld = R"({"error":"Requires macOS 26 or later with Apple Intelligence."})";

class ChatProcess : public ::testing::TestWithParam<std::string> {};
CORVANE_ON_EACH_STAND_IN(ChatProcess);

ProcessResult chat(const std::string& bin, const std::string& input, Env env = {}) {
  ProcessOptions options;
  options.args = {"chat"};
  options.stdinData = input;
  options.env = std::move(env);
  return runProcess(bin, options);
}

// Runs a chat on the stand-in with a trace and returns the trace's lines.
std::vector<std::string> tracedChat(const std::string& bin, const std::string& input,
                                    Env env = {}) {
  const std::string trace = temporaryPath("trace");
  env.emplace_back("CORVANE_SIM_TRACE", trace);
  const ProcessResult result = chat(bin, input, env);
  EXPECT_EQ(result.err, "");
  auto lines = splitLines(readFile(trace));
  std::remove(trace.c_str());
  return lines;
}

std::string respondLine(const std::string& prompt, const std::string& temperature, int tokens) {
  return R"({"op":"respond","prompt":")" + prompt + R"(","temperature":)" + temperature +
         R"(,"maximumResponseTokens":)" + std::to_string(tokens) +
         R"(,"sampling":null,"mainThread":false})";
}

TEST_P(ChatProcess, EachRefusalWithItsStatus) {
  struct Case {
    std::string name, input;
    Env env;
    std::string reply;
  };
  const Case cases[] = {
      {"zero bytes", "", {}, R"({"error":"empty chat request on stdin"})"},
      {"unavailable model",
       hello,
       {{"CORVANE_SIM_AVAILABILITY", "deviceNotEligible"}},
       R"({"error":"This device is not eligible for Apple Intelligence."})"},
      {"old system", hello, {{"CORVANE_SIM_OS_VERSION", "15.5"}}, tooOld},
      {"no user content",
       R"({"messages":[{"role":"system","content":"Be brief."}]})",
       {},
       R"({"error":"no user content in chat request"})"},
      // A request without user content on an unusable model gets the availability text.
      {"gate before content",
       R"({"messages":[]})",
       {{"CORVANE_SIM_AVAILABILITY", "modelNotReady"}},
       R"({"error":"The on-device model is downloading or not ready yet. Try again shortly."})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expectReply(chat(GetParam(), c.input, c.env), c.reply, 1);
  }
}

TEST_P(ChatProcess, MalformedRequestsGetTheDecodingTextEvenWithoutAModel) {
  const std::string prefix = R"({"error":"invalid chat request JSON: )";
  for (const std::string input : {"\n", "   ", "{", "[]", R"({"messages":null})", "{} x"}) {
    for (const auto& env : {Env{}, Env{{"CORVANE_SIM_OS_VERSION", "14"}}}) {
      const ProcessResult result = chat(GetParam(), input, env);
      SCOPED_TRACE(input);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.out.rfind(prefix, 0), 0u) << result.out;
      EXPECT_EQ(splitLines(result.out).size(), 1u);
      EXPECT_EQ(result.err, "");
    }
  }
}

TEST_P(ChatProcess, RefusalsBeforeDecodingTouchNoModel) {
  EXPECT_TRUE(tracedChat(GetParam(), "").empty());
  EXPECT_TRUE(tracedChat(GetParam(), "not json").empty());
  EXPECT_EQ(tracedChat(GetParam(), hello, {{"CORVANE_SIM_OS_VERSION", "25"}}),
            std::vector<std::string>{R"({"op":"osVersion","atLeast":"26.0.0","result":false})"});
}

TEST(ProductionChat, RefusesWithoutTheModel) {
  expectReply(chat(corvaneBin, hello), tooOld, 1);
  const ProcessResult malformed = chat(corvaneBin, R"({"messages":"x"})");
  EXPECT_EQ(malformed.status, 1);
  EXPECT_EQ(malformed.out.rfind(R"({"error":"invalid chat request JSON: )", 0), 0u);
}

TEST_P(ChatProcess, FullTraceOfAnAnsweredRequest) {
  EXPECT_EQ(tracedChat(GetParam(), hello),
            (std::vector<std::string>{
                R"({"op":"osVersion","atLeast":"26.0.0","result":true})",
                R"({"op":"availability","result":"available"})",
                R"({"op":"session","instructions":null,"tools":0})",
                respondLine(helloPrompt, "0.35", 256),
            }));
  const auto withInstructions = tracedChat(
      GetParam(),
      R"({"instructions":"Be brief.","messages":[{"role":"system","content":"Use \/ units"},{"role":"user","content":"Hello"}]})");
  ASSERT_EQ(withInstructions.size(), 4u);
  EXPECT_EQ(withInstructions[2],
            R"({"op":"session","instructions":"Be brief.\n\nUse \/ units","tools":0})");
}

TEST_P(ChatProcess, TokenLimitIsClamped) {
  const std::pair<std::string, int> cases[] = {
      {"", 256},    {"0", 32},    {"-5", 32},   {"31", 32},   {"32", 32},
      {"300", 300}, {"512", 512}, {"513", 512}, {"600", 512},
  };
  for (const auto& [maxTokens, limit] : cases) {
    const std::string field = maxTokens.empty() ? "" : R"(,"maxTokens":)" + maxTokens;
    const auto trace =
        tracedChat(GetParam(), R"({"messages":[{"role":"user","content":"Hello"}])" + field + "}");
    ASSERT_EQ(trace.size(), 4u) << maxTokens;
    EXPECT_EQ(trace[3], respondLine(helloPrompt, "0.35", limit)) << maxTokens;
  }
}

TEST_P(ChatProcess, TemperatureReachesTheModelAsTheNearestDouble) {
  // The temperature member, and the shortest text of the double nearest to its number.
  const std::pair<std::string, std::string> cases[] = {
      {"", "0.35"},
      {"null", "0.35"},
      {"0", "0"},
      {"1.7", "1.7"},
      {"-1e-7", "-1e-07"},
      {"0e400", "0"},
      {"-0e-400", "-0"},
      {"1e-400", "0"},
      {"4.9e-324", "5e-324"},
      {"2.2250738585072011e-308", "2.225073858507201e-308"},
      {"1.7976931348623158e308", "1.7976931348623157e+308"},
      {"0.1", "0.1"},
      {"1e22", "1e+22"},
      {"9007199254740993", "9007199254740992"},
      {"-0.23964976333081722", "-0.23964976333081722"},
      {"1234567890123456789012345678901234567890", "1.2345678901234568e+39"},
  };
  for (const auto& [number, written] : cases) {
    const std::string field = number.empty() ? "" : R"(,"temperature":)" + number;
    const auto trace =
        tracedChat(GetParam(), R"({"messages":[{"role":"user","content":"Hello"}])" + field + "}");
    ASSERT_EQ(trace.size(), 4u) << number;
    EXPECT_EQ(trace[3], respondLine(helloPrompt, written, 256)) << number;
  }
}

TEST_P(ChatProcess, AnswersAreWrittenWhole) {
  struct Case {
    std::string name;
    Env env;
    std::string reply;
    int status;
  };
  const Case cases[] = {
      {"echo", {}, R"({"content":")" + helloPrompt + R"(","finishReason":"stop"})", 0},
      {"empty answer",
       {{"CORVANE_SIM_RESPONSE", ""}},
       R"({"content":"","finishReason":"stop"})",
       0},
      {"special characters",
       {{"CORVANE_SIM_RESPONSE", "line 1\nline \"2\"\ta/b \xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD \\"}},
       R"({"content":"line 1\nline \"2\"\ta\/b )"
       "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"
       R"( \\","finishReason":"stop"})",
       0},
      {"generation error",
       {{"CORVANE_SIM_ERROR", "context window exceeded"}, {"CORVANE_SIM_RESPONSE", "ignored"}},
       R"({"error":"on-device generation failed: context window exceeded"})",
       0},
      {"answer not UTF-8",
       {{"CORVANE_SIM_RESPONSE", "bad \xFF"}},
       R"({"error":"failed to encode response"})",
       0},
  };
  for (const auto& c : cases) {
    // Swift strings are always UTF-8, so through the Swift bridge the answer is already repaired.
    if (c.name == "answer not UTF-8" && isAppleSim(GetParam())) continue;
    SCOPED_TRACE(c.name);
    expectReply(chat(GetParam(), hello, c.env), c.reply, c.status);
  }
}

TEST_P(ChatProcess, SlowResponseIsWaitedFor) {
  const auto start = std::chrono::steady_clock::now();
  expectReply(
      chat(GetParam(), hello, {{"CORVANE_SIM_DELAY_MS", "300"}, {"CORVANE_SIM_RESPONSE", "ok"}}),
      R"({"content":"ok","finishReason":"stop"})", 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_P(ChatProcess, UnreadableStandardInputIsRefused) {
  for (const StdinKind kind : {StdinKind::closed, StdinKind::directory}) {
    ProcessOptions options;
    options.args = {"chat"};
    options.stdinKind = kind;
    const ProcessResult result = runProcess(GetParam(), options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out.rfind(R"({"error":"could not read chat request from stdin: )", 0), 0u)
        << result.out;
    EXPECT_EQ(splitLines(result.out).size(), 1u);
    EXPECT_EQ(result.err, "");
  }
}

}  // namespace
}  // namespace corvane::testing

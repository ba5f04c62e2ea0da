#include "chat.h"

#include <gtest/gtest.h>

#include "support/fake_platform.h"

namespace corvane {
namespace {

using testing::FakePlatform;

const char* const helloRequest = R"({"messages":[{"role":"user","content":"Hello"}]})";

TEST(ChatTokenLimit, DefaultAndClamp) {
  const std::pair<std::optional<std::int64_t>, std::int64_t> cases[] = {
      {std::nullopt, 256}, {0, 32},    {-5, 32},   {31, 32},        {32, 32},         {300, 300},
      {512, 512},          {513, 512}, {600, 512}, {INT64_MIN, 32}, {INT64_MAX, 512},
  };
  for (const auto& [maxTokens, limit] : cases) {
    EXPECT_EQ(responseTokenLimit(maxTokens), limit);
  }
}

ResponseObject refusal(FakePlatform& platform, std::string_view input) {
  auto prepared = prepareGeneration(platform, input);
  if (auto* reply = std::get_if<ResponseObject>(&prepared)) return *reply;
  ADD_FAILURE() << "expected a refusal";
  return {};
}

std::string errorText(const ResponseObject& reply) {
  if (reply.members.size() != 1 || reply.members[0].first != "error") return "<not an error>";
  return std::get<std::string>(reply.members[0].second);
}

TEST(ChatPrepare, EmptyInputTouchesNoPlatformOperation) {
  FakePlatform platform;
  EXPECT_EQ(errorText(refusal(platform, "")), "empty chat request on stdin");
  EXPECT_TRUE(platform.calls.empty());
}

TEST(ChatPrepare, DecodingComesBeforeTheGate) {
  FakePlatform platform;
  platform.osSupported = false;
  const std::string text = errorText(refusal(platform, " \n"));
  EXPECT_EQ(text.rfind("invalid chat request JSON: ", 0), 0u) << text;
  EXPECT_GT(text.size(), std::string("invalid chat request JSON: ").size());
  EXPECT_TRUE(platform.calls.empty());
}

TEST(ChatPrepare, GateComesBeforeTheEmptyPromptCheck) {
  FakePlatform platform;
  platform.availability = ModelAvailability::modelNotReady;
  EXPECT_EQ(errorText(refusal(platform, R"({"messages":[]})")),
            "The on-device model is downloading or not ready yet. Try again shortly.");

  FakePlatform usable;
  EXPECT_EQ(errorText(refusal(usable, R"({"messages":[{"role":"system","content":"x"}]})")),
            "no user content in chat request");
}

TEST(ChatPrepare, JobCarriesPromptAndSettings) {
  FakePlatform platform;
  auto prepared = prepareGeneration(
      platform,
      R"({"instructions":"Be brief.","messages":[{"role":"user","content":"Hi"}],"temperature":0,"maxTokens":9})");
  const auto& job = std::get<GenerationJob>(prepared);
  EXPECT_EQ(job.instructions, std::optional<std::string>("Be brief."));
  EXPECT_EQ(job.prompt, "User: Hi\n\nAssistant:");
  EXPECT_EQ(job.options.temperature, 0.0);
  EXPECT_EQ(job.options.maximumResponseTokens, 32);

  const auto defaults = std::get<GenerationJob>(prepareGeneration(platform, helloRequest));
  EXPECT_FALSE(defaults.instructions.has_value());  // empty instructions: none at all
  EXPECT_EQ(defaults.options.temperature, 0.35);
  EXPECT_EQ(defaults.options.maximumResponseTokens, 256);
}

TEST(ChatGenerate, AnswerAndFailureReplies) {
  FakePlatform platform;
  platform.outcome = {true, ""};
  GenerationJob job{std::nullopt, "User: Hi\n\nAssistant:", {0.5, 100}};
  EXPECT_EQ(*serializeReply(generateReply(platform, job)),
            "{\"content\":\"\",\"finishReason\":\"stop\"}\n");
  ASSERT_TRUE(platform.sessionInstructions.has_value());
  EXPECT_FALSE(platform.sessionInstructions->has_value());
  EXPECT_EQ(platform.respondedPrompt, job.prompt);
  EXPECT_EQ(platform.respondedOptions.maximumResponseTokens, 100);

  FakePlatform failing;
  failing.outcome = {false, "the model refused"};
  job.instructions = "Be brief.";
  EXPECT_EQ(*serializeReply(generateReply(failing, job)),
            "{\"error\":\"on-device generation failed: the model refused\"}\n");
  EXPECT_EQ(failing.sessionInstructions->value_or("<none>"), "Be brief.");
}

}  // namespace
}  // namespace corvane

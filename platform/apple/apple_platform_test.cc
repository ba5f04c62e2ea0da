// The macOS adapter against a scripted stand-in for the Swift bridge: the bridge's C functions are
// defined here, so the adapter runs on any system exactly as it calls the real ones.
#include "apple_platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "availability.h"
#include "foundation_models_bridge.h"

namespace {

enum class Delivery { beforeStartReturns, fromAnotherThread };

struct FakeBridge {
  // Scripted answers.
  bool osSupported = true;
  std::int32_t availabilityCode = CORVANE_FM_AVAILABLE;
  std::int32_t startResult = 0;
  Delivery delivery = Delivery::beforeStartReturns;
  std::int32_t ok = 1;
  std::string text = "answer";
  // What the adapter did.
  int availabilityReads = 0;
  int generations = 0;
  std::string askedVersion;
  int versionQueries = 0;
  std::optional<std::string> instructions;  // nullopt: NULL was passed
  std::string prompt;
  double temperature = 0;
  std::int64_t maximumResponseTokens = 0;
  std::thread completer;
};

FakeBridge bridge;

}  // namespace

extern "C" std::int32_t corvane_fm_os_at_least(std::int32_t major, std::int32_t minor,
                                               std::int32_t patch) {
  ++bridge.versionQueries;
  bridge.askedVersion =
      std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
  return bridge.osSupported ? 1 : 0;
}

extern "C" std::int32_t corvane_fm_availability() {
  ++bridge.availabilityReads;
  return bridge.availabilityCode;
}

extern "C" std::int32_t corvane_fm_generate(const char* instructions, std::size_t instructionsLen,
                                            const char* prompt, std::size_t promptLen,
                                            double temperature, std::int64_t maximumResponseTokens,
                                            corvane_fm_completion completion, void* context) {
  ++bridge.generations;
  if (instructions) bridge.instructions.emplace(instructions, instructionsLen);
  bridge.prompt.assign(prompt, promptLen);
  bridge.temperature = temperature;
  bridge.maximumResponseTokens = maximumResponseTokens;
  if (bridge.startResult != 0) return bridge.startResult;

  // The answer is lent without a terminating NUL, followed by bytes that are not part of it.
  const std::string lent = bridge.text + "garbage";
  const int ok = bridge.ok;
  const std::size_t length = bridge.text.size();
  if (bridge.delivery == Delivery::beforeStartReturns) {
    completion(context, ok, length == 0 ? nullptr : lent.data(), length);
  } else {
    bridge.completer = std::thread([=] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      completion(context, ok, length == 0 ? nullptr : lent.data(), length);
    });
  }
  return 0;
}

namespace corvane {
namespace {

using namespace std::literals;

class AppleAdapter : public ::testing::Test {
 protected:
  void SetUp() override { bridge = {}; }
  void TearDown() override { joinCompleter(); }

  static void joinCompleter() {
    if (bridge.completer.joinable()) bridge.completer.join();
  }

  // Asks on a worker thread, as the core does, with a deadline so that an adapter that waits for
  // a completion that never comes fails the test instead of hanging it.
  GenerationOutcome respond(std::optional<std::string_view> instructions, std::string_view prompt) {
    auto promise = std::make_shared<std::promise<GenerationOutcome>>();
    auto outcome = promise->get_future();
    std::thread([session = platform.createSession(instructions), prompt = std::string(prompt),
                 promise] {
      promise->set_value(session->respond(prompt, {0.35, 256}));
    }).detach();
    if (outcome.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "respond() is still waiting";
      return {false, "still waiting"};
    }
    return outcome.get();
  }

  ApplePlatform platform;
};

TEST_F(AppleAdapter, BelowMacOs26TheModelIsNeverTouched) {
  bridge.osSupported = false;
  EXPECT_EQ(unavailabilityMessage(platform), osTooOldMessage);
  EXPECT_EQ(bridge.askedVersion, "26.0.0");
  EXPECT_EQ(platform.modelAvailability(), ModelAvailability::unavailableOtherReason);
  EXPECT_FALSE(respond(std::nullopt, "hi").succeeded);
  EXPECT_EQ(bridge.availabilityReads, 0);
  EXPECT_EQ(bridge.generations, 0);
  EXPECT_EQ(bridge.versionQueries, 1);  // the system is asked once per run
}

TEST_F(AppleAdapter, AvailabilityCodes) {
  const std::pair<std::int32_t, ModelAvailability> cases[] = {
      {CORVANE_FM_AVAILABLE, ModelAvailability::available},
      {CORVANE_FM_DEVICE_NOT_ELIGIBLE, ModelAvailability::deviceNotEligible},
      {CORVANE_FM_APPLE_INTELLIGENCE_NOT_ENABLED, ModelAvailability::appleIntelligenceNotEnabled},
      {CORVANE_FM_MODEL_NOT_READY, ModelAvailability::modelNotReady},
      {CORVANE_FM_OTHER_REASON, ModelAvailability::unavailableOtherReason},
      {7, ModelAvailability::unavailableOtherReason},
  };
  for (const auto& [code, expected] : cases) {
    bridge.availabilityCode = code;
    EXPECT_EQ(platform.modelAvailability(), expected) << code;
  }
}

TEST_F(AppleAdapter, InstructionsAbsentEmptyOrPresentReachTheBridgeDistinctly) {
  const std::optional<std::string_view> cases[] = {std::nullopt, std::string_view(), ""sv,
                                                   "be brief"sv};
  for (const auto& instructions : cases) {
    bridge.instructions.reset();
    ASSERT_TRUE(respond(instructions, "hi").succeeded);
    EXPECT_EQ(bridge.instructions,
              instructions ? std::optional<std::string>(*instructions) : std::nullopt);
  }
  EXPECT_EQ(bridge.temperature, 0.35);
  EXPECT_EQ(bridge.maximumResponseTokens, 256);
}

TEST_F(AppleAdapter, TextsCrossIntactBothWays) {
  const std::string text = "a\0b caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x99\x82"s;
  bridge.text = text;
  const GenerationOutcome outcome = respond(text, text);
  EXPECT_EQ(bridge.instructions, text);
  EXPECT_EQ(bridge.prompt, text);
  EXPECT_TRUE(outcome.succeeded);
  EXPECT_EQ(outcome.text, text);
}

TEST_F(AppleAdapter, CompletionOnEitherThreadAndAnyOutcome) {
  struct Case {
    Delivery delivery;
    std::int32_t ok;
    std::string text;
  };
  const Case cases[] = {
      {Delivery::beforeStartReturns, 1, "answer"},
      {Delivery::fromAnotherThread, 1, "answer"},
      {Delivery::fromAnotherThread, 1, ""},
      {Delivery::fromAnotherThread, 0, "Context(debugDescription: \"too long\")"},
  };
  for (const auto& c : cases) {
    joinCompleter();
    bridge.delivery = c.delivery;
    bridge.ok = c.ok;
    bridge.text = c.text;
    const GenerationOutcome outcome = respond(std::nullopt, "hi");
    EXPECT_EQ(outcome.succeeded, c.ok == 1) << c.text;
    EXPECT_EQ(outcome.text, c.text);
  }
}

TEST_F(AppleAdapter, RefusedStartIsAFailureNotAWait) {
  bridge.startResult = 1;
  const GenerationOutcome outcome = respond(std::nullopt, "hi");
  EXPECT_EQ(bridge.generations, 1);
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_FALSE(outcome.text.empty());
}

}  // namespace
}  // namespace corvane

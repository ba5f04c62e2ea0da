// The macOS adapter against a scripted stand-in for the Swift bridge, whose C functions are defined
// here: the adapter runs on any system exactly as it calls the real ones.
#include "apple_platform.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "availability.h"
#include "foundation_models_bridge.h"

namespace {

struct FakeBridge {
  bool osSupported = true, fromAnotherThread = false;  // scripted
  std::int32_t availability = 0, startResult = 0, ok = 1;
  std::string text = "answer";
  std::string log{};  // what the adapter asked for
  std::thread completer{};
} bridge;

}  // namespace

extern "C" std::int32_t corvane_fm_os_at_least(std::int32_t major, std::int32_t minor,
                                               std::int32_t patch) {
  bridge.log += "os " + std::to_string(major) + "." + std::to_string(minor) + "." +
                std::to_string(patch) + "; ";
  return bridge.osSupported ? 1 : 0;
}

extern "C" std::int32_t corvane_fm_availability() {
  bridge.log += "availability; ";
  return bridge.availability;
}

extern "C" std::int32_t corvane_fm_generate(const char* instructions, std::size_t instructionsLen,
                                            const char* prompt, std::size_t promptLen,
                                            double temperature, std::int64_t maximumResponseTokens,
                                            corvane_fm_completion completion, void* context) {
  bridge.log += "generate " + (instructions ? std::string(instructions, instructionsLen) : "NULL") +
                " | " + std::string(prompt, promptLen) + " | " + std::to_string(temperature) + " " +
                std::to_string(maximumResponseTokens) + "; ";
  if (bridge.startResult != 0) return bridge.startResult;
  // The answer is lent without a terminating NUL, followed by bytes that are not part of it.
  auto complete = [=, ok = bridge.ok, lent = bridge.text + "garbage", length = bridge.text.size()] {
    completion(context, ok, length == 0 ? nullptr : lent.data(), length);
  };
  if (!bridge.fromAnotherThread) return complete(), 0;
  bridge.completer = std::thread([=] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    complete();
  });
  return 0;
}

namespace corvane {
namespace {

// Asks on a worker thread, as the core does, with a deadline: an adapter that waits for a
// completion that never comes fails the test instead of hanging it.
GenerationOutcome respond(Platform& platform, std::optional<std::string_view> instructions,
                          std::string prompt) {
  auto promise = std::make_shared<std::promise<GenerationOutcome>>();
  auto outcome = promise->get_future();
  std::thread([session = platform.createSession(instructions), prompt, promise] {
    promise->set_value(session->respond(prompt, {0.5, 256}));
  }).detach();
  const bool ready = outcome.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (bridge.completer.joinable()) bridge.completer.join();
  EXPECT_TRUE(ready) << "respond() is still waiting";
  return ready ? outcome.get() : GenerationOutcome{};
}

TEST(ApplePlatform, BelowMacOs26TheModelIsNeverTouched) {
  bridge = {.osSupported = false};
  ApplePlatform platform;
  EXPECT_EQ(unavailabilityMessage(platform), osTooOldMessage);
  EXPECT_EQ(platform.modelAvailability(), ModelAvailability::unavailableOtherReason);
  EXPECT_FALSE(respond(platform, std::nullopt, "hi").succeeded);
  EXPECT_EQ(bridge.log, "os 26.0.0; ");  // once per run
}

TEST(ApplePlatform, AvailabilityCodes) {
  using enum ModelAvailability;
  bridge = {};
  // CORVANE_FM_AVAILABLE (0) to CORVANE_FM_OTHER_REASON (4), then a code a later bridge might add.
  const ModelAvailability expected[] = {
      available,     deviceNotEligible,      appleIntelligenceNotEnabled,
      modelNotReady, unavailableOtherReason, unavailableOtherReason};
  for (std::int32_t code = 0; code < 6; ++code) {
    bridge.availability = code;
    EXPECT_EQ(ApplePlatform().modelAvailability(), expected[code]) << code;
  }
}

// Absent, empty (with and without an address) and present instructions reach the bridge as such;
// texts cross intact both ways, NUL bytes included, whichever thread completes and however. A
// refused start is a failure, not a wait.
TEST(ApplePlatform, Generation) {
  using namespace std::literals;
  const std::string text = "a\0b caf\xC3\xA9 \xF0\x9F\x99\x82"s;
  const std::tuple<std::optional<std::string_view>, bool, std::int32_t, std::string> cases[] = {
      {std::nullopt, false, 1, "answer"},
      {std::string_view(), true, 1, ""},
      {""sv, true, 0, "Context(debugDescription: \"too long\")"},
      {text, false, 1, text}};
  for (const auto& [instructions, fromAnotherThread, ok, answer] : cases) {
    bridge = {.fromAnotherThread = fromAnotherThread, .ok = ok, .text = answer};
    ApplePlatform platform;
    const GenerationOutcome outcome = respond(platform, instructions, text);
    EXPECT_EQ(bridge.log, "os 26.0.0; generate " + std::string(instructions.value_or("NULL")) +
                              " | " + text + " | 0.500000 256; ");
    EXPECT_EQ(outcome.succeeded, ok == 1);
    EXPECT_EQ(outcome.text, answer);
  }
  bridge = {.startResult = 1};
  ApplePlatform platform;
  const GenerationOutcome refused = respond(platform, std::nullopt, "hi");
  EXPECT_FALSE(refused.succeeded || refused.text.empty());
}

}  // namespace
}  // namespace corvane

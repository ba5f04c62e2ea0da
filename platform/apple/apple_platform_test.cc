// The macOS adapter against a scripted stand-in for the Swift bridge, whose C functions are defined
// here: the adapter runs on any system exactly as it calls the real ones.
#include "apple_platform.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "foundation_models_bridge.h"

namespace {

struct Script {
  bool osSupported = true, fromAnotherThread = false;
  std::int32_t startResult = 0, ok = 1;
  std::string text = "answer";
};

struct {
  Script script;
  std::string log;  // what the adapter asked for
  std::thread completer;
} bridge;

}  // namespace

extern "C" std::int32_t corvane_fm_os_at_least(std::int32_t major, std::int32_t minor,
                                               std::int32_t patch) {
  bridge.log += "os " + std::to_string(major) + "." + std::to_string(minor) + "." +
                std::to_string(patch) + "; ";
  return bridge.script.osSupported ? 1 : 0;
}

extern "C" std::int32_t corvane_fm_availability() { return CORVANE_FM_AVAILABLE; }

extern "C" std::int32_t corvane_fm_generate(const char* instructions, std::size_t instructionsLen,
                                            const char* prompt, std::size_t promptLen,
                                            double temperature, std::int64_t maximumResponseTokens,
                                            corvane_fm_completion completion, void* context) {
  bridge.log += "generate " + (instructions ? std::string(instructions, instructionsLen) : "NULL") +
                " | " + std::string(prompt, promptLen) + " | " + std::to_string(temperature) + " " +
                std::to_string(maximumResponseTokens) + "; ";
  const Script& script = bridge.script;
  if (script.startResult != 0) return script.startResult;
  // The answer is lent without a terminating NUL, followed by bytes that are not part of it.
  auto complete = [=, lent = script.text + "garbage", length = script.text.size()] {
    completion(context, script.ok, length == 0 ? nullptr : lent.data(), length);
  };
  if (!script.fromAnotherThread) return complete(), 0;
  bridge.completer = std::thread([=] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    complete();
  });
  return 0;
}

// A streamed generation: the scripted answer in two pieces (the second lent as the first is), then
// a revision to the whole answer, then the completion as for a complete one.
extern "C" std::int32_t corvane_fm_stream(const char* instructions, std::size_t instructionsLen,
                                          const char* prompt, std::size_t promptLen,
                                          double temperature, std::int64_t maximumResponseTokens,
                                          corvane_fm_progress progress,
                                          corvane_fm_completion completion, void* context) {
  bridge.log += "stream; ";
  const std::string text = bridge.script.text;
  const std::size_t half = text.size() / 2;
  progress(context, 0, text.data(), half);
  progress(context, 0, text.data() + half, text.size() - half);
  progress(context, 1, text.data(), text.size());
  return corvane_fm_generate(instructions, instructionsLen, prompt, promptLen, temperature,
                             maximumResponseTokens, completion, context);
}

namespace corvane {
namespace {

// Records the outcome and the thread it arrived on, and a streamed answer's pieces.
struct Recorder final : GenerationCompletion {
  std::promise<std::pair<GenerationOutcome, std::thread::id>> finished;
  std::string pieces;
  void generationProgressed(std::string_view text, bool replacesAll) noexcept override {
    pieces.push_back(replacesAll ? '=' : '+');
    pieces.append(text).push_back(';');
  }
  void generationFinished(GenerationOutcome outcome) noexcept override {
    finished.set_value({std::move(outcome), std::this_thread::get_id()});
  }
};

struct Finished {
  GenerationOutcome outcome;
  bool onCallingThread = false;
  std::string pieces;
};

// What the adapter reports with the bridge scripted so, with a deadline: an adapter whose
// completion never comes fails instead of hanging.
Finished generate(const Script& script, std::optional<std::string_view> instructions,
                  std::string prompt, bool streamed = false) {
  bridge.script = script;
  bridge.log.clear();
  ApplePlatform platform;
  Recorder recorder;
  auto finished = recorder.finished.get_future();
  GenerationJob job{instructions ? std::optional<std::string>(*instructions) : std::nullopt,
                    std::move(prompt),
                    {0.5, 256},
                    streamed};
  EXPECT_FALSE(platform.startGeneration(std::move(job), recorder));
  const bool ready = finished.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (bridge.completer.joinable()) bridge.completer.join();
  EXPECT_TRUE(ready) << "the completion was never called";
  if (!ready) return {};
  auto [outcome, thread] = finished.get();
  return {std::move(outcome), thread == std::this_thread::get_id(), recorder.pieces};
}

// Absent, empty (with and without an address) and present instructions reach the bridge as such;
// texts cross intact both ways, NUL bytes included, whichever thread completes and however. A
// refused start is a failure reported at once, not a wait; below macOS 26 nothing starts.
TEST(ApplePlatform, Generation) {
  const std::string text("a\0b caf\xC3\xA9 \xF0\x9F\x99\x82", 13);
  const std::tuple<std::optional<std::string_view>, Script, GenerationOutcome> cases[] = {
      {std::nullopt, {}, {true, "answer"}},
      {std::string_view(), {.fromAnotherThread = true, .text = ""}, {true, ""}},
      {"", {.fromAnotherThread = true, .ok = 0, .text = "too long"}, {false, "too long"}},
      {text, {.text = text}, {true, text}},
      {text, {.startResult = 1}, {false, "the on-device model did not accept the request"}},
      {text, {.osSupported = false}, {false, "the on-device model requires macOS 26 or later"}}};
  for (const auto& [instructions, script, expected] : cases) {
    const Finished finished = generate(script, instructions, text);
    EXPECT_EQ(bridge.log,
              "os 26.0.0; " + (script.osSupported
                                   ? "generate " + std::string(instructions.value_or("NULL")) +
                                         " | " + text + " | 0.500000 256; "
                                   : ""));
    EXPECT_TRUE(finished.outcome.succeeded == expected.succeeded &&
                finished.outcome.text == expected.text)
        << finished.outcome.text;
    // The adapter calls the completion on the bridge's thread, whichever that is, and adds none.
    EXPECT_EQ(finished.onCallingThread, !script.fromAnotherThread);
  }
}

// A streamed job goes to the bridge's streaming function; each piece reaches the core as it was
// lent, a revision as a replacement, and the completion follows as for a complete response.
TEST(ApplePlatform, StreamedGeneration) {
  const Finished finished = generate({.text = "abcd"}, std::nullopt, "prompt", true);
  EXPECT_EQ(bridge.log, "os 26.0.0; stream; generate NULL | prompt | 0.500000 256; ");
  EXPECT_EQ(finished.pieces, "+ab;+cd;=abcd;");
  EXPECT_TRUE(finished.outcome.succeeded && finished.outcome.text == "abcd");
}

}  // namespace
}  // namespace corvane

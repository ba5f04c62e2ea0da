#include "apple_platform.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "foundation_models_bridge.h"

namespace corvane {
namespace {

ModelAvailability availabilityFromCode(std::int32_t code) {
  switch (code) {
    case CORVANE_FM_AVAILABLE:
      return ModelAvailability::available;
    case CORVANE_FM_DEVICE_NOT_ELIGIBLE:
      return ModelAvailability::deviceNotEligible;
    case CORVANE_FM_APPLE_INTELLIGENCE_NOT_ENABLED:
      return ModelAvailability::appleIntelligenceNotEnabled;
    case CORVANE_FM_MODEL_NOT_READY:
      return ModelAvailability::modelNotReady;
    default:
      // CORVANE_FM_OTHER_REASON, and any code a later bridge might add.
      return ModelAvailability::unavailableOtherReason;
  }
}

extern "C" {

// Called by the bridge exactly once per started generation, on the thread of the Swift task that
// ran it. `context` is the core's completion, which lives until it has been called. The text is
// only lent, so it is copied first. No exception may unwind into the Swift caller.
static void completeGeneration(void* context, std::int32_t ok, const char* text,
                               std::size_t length) {
  GenerationOutcome outcome{ok != 0, {}};
  try {
    if (length != 0) outcome.text.assign(text, length);
  } catch (const std::bad_alloc&) {
    outcome = {false, "out of memory"};  // short enough to need no allocation
  }
  static_cast<GenerationCompletion*>(context)->generationFinished(std::move(outcome));
}

// Called by the bridge for each new piece of a streamed answer, before the completion and on its
// thread. The text is lent; the core copies what it keeps.
static void reportProgress(void* context, std::int32_t replaces, const char* text,
                           std::size_t length) {
  static_cast<GenerationCompletion*>(context)->generationProgressed(
      length == 0 ? std::string_view() : std::string_view(text, length), replaces != 0);
}

}  // extern "C"

// A std::string_view may hold a null pointer when empty, and the bridge reads NULL as "no text"
// (absent instructions, a refused prompt), so a present but empty text must point somewhere.
const char* bytesOf(std::string_view text) { return text.data() != nullptr ? text.data() : ""; }

// A failure known before anything starts, reported through the completion at once.
std::error_code finishAtOnce(GenerationCompletion& completion, const char* description) noexcept {
  try {
    completion.generationFinished({false, description});
  } catch (const std::bad_alloc&) {
    return std::make_error_code(std::errc::not_enough_memory);
  }
  return {};
}

}  // namespace

bool ApplePlatform::osVersionAtLeast(OsVersion version) {
  const bool result = corvane_fm_os_at_least(version.major, version.minor, version.patch) != 0;
  if (version == modelMinimumOs) modelSupported_ = result;
  return result;
}

bool ApplePlatform::modelSupported() {
  if (!modelSupported_) {
    modelSupported_ = corvane_fm_os_at_least(modelMinimumOs.major, modelMinimumOs.minor,
                                             modelMinimumOs.patch) != 0;
  }
  return *modelSupported_;
}

ModelAvailability ApplePlatform::modelAvailability() {
  if (!modelSupported()) return ModelAvailability::unavailableOtherReason;
  return availabilityFromCode(corvane_fm_availability());
}

std::error_code ApplePlatform::startGeneration(GenerationJob job,
                                               GenerationCompletion& completion) noexcept {
  if (!modelSupported()) {
    return finishAtOnce(completion, "the on-device model requires macOS 26 or later");
  }
  const std::optional<std::string>& instructions = job.instructions;
  // The bridge copies every byte before it returns, so the job may go when this returns.
  const char* instructionsBytes = instructions ? bytesOf(*instructions) : nullptr;
  const std::size_t instructionsSize = instructions ? instructions->size() : 0;
  const std::int32_t refused =
      job.streamed
          ? corvane_fm_stream(instructionsBytes, instructionsSize, bytesOf(job.prompt),
                              job.prompt.size(), job.options.temperature,
                              job.options.maximumResponseTokens, reportProgress, completeGeneration,
                              &completion)
          : corvane_fm_generate(instructionsBytes, instructionsSize, bytesOf(job.prompt),
                                job.prompt.size(), job.options.temperature,
                                job.options.maximumResponseTokens, completeGeneration, &completion);
  // A refused start never calls the completion.
  if (refused != 0)
    return finishAtOnce(completion, "the on-device model did not accept the request");
  return {};
}

}  // namespace corvane

#include "apple_platform.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "foundation_models_bridge.h"
#include "standard_streams.h"

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

// One generation in flight. The waiting thread and the completion each hold a reference, so the
// state lives until both are done with it: the completion may run on another thread, before the
// start call has returned, or still be unwinding after the waiter has left.
struct PendingGeneration {
  std::mutex mutex;
  std::condition_variable finished;
  std::optional<GenerationOutcome> outcome;
};

using CompletionTicket = std::shared_ptr<PendingGeneration>;

extern "C" {

// Called by the bridge exactly once per started generation, on any thread. `context` is a ticket
// allocated by respond() and owned from then on by this call. The text is only lent, so it is
// copied before anything else. No exception may unwind into the Swift caller.
static void completeGeneration(void* context, std::int32_t ok, const char* text,
                               std::size_t length) {
  const std::unique_ptr<CompletionTicket> ticket(static_cast<CompletionTicket*>(context));
  PendingGeneration& generation = **ticket;
  GenerationOutcome outcome{ok != 0, {}};
  try {
    if (length != 0) outcome.text.assign(text, length);
  } catch (const std::bad_alloc&) {
    outcome = {false, "out of memory"};
  }
  const std::lock_guard lock(generation.mutex);
  generation.outcome = std::move(outcome);
  generation.finished.notify_one();
}

}  // extern "C"

// A std::string_view may hold a null pointer when empty, and the bridge reads NULL as "no text"
// (absent instructions, a refused prompt), so a present but empty text must point somewhere.
const char* bytesOf(std::string_view text) { return text.data() != nullptr ? text.data() : ""; }

class AppleSession final : public ModelSession {
 public:
  AppleSession(bool modelSupported, std::optional<std::string> instructions)
      : modelSupported_(modelSupported), instructions_(std::move(instructions)) {}

  // Runs on the core's worker thread and waits there; the completion never needs this thread.
  GenerationOutcome respond(std::string_view prompt, const GenerationOptions& options) override {
    if (!modelSupported_) return {false, "the on-device model requires macOS 26 or later"};

    const auto generation = std::make_shared<PendingGeneration>();
    // Handed over before the start call, because the completion may run (and free it) before
    // that call returns.
    auto* ticket = new CompletionTicket(generation);
    const std::int32_t refused = corvane_fm_generate(
        instructions_ ? instructions_->data() : nullptr, instructions_ ? instructions_->size() : 0,
        bytesOf(prompt), prompt.size(), options.temperature, options.maximumResponseTokens,
        completeGeneration, ticket);
    if (refused != 0) {
      // A refused start never calls the completion, so the ticket is still ours.
      delete ticket;
      return {false, "the on-device model did not accept the request"};
    }

    std::unique_lock lock(generation->mutex);
    generation->finished.wait(lock, [&] { return generation->outcome.has_value(); });
    return std::move(*generation->outcome);
  }

 private:
  bool modelSupported_;
  std::optional<std::string> instructions_;
};

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

std::unique_ptr<ModelSession> ApplePlatform::createSession(
    std::optional<std::string_view> instructions) {
  return std::make_unique<AppleSession>(
      modelSupported(),
      instructions
          ? std::optional<std::string>(std::in_place, bytesOf(*instructions), instructions->size())
          : std::nullopt);
}

InputRead ApplePlatform::readStandardInput() { return readAllStandardInput(); }

void ApplePlatform::writeStandardOutput(std::string_view bytes) { writeToStandardOutput(bytes); }

}  // namespace corvane

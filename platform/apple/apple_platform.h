// The macOS platform: the version test and the system model through the C functions of the Swift
// bridge (foundation_models_bridge.h), the standard streams through POSIX.
#pragma once

#include <optional>

#include "platform.h"
#include "posix_platform.h"

namespace corvane {

class ApplePlatform final : public PosixPlatform {
 public:
  bool osVersionAtLeast(OsVersion version) override;

  // Reads the model's state only on macOS 26 or later; below, the unnamed reason.
  ModelAvailability modelAvailability() override;

  // The bridge copies the texts and starts a task of Swift's concurrency runtime, whose thread
  // makes the session, awaits the response and then calls the completion itself: the generation
  // uses that one thread beside the waiting main thread.
  std::error_code startGeneration(GenerationJob job,
                                  GenerationCompletion& completion) noexcept override;

 private:
  // Whether this is macOS 26 or later, where the model exists. The adapter checks this itself
  // before every use of the model rather than trusting its caller, but asks the system once per
  // run: the core's own version test, when it asks for 26.0.0, answers it.
  bool modelSupported();

  std::optional<bool> modelSupported_;
};

}  // namespace corvane

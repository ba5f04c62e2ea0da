// The macOS platform: the version test and the system model through the C functions of the Swift
// bridge (foundation_models_bridge.h), the standard streams through POSIX.
#pragma once

#include <optional>

#include "platform.h"

namespace corvane {

class ApplePlatform final : public Platform {
 public:
  bool osVersionAtLeast(OsVersion version) override;

  // Reads the model's state only on macOS 26 or later; below, the unnamed reason.
  ModelAvailability modelAvailability() override;

  // The session only holds the instructions: the bridge makes the system's session when the
  // response is asked for, so that nothing of the model is touched before that.
  std::unique_ptr<ModelSession> createSession(
      std::optional<std::string_view> instructions) override;

  InputRead readStandardInput() override;
  void writeStandardOutput(std::string_view bytes) override;

 private:
  // Whether this is macOS 26 or later, where the model exists. The adapter checks this itself
  // before every use of the model rather than trusting its caller, but asks the system once per
  // run: the core's own version test, when it asks for 26.0.0, answers it.
  bool modelSupported();

  std::optional<bool> modelSupported_;
};

}  // namespace corvane

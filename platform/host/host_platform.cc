// The platform of systems that have no on-device model: the version test always fails, so neither
// command ever reaches the model. Reads no environment variable, file or option.
#include <utility>

#include "platform.h"
#include "posix_platform.h"

namespace corvane {
namespace {

GenerationOutcome noModel(const GenerationJob&, GenerationCompletion&) {
  return {false, "no on-device model on this system"};
}

class HostPlatform final : public PosixPlatform {
 public:
  bool osVersionAtLeast(OsVersion) override { return false; }
  ModelAvailability modelAvailability() override {
    return ModelAvailability::unavailableOtherReason;
  }
  std::error_code startGeneration(GenerationJob job,
                                  GenerationCompletion& completion) noexcept override {
    return startGenerationThread(std::move(job), completion, noModel);
  }
};

}  // namespace

Platform& defaultPlatform() {
  static HostPlatform platform;
  return platform;
}

}  // namespace corvane

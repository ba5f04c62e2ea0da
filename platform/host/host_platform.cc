// The platform of systems that have no on-device model: the version test always fails, so neither
// command ever reaches the model. Reads no environment variable, file or option.
#include "platform.h"
#include "standard_streams.h"

namespace corvane {
namespace {

class UnreachableSession final : public ModelSession {
 public:
  GenerationOutcome respond(std::string_view, const GenerationOptions&) override {
    return {false, "no on-device model on this system"};
  }
};

class HostPlatform final : public Platform {
 public:
  bool osVersionAtLeast(OsVersion) override { return false; }
  ModelAvailability modelAvailability() override {
    return ModelAvailability::unavailableOtherReason;
  }
  std::unique_ptr<ModelSession> createSession(std::optional<std::string_view>) override {
    return std::make_unique<UnreachableSession>();
  }
  InputRead readStandardInput() override { return readAllStandardInput(); }
  void writeStandardOutput(std::string_view bytes) override { writeToStandardOutput(bytes); }
};

}  // namespace

Platform& defaultPlatform() {
  holdStandardOutputDescriptors();  // main asks once, before anything opens a file
  static HostPlatform platform;
  return platform;
}

}  // namespace corvane

// A scripted platform for unit tests: answers from its fields and records each call.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform.h"

namespace corvane::testing {

class FakePlatform final : public Platform {
 public:
  bool osSupported = true;
  ModelAvailability availability = ModelAvailability::available;
  GenerationOutcome outcome{true, "answer"};
  std::string output;
  std::vector<std::string> calls;
  std::optional<std::optional<std::string>> sessionInstructions;  // set once a session exists
  std::string respondedPrompt;
  GenerationOptions respondedOptions;

  bool osVersionAtLeast(OsVersion version) override {
    calls.push_back("osVersion " + std::to_string(version.major) + "." +
                    std::to_string(version.minor) + "." + std::to_string(version.patch));
    return osSupported;
  }
  ModelAvailability modelAvailability() override {
    calls.push_back("availability");
    return availability;
  }
  std::unique_ptr<ModelSession> createSession(
      std::optional<std::string_view> instructions) override {
    calls.push_back("session");
    sessionInstructions =
        instructions ? std::optional<std::string>(std::string(*instructions)) : std::nullopt;
    return std::make_unique<Session>(*this);
  }
  InputRead readStandardInput() override {
    calls.push_back("stdin");
    return {true, "", ""};
  }
  void writeStandardOutput(std::string_view bytes) override { output.append(bytes); }

 private:
  class Session final : public ModelSession {
   public:
    explicit Session(FakePlatform& owner) : owner_(owner) {}
    GenerationOutcome respond(std::string_view prompt, const GenerationOptions& options) override {
      owner_.calls.push_back("respond");
      owner_.respondedPrompt = std::string(prompt);
      owner_.respondedOptions = options;
      return owner_.outcome;
    }

   private:
    FakePlatform& owner_;
  };
};

}  // namespace corvane::testing

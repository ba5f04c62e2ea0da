// The stand-in platform of corvane-sim: a model and an operating system driven by CORVANE_SIM_*
// environment variables, with an optional trace of every platform operation. Each variable is read
// only when the operation that needs it is called.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform.h"
#include "sim_settings.h"
#include "sim_trace.h"
#include "standard_streams.h"

namespace corvane {
namespace {

class SimSession final : public ModelSession {
 public:
  explicit SimSession(std::thread::id mainThread) : mainThread_(mainThread) {}

  GenerationOutcome respond(std::string_view prompt, const GenerationOptions& options) override {
    sim::traceRespond(prompt, options.temperature, options.maximumResponseTokens, std::nullopt,
                      std::this_thread::get_id() == mainThread_);
    if (const auto delay = sim::parseDelayMs(std::getenv("CORVANE_SIM_DELAY_MS"))) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    if (const char* error = std::getenv("CORVANE_SIM_ERROR")) return {false, error};
    if (const char* response = std::getenv("CORVANE_SIM_RESPONSE")) return {true, response};
    return {true, std::string(prompt)};
  }

 private:
  std::thread::id mainThread_;
};

class SimPlatform final : public Platform {
 public:
  // Constructed by defaultPlatform() from main, so this is the main thread's id.
  SimPlatform() : mainThread_(std::this_thread::get_id()) {}

  bool osVersionAtLeast(OsVersion wanted) override { return sim::osVersionAtLeast(wanted); }
  ModelAvailability modelAvailability() override { return sim::modelAvailability(); }

  std::unique_ptr<ModelSession> createSession(
      std::optional<std::string_view> instructions) override {
    sim::traceSession(instructions, 0);
    return std::make_unique<SimSession>(mainThread_);
  }

  InputRead readStandardInput() override { return readAllStandardInput(); }
  void writeStandardOutput(std::string_view bytes) override { writeToStandardOutput(bytes); }

 private:
  std::thread::id mainThread_;
};

}  // namespace

Platform& defaultPlatform() {
  holdStandardOutputDescriptors();  // main asks once, before anything opens a file
  static SimPlatform platform;
  return platform;
}

}  // namespace corvane

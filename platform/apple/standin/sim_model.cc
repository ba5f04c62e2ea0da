// The stand-in model and system version behind the Linux build of the macOS platform. It shares
// corvane-sim's reading of the CORVANE_SIM_* variables and its trace, so the two executables can
// be held to the same process tests.
#include "sim_model/sim_model.h"

#if defined(__APPLE__)
#include <pthread.h>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <optional>
#include <string_view>

#include "foundation_models_bridge.h"
#include "sim_settings.h"
#include "sim_trace.h"

namespace {

// Whether the caller is the process's first thread: macOS says so itself; Linux numbers that
// thread like the process.
#if defined(__APPLE__)
bool onMainThread() { return pthread_main_np() != 0; }
#else
bool onMainThread() { return syscall(SYS_gettid) == getpid(); }
#endif

std::optional<std::string_view> optionalText(const char* text, std::size_t length) {
  if (text == nullptr) return std::nullopt;
  return std::string_view(text, length);
}

}  // namespace

// The bridge's version test. On macOS it asks the system; Foundation on Linux would report the
// kernel's version, so here the version comes from CORVANE_SIM_OS_VERSION, as for corvane-sim.
extern "C" std::int32_t corvane_fm_os_at_least(std::int32_t major, std::int32_t minor,
                                               std::int32_t patch) {
  return corvane::sim::osVersionAtLeast({major, minor, patch}) ? 1 : 0;
}

extern "C" std::int32_t corvane_sim_model_availability() {
  switch (corvane::sim::modelAvailability()) {
    case corvane::ModelAvailability::available:
      return CORVANE_FM_AVAILABLE;
    case corvane::ModelAvailability::deviceNotEligible:
      return CORVANE_FM_DEVICE_NOT_ELIGIBLE;
    case corvane::ModelAvailability::appleIntelligenceNotEnabled:
      return CORVANE_FM_APPLE_INTELLIGENCE_NOT_ENABLED;
    case corvane::ModelAvailability::modelNotReady:
      return CORVANE_FM_MODEL_NOT_READY;
    case corvane::ModelAvailability::unavailableOtherReason:
      break;
  }
  return CORVANE_FM_OTHER_REASON;
}

extern "C" void corvane_sim_model_session(const char* instructions, std::size_t instructionsLength,
                                          std::size_t tools) {
  corvane::sim::traceSession(optionalText(instructions, instructionsLength), tools);
}

extern "C" std::uint64_t corvane_sim_model_respond(const char* prompt, std::size_t promptLength,
                                                   std::int32_t hasTemperature, double temperature,
                                                   std::int32_t hasMaximumResponseTokens,
                                                   std::int64_t maximumResponseTokens,
                                                   const char* sampling) {
  corvane::sim::traceRespond(
      std::string_view(prompt, promptLength),
      hasTemperature ? std::optional<double>(temperature) : std::nullopt,
      hasMaximumResponseTokens ? std::optional<std::int64_t>(maximumResponseTokens) : std::nullopt,
      sampling ? std::optional<std::string_view>(sampling) : std::nullopt, onMainThread());
  return corvane::sim::parseDelayMs(std::getenv("CORVANE_SIM_DELAY_MS"));
}

extern "C" std::int32_t corvane_sim_model_outcome(const char** text) {
  if (const char* error = std::getenv("CORVANE_SIM_ERROR")) {
    *text = error;
    return 0;
  }
  *text = std::getenv("CORVANE_SIM_RESPONSE");
  return 1;
}

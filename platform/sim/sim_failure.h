// The failures the stand-in model can report, as FoundationModels reports them, and the words the
// macOS bridge makes of each. corvane-sim replies with those words itself, so that it answers a
// failure exactly as corvane-apple-sim (the bridge on the stand-in framework) does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::sim {

// The nine cases of the framework's generation error, in the framework's order, then an error
// outside them, as the plain NSErrors the system has also been seen to throw.
enum class ModelFailure : std::int32_t {
  exceededContextWindowSize,
  assetsUnavailable,
  guardrailViolation,
  unsupportedGuide,
  unsupportedLanguageOrLocale,
  decodingFailure,
  rateLimited,
  concurrentRequests,
  refusal,
  nsError,
};

// The case's name in the framework (and in CORVANE_SIM_ERROR_KIND); "nsError" for the last.
std::string_view failureName(ModelFailure failure);

// The stand-in's own description of the failure, used when CORVANE_SIM_ERROR does not give one.
// The system words its failures differently.
std::string_view defaultDescription(ModelFailure failure);

// What the bridge replies after "on-device generation failed: ": the description when there is
// one; for a generation error without one, the error as Swift prints it; for the NSError, which
// carries nothing but its domain and code, that printed form.
std::string bridgeDescription(ModelFailure failure, std::string_view description);

}  // namespace corvane::sim

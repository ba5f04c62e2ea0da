// The C face of the stand-in model for the Linux stand-in of Apple's framework, and the bridge's
// version test there: each function forwards to corvane-sim's own model, so the two executables
// answer and trace alike and are held to the same process tests.
#include "standin_model/standin_model.h"

#include <cstdint>
#include <optional>
#include <string_view>

#include "foundation_models_bridge.h"
#include "sim_model.h"
#include "sim_settings.h"

namespace {

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

extern "C" std::int32_t corvane_standin_model_availability() {
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

extern "C" void corvane_standin_model_session(const char* instructions,
                                              std::size_t instructionsLength, std::size_t tools) {
  corvane::sim::openSession(optionalText(instructions, instructionsLength), tools);
}

namespace {

std::uint64_t request(const char* prompt, std::size_t promptLength, std::int32_t hasTemperature,
                      double temperature, std::int32_t hasMaximumResponseTokens,
                      std::int64_t maximumResponseTokens, const char* sampling, bool streamed) {
  const auto delay = corvane::sim::requestResponse(
      std::string_view(prompt, promptLength),
      hasTemperature ? std::optional<double>(temperature) : std::nullopt,
      hasMaximumResponseTokens ? std::optional<std::int64_t>(maximumResponseTokens) : std::nullopt,
      sampling ? std::optional<std::string_view>(sampling) : std::nullopt, streamed);
  return static_cast<std::uint64_t>(delay.count());
}

// The outcome's code: answered, or the failure numbered in the framework's order, after the
// answer.
std::int32_t outcomeCode(const corvane::sim::Response& response) {
  if (!response.failure) return CORVANE_STANDIN_ANSWERED;
  static_assert(CORVANE_STANDIN_NS_ERROR ==
                static_cast<std::int32_t>(corvane::sim::ModelFailure::nsError) + 1);
  return static_cast<std::int32_t>(*response.failure) + 1;
}

}  // namespace

extern "C" std::uint64_t corvane_standin_model_respond(const char* prompt, std::size_t promptLength,
                                                       std::int32_t hasTemperature,
                                                       double temperature,
                                                       std::int32_t hasMaximumResponseTokens,
                                                       std::int64_t maximumResponseTokens,
                                                       const char* sampling) {
  return request(prompt, promptLength, hasTemperature, temperature, hasMaximumResponseTokens,
                 maximumResponseTokens, sampling, false);
}

extern "C" std::int32_t corvane_standin_model_outcome(const char** text) {
  const corvane::sim::Response response = corvane::sim::response();
  *text = response.text;
  return outcomeCode(response);
}

extern "C" std::uint64_t corvane_standin_model_stream(const char* prompt, std::size_t promptLength,
                                                      std::int32_t hasTemperature,
                                                      double temperature,
                                                      std::int32_t hasMaximumResponseTokens,
                                                      std::int64_t maximumResponseTokens,
                                                      const char* sampling) {
  return request(prompt, promptLength, hasTemperature, temperature, hasMaximumResponseTokens,
                 maximumResponseTokens, sampling, true);
}

extern "C" std::int32_t corvane_standin_model_stream_outcome(
    const char* prompt, std::size_t promptLength, const char** answer, std::uint64_t* pieces,
    std::uint64_t* pieceLength, const char** description) {
  const std::string_view promptText(prompt, promptLength);
  const corvane::sim::StreamedResponse streamed = corvane::sim::streamedResponse(promptText);
  *answer = streamed.text.data() == promptText.data() ? nullptr : streamed.text.data();
  *pieces = streamed.pieces;
  *pieceLength = streamed.pieceLength;
  *description = streamed.outcome.failure ? streamed.outcome.text : nullptr;
  return outcomeCode(streamed.outcome);
}

extern "C" std::size_t corvane_standin_model_piece_end(const char* text, std::size_t textLength,
                                                       std::size_t from,
                                                       std::uint64_t pieceLength) {
  return corvane::sim::pieceEnd(std::string_view(text, textLength), from, pieceLength);
}

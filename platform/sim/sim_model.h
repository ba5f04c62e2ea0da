// The stand-in model and system: one implementation of the CORVANE_SIM_* behaviour, behind both
// corvane-sim's platform and the Linux stand-in of Apple's framework, so that the two answer and
// trace byte for byte alike. Each variable is read only when the operation that needs it is called;
// each operation appends its line to the trace (sim_trace.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform.h"
#include "sim_failure.h"

namespace corvane::sim {

// The version test, answered from CORVANE_SIM_OS_VERSION (unset: 26.0.0).
bool osVersionAtLeast(OsVersion wanted);

// The model's state, from CORVANE_SIM_AVAILABILITY (unset: available).
ModelAvailability modelAvailability();

// A new session: `instructions` absent means none at all (unlike an empty text).
void openSession(std::optional<std::string_view> instructions, std::size_t tools);

// A request for one response under the options the caller set (absent: not set; `sampling` names
// the sampling mode, absent when the model's default applies), complete or `streamed`. Returns how
// long the response is to take: CORVANE_SIM_DELAY_MS (for a streamed one, before each piece).
std::chrono::milliseconds requestResponse(std::string_view prompt,
                                          std::optional<double> temperature,
                                          std::optional<std::int64_t> maximumResponseTokens,
                                          std::optional<std::string_view> sampling,
                                          bool streamed = false);

// The response, once that time has passed. It fails when CORVANE_SIM_ERROR or
// CORVANE_SIM_ERROR_KIND is set: with the failure the kind names, described by CORVANE_SIM_ERROR,
// else by the stand-in's text for that failure. Otherwise the answer is CORVANE_SIM_RESPONSE, else
// (a null text) the prompt itself. The text lives as long as the process.
struct Response {
  std::optional<ModelFailure> failure;  // absent: answered
  const char* text = nullptr;
};
Response response();

// How a streamed response comes: the text it is made of (CORVANE_SIM_RESPONSE, else the prompt),
// cut into pieces of CORVANE_SIM_PIECE_LENGTH code points (unset: a word each; see pieceEnd in
// sim_settings.h); when the response fails (CORVANE_SIM_ERROR or CORVANE_SIM_ERROR_KIND), it
// fails after CORVANE_SIM_FAIL_AFTER pieces (unset: before the first, as a complete response
// fails).
struct StreamedResponse {
  std::string_view text;
  std::uint64_t pieceLength = 0;
  std::uint64_t pieces = 0;  // how many pieces come before the outcome
  Response outcome;          // a failure, or a success whose answer is the whole text
};
StreamedResponse streamedResponse(std::string_view prompt);

// The whole of one response on the calling thread: a session, the request, the wait, the outcome;
// a streamed job's pieces are reported to `progress` first, the delay before each.
GenerationOutcome respond(const GenerationJob& job, GenerationCompletion& progress);

}  // namespace corvane::sim

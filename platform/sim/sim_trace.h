// The stand-in's trace: with CORVANE_SIM_TRACE naming a file, one compact JSON line is appended per
// platform operation, in call order. Shared by every stand-in of the model, so that they trace
// byte for byte alike. Each trace function does nothing when there is no trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform.h"

namespace corvane::sim {

void traceOsVersion(OsVersion wanted, bool result);
void traceAvailability(ModelAvailability result);
void traceSession(std::optional<std::string_view> instructions, std::size_t tools);

// The stand-in system's answers to the version test and the availability question, read from
// CORVANE_SIM_OS_VERSION and CORVANE_SIM_AVAILABILITY when asked, and traced.
bool osVersionAtLeast(OsVersion wanted);
ModelAvailability modelAvailability();

// `sampling` names the sampling mode the caller set, or is absent when the model's default applies.
void traceRespond(std::string_view prompt, std::optional<double> temperature,
                  std::optional<std::int64_t> maximumResponseTokens,
                  std::optional<std::string_view> sampling, bool mainThread);

}  // namespace corvane::sim

// The stand-in's trace: with CORVANE_SIM_TRACE naming a file, one compact JSON line is appended per
// platform operation, in call order (sim_model.cc makes the calls). Each trace function does
// nothing when there is no trace.
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

// `sampling` names the sampling mode the caller set, or is absent when the model's default applies.
// A streamed request is traced as the operation "streamResponse", a complete one as "respond".
void traceRespond(std::string_view prompt, std::optional<double> temperature,
                  std::optional<std::int64_t> maximumResponseTokens,
                  std::optional<std::string_view> sampling, bool mainThread, bool streamed = false);

}  // namespace corvane::sim

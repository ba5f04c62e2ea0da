// The `chat` command: one request from standard input, one answer from the on-device model.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform.h"
#include "reply.h"

namespace corvane {

inline constexpr double defaultTemperature = 0.35;
inline constexpr std::int64_t defaultResponseTokens = 256;
inline constexpr std::int64_t responseTokenFloor = 32;
inline constexpr std::int64_t responseTokenCeiling = 512;

// What the worker receives, by value: everything one generation needs.
struct GenerationJob {
  std::optional<std::string> instructions;  // absent: the session gets no instructions at all
  std::string prompt;
  GenerationOptions options;
};

// 256 when absent, else the value clamped to 32..512.
std::int64_t responseTokenLimit(std::optional<std::int64_t> maxTokens);

// The main thread's checks, in order, on the complete bytes of standard input: the job to run, or
// the refusal to print (the run then ends with status 1).
std::variant<GenerationJob, ResponseObject> prepareGeneration(Platform& platform,
                                                              std::string_view input);

// The worker's part: one session, one whole response, and the reply that reports it.
ResponseObject generateReply(Platform& platform, const GenerationJob& job);

// Runs the command. Returns after the worker has printed the reply (status 0), or prints a refusal
// and ends the process with status 1.
void runChat(Platform& platform);

}  // namespace corvane

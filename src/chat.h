// The `chat` command: one request from standard input, one answer from the on-device model; and
// `stream`, the same with the answer written as it grows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>

#include "platform.h"
#include "reply.h"

namespace corvane {

inline constexpr double defaultTemperature = 0.35;
inline constexpr std::int64_t defaultResponseTokens = 256;
inline constexpr std::int64_t responseTokenFloor = 32;
inline constexpr std::int64_t responseTokenCeiling = 512;

// 256 when absent, else the value clamped to 32..512.
std::int64_t responseTokenLimit(std::optional<std::int64_t> maxTokens);

// The main thread's checks, in order, on the complete bytes of standard input: the job to run, or
// the refusal to print (the run then ends with status 1).
std::variant<GenerationJob, ResponseObject> prepareGeneration(Platform& platform,
                                                              std::string_view input);

// Has the platform generate the answer to `job` and waits, with no time limit, until the reply to
// it has been written (for a streamed job, after the lines of the answer as it grew: see
// answer_stream.h). When the generation could not be started, writes nothing and returns why.
std::error_code generateAndReply(Platform& platform, GenerationJob job);

// How the answer reaches standard output: `chat` writes one reply; `stream` writes the answer as
// it grows, then that same reply.
enum class Delivery { whole, streamed };

// Runs the command. Returns after the reply to the generation has been printed (status 0), or
// prints a refusal and ends the process with status 1. Both deliveries refuse the same requests
// with the same replies.
void runChat(Platform& platform, Delivery delivery = Delivery::whole);

}  // namespace corvane

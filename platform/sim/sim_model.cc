#include "sim_model.h"

#if defined(__APPLE__)
#include <pthread.h>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <string>
#include <thread>

#include "sim_settings.h"
#include "sim_trace.h"

namespace corvane::sim {
namespace {

// Whether the caller runs on the process's first thread, which the model must never need: macOS
// says so itself; Linux numbers the first thread like the process.
#if defined(__APPLE__)
bool onMainThread() { return pthread_main_np() != 0; }
#else
bool onMainThread() { return syscall(SYS_gettid) == getpid(); }
#endif

}  // namespace

bool osVersionAtLeast(OsVersion wanted) {
  const bool result = versionAtLeast(parseOsVersion(std::getenv("CORVANE_SIM_OS_VERSION")), wanted);
  traceOsVersion(wanted, result);
  return result;
}

ModelAvailability modelAvailability() {
  const ModelAvailability state = parseAvailability(std::getenv("CORVANE_SIM_AVAILABILITY"));
  traceAvailability(state);
  return state;
}

void openSession(std::optional<std::string_view> instructions, std::size_t tools) {
  traceSession(instructions, tools);
}

std::chrono::milliseconds requestResponse(std::string_view prompt,
                                          std::optional<double> temperature,
                                          std::optional<std::int64_t> maximumResponseTokens,
                                          std::optional<std::string_view> sampling, bool streamed) {
  traceRespond(prompt, temperature, maximumResponseTokens, sampling, onMainThread(), streamed);
  return std::chrono::milliseconds(parseDelayMs(std::getenv("CORVANE_SIM_DELAY_MS")));
}

Response response() {
  const char* description = std::getenv("CORVANE_SIM_ERROR");
  const char* kind = std::getenv("CORVANE_SIM_ERROR_KIND");
  if (description == nullptr && kind == nullptr) {
    return {std::nullopt, std::getenv("CORVANE_SIM_RESPONSE")};
  }
  const ModelFailure failure = parseModelFailure(kind);
  // The stand-in's texts are literals, so they live as long as the process too.
  return {failure, description != nullptr ? description : defaultDescription(failure).data()};
}

StreamedResponse streamedResponse(std::string_view prompt) {
  StreamedResponse streamed;
  const char* text = std::getenv("CORVANE_SIM_RESPONSE");
  streamed.text = text != nullptr ? std::string_view(text) : prompt;
  streamed.pieceLength = parseCount(std::getenv("CORVANE_SIM_PIECE_LENGTH"));
  streamed.outcome = response();
  std::uint64_t pieces = 0;
  for (std::size_t at = 0; at < streamed.text.size(); ++pieces) {
    at = pieceEnd(streamed.text, at, streamed.pieceLength);
  }
  streamed.pieces = pieces;
  if (streamed.outcome.failure) {
    const std::uint64_t before = parseCount(std::getenv("CORVANE_SIM_FAIL_AFTER"));
    if (before < streamed.pieces) streamed.pieces = before;
  }
  return streamed;
}

GenerationOutcome respond(const GenerationJob& job, GenerationCompletion& progress) {
  openSession(job.instructions, 0);
  // The options as the core sets them: temperature and length always, the sampling mode never.
  const std::chrono::milliseconds delay =
      requestResponse(job.prompt, job.options.temperature, job.options.maximumResponseTokens,
                      std::nullopt, job.streamed);
  std::this_thread::sleep_for(delay);
  if (!job.streamed) {
    const Response answer = response();
    // A failure in the words the macOS bridge would find for it, so that both stand-ins reply
    // alike.
    if (answer.failure) return {false, bridgeDescription(*answer.failure, answer.text)};
    return {true, answer.text != nullptr ? std::string(answer.text) : job.prompt};
  }
  const StreamedResponse streamed = streamedResponse(job.prompt);
  std::size_t at = 0;
  for (std::uint64_t piece = 0; piece < streamed.pieces; ++piece) {
    if (piece > 0) std::this_thread::sleep_for(delay);
    const std::size_t end = pieceEnd(streamed.text, at, streamed.pieceLength);
    progress.generationProgressed(streamed.text.substr(at, end - at), false);
    at = end;
  }
  const Response& outcome = streamed.outcome;
  if (outcome.failure) return {false, bridgeDescription(*outcome.failure, outcome.text)};
  return {true, std::string(streamed.text)};
}

}  // namespace corvane::sim

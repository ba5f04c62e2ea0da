#include "chat.h"

#include <cstdlib>
#include <new>
#include <semaphore>
#include <system_error>
#include <thread>
#include <utility>

#include "availability.h"
#include "chat_request.h"
#include "prompt.h"

namespace corvane {
namespace {

// Runs on the worker thread. The job is destroyed before the semaphore is signalled, so that once
// the main thread is released (and may end the process) the worker touches nothing at all.
void runWorker(Platform& platform, GenerationJob job, std::binary_semaphore& done) {
  {
    const GenerationJob local = std::move(job);
    ResponseObject reply;
    try {
      reply = generateReply(platform, local);
    } catch (const std::bad_alloc&) {
      // An answer too large for the memory left: reported like any failed generation.
      reply =
          ResponseObject::error("on-device generation failed: not enough memory for the answer");
    }
    emit(platform, reply);
  }
  done.release();
}

}  // namespace

std::int64_t responseTokenLimit(std::optional<std::int64_t> maxTokens) {
  if (!maxTokens) return defaultResponseTokens;
  if (*maxTokens < responseTokenFloor) return responseTokenFloor;
  if (*maxTokens > responseTokenCeiling) return responseTokenCeiling;
  return *maxTokens;
}

std::variant<GenerationJob, ResponseObject> prepareGeneration(Platform& platform,
                                                              std::string_view input) {
  if (input.empty()) return ResponseObject::error("empty chat request on stdin");

  auto decoded = decodeChatRequest(input);
  if (auto* failure = std::get_if<DecodeFailure>(&decoded)) {
    return ResponseObject::error("invalid chat request JSON: " + failure->description);
  }
  const ChatRequest& request = std::get<ChatRequest>(decoded);

  if (const auto reason = unavailabilityMessage(platform)) {
    return ResponseObject::error(std::string(*reason));
  }

  PromptPair pair = buildPrompt(request);
  if (pair.prompt.empty()) return ResponseObject::error("no user content in chat request");

  GenerationJob job;
  if (!pair.instructions.empty()) job.instructions = std::move(pair.instructions);
  job.prompt = std::move(pair.prompt);
  job.options.temperature = request.temperature.value_or(defaultTemperature);
  job.options.maximumResponseTokens = responseTokenLimit(request.maxTokens);
  return job;
}

ResponseObject generateReply(Platform& platform, const GenerationJob& job) {
  const auto session = platform.createSession(
      job.instructions ? std::optional<std::string_view>(*job.instructions) : std::nullopt);
  GenerationOutcome outcome = session->respond(job.prompt, job.options);
  if (!outcome.succeeded) {
    return ResponseObject::error("on-device generation failed: " + outcome.text);
  }
  ResponseObject reply;
  reply.set("content", std::move(outcome.text)).set("finishReason", std::string("stop"));
  return reply;
}

void runChat(Platform& platform) {
  std::variant<GenerationJob, ResponseObject> prepared;
  try {
    // The request's bytes and records are dropped here, before the generation starts.
    InputRead input = platform.readStandardInput();
    if (!input.succeeded) {
      prepared = ResponseObject::error("could not read chat request from stdin: " + input.error);
    } else {
      prepared = prepareGeneration(platform, input.bytes);
    }
  } catch (const std::bad_alloc&) {
    // A request larger than the memory the process may use. Unwinding has released what it held.
    prepared = ResponseObject::error("not enough memory for the chat request");
  }
  if (auto* refusal = std::get_if<ResponseObject>(&prepared)) {
    emit(platform, *refusal);
    std::exit(1);
  }

  std::binary_semaphore done{0};
  try {
    std::thread(runWorker, std::ref(platform), std::move(std::get<GenerationJob>(prepared)),
                std::ref(done))
        .detach();
  } catch (const std::system_error& error) {
    emit(platform, ResponseObject::error(std::string("could not start the generation worker: ") +
                                         error.what()));
    std::exit(1);
  }
  done.acquire();
}

}  // namespace corvane

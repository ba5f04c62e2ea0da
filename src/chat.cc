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
    emitBuilt(platform, [&] {
      try {
        return generateReply(platform, local);
      } catch (const std::bad_alloc&) {
        // An answer too large for the memory left: reported like any failed generation.
        return ResponseObject::error(
            "on-device generation failed: not enough memory for the answer");
      }
    });
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
  bool outOfMemory = false;
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
    outOfMemory = true;
  }
  if (outOfMemory) {
    emitBuilt(platform,
              [] { return ResponseObject::error("not enough memory for the chat request"); });
    std::exit(1);
  }
  if (auto* refusal = std::get_if<ResponseObject>(&prepared)) {
    emit(platform, *refusal);
    std::exit(1);
  }

  std::binary_semaphore done{0};
  std::error_code startFailure;
  try {
    std::thread(runWorker, std::ref(platform), std::move(std::get<GenerationJob>(prepared)),
                std::ref(done))
        .detach();
  } catch (const std::system_error& error) {
    startFailure = error.code();
  } catch (const std::bad_alloc&) {
    // The thread's start-up record could not be allocated.
    startFailure = std::make_error_code(std::errc::not_enough_memory);
  }
  if (startFailure) {
    emitBuilt(platform, [&] {
      return ResponseObject::error("could not start the generation worker: " +
                                   startFailure.message());
    });
    std::exit(1);
  }
  done.acquire();
}

}  // namespace corvane

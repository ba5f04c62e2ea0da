#include "chat.h"

#include <cstdlib>
#include <new>
#include <semaphore>
#include <utility>

#include "answer_stream.h"
#include "availability.h"
#include "chat_request.h"
#include "prompt.h"

namespace corvane {
namespace {

// The reply that reports a generation's outcome. Takes the answer's text over rather than copying
// it.
ResponseObject replyTo(GenerationOutcome&& outcome) {
  if (!outcome.succeeded) {
    return ResponseObject::error("on-device generation failed: " + outcome.text);
  }
  ResponseObject reply;
  reply.set("content", std::move(outcome.text)).set("finishReason", std::string("stop"));
  return reply;
}

// Writes the reply to the generation's outcome, on whichever thread the platform completes it, and
// only then releases the main thread, which waits in wait(). The reply and the outcome's text are
// gone before the release: once released, the main thread may end the process at any moment.
class ReplyOnCompletion : public GenerationCompletion {
 public:
  explicit ReplyOnCompletion(Platform& platform) : platform_(platform) {}

  void generationFinished(GenerationOutcome outcome) noexcept override {
    {
      // Moved here, so that the text is freed in this block; the parameter is left empty.
      GenerationOutcome taken = std::move(outcome);
      if (beforeReply(taken)) {
        emitBuilt(platform_, [&] {
          try {
            return replyTo(std::move(taken));
          } catch (const std::bad_alloc&) {
            // An answer too large for the memory left: reported like any failed generation.
            return ResponseObject::error(
                "on-device generation failed: not enough memory for the answer");
          }
        });
      } else {
        emitFallback(platform_);
      }
    }
    done_.release();
  }

  void wait() { done_.acquire(); }

 protected:
  // Writes what must precede the reply to `outcome`; false when the reply cannot be trusted to
  // agree with it, and the fallback line is written instead.
  virtual bool beforeReply(const GenerationOutcome& outcome) noexcept {
    (void)outcome;
    return true;
  }

  Platform& platform_;

 private:
  std::binary_semaphore done_{0};
};

// The same, with the answer written as it grows (answer_stream.h): a line per new piece, each
// written whole and at once, then the reply `chat` gives, whose content the pieces add up to.
class StreamOnCompletion final : public ReplyOnCompletion {
 public:
  using ReplyOnCompletion::ReplyOnCompletion;

  void generationProgressed(std::string_view text, bool replacesAll) noexcept override {
    if (abandoned_) return;
    try {
      if (auto line = stream_.progressed(text, replacesAll)) write(*line);
    } catch (const std::bad_alloc&) {
      // No memory to follow the answer: the final reply still gives all of it.
      abandoned_ = true;
    }
  }

 private:
  bool beforeReply(const GenerationOutcome& outcome) noexcept override {
    if (!outcome.succeeded) return true;
    try {
      if (auto line = stream_.finished(outcome.text)) write(*line);
      return true;
    } catch (const std::bad_alloc&) {
      // What was sent may fall short of the content: no content reply may follow it.
      return false;
    }
  }

  // A piece's line is valid UTF-8 by construction, so it is written as it is or, when it cannot be
  // made, not at all: never the fallback line, which would end the answer.
  void write(const ResponseObject& line) {
    if (const std::optional<std::string> bytes = serializeReply(line)) {
      platform_.writeStandardOutput(*bytes);
    }
  }

  AnswerStream stream_;
  bool abandoned_ = false;
};

// Starts the generation with a completion of the given kind and waits until it has written its
// reply; returns why, when the generation could not be started.
template <typename Completion>
std::error_code startAndWait(Platform& platform, GenerationJob job) {
  Completion completion(platform);
  if (const std::error_code failure = platform.startGeneration(std::move(job), completion)) {
    return failure;
  }
  completion.wait();
  return {};
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

std::error_code generateAndReply(Platform& platform, GenerationJob job) {
  return job.streamed ? startAndWait<StreamOnCompletion>(platform, std::move(job))
                      : startAndWait<ReplyOnCompletion>(platform, std::move(job));
}

void runChat(Platform& platform, Delivery delivery) {
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

  GenerationJob& job = std::get<GenerationJob>(prepared);
  job.streamed = delivery == Delivery::streamed;
  const std::error_code startFailure = generateAndReply(platform, std::move(job));
  if (startFailure) {
    emitBuilt(platform, [&] {
      return ResponseObject::error("could not start the generation worker: " +
                                   startFailure.message());
    });
    std::exit(1);
  }
}

}  // namespace corvane

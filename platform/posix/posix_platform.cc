#include "posix_platform.h"

#include <pthread.h>

#include <memory>
#include <new>
#include <system_error>
#include <utility>

#include "standard_streams.h"

namespace corvane {

PosixPlatform::PosixPlatform() { holdStandardOutputDescriptors(); }

InputRead PosixPlatform::readStandardInput() { return readAllStandardInput(); }

void PosixPlatform::writeStandardOutput(std::string_view bytes) { writeToStandardOutput(bytes); }

namespace {

// What a generation thread starts with, on the heap: the thread owns it from its first line.
struct GenerationStart {
  GenerationJob job;
  GenerationCompletion* completion;
  BlockingGeneration generate;
};

GenerationOutcome generateOrFail(BlockingGeneration generate, const GenerationJob& job,
                                 GenerationCompletion& progress) noexcept {
  try {
    return generate(job, progress);
  } catch (const std::bad_alloc&) {
    GenerationOutcome outcome;
    outcome.succeeded = false;
    try {
      outcome.text = "not enough memory for the answer";
    } catch (const std::bad_alloc&) {
      // Not even that: the failure goes without its description.
    }
    return outcome;
  }
}

// The thread's whole life. A POSIX thread rather than std::thread, whose record of the thread is
// freed only after this function returns: here everything the thread owns is freed before the
// completion is called, and the outcome's text goes to the completion, which empties it. What
// follows that call destroys only empty objects, so the main thread, released by it, may end the
// process at once (as platform.h allows).
void* runGeneration(void* record) noexcept {
  GenerationCompletion* completion;
  GenerationOutcome outcome;
  {
    const std::unique_ptr<GenerationStart> start(static_cast<GenerationStart*>(record));
    completion = start->completion;
    outcome = generateOrFail(start->generate, start->job, *completion);
  }
  completion->generationFinished(std::move(outcome));
  return nullptr;
}

}  // namespace

std::error_code startGenerationThread(GenerationJob job, GenerationCompletion& completion,
                                      BlockingGeneration generate) noexcept {
  GenerationStart* start =
      new (std::nothrow) GenerationStart{std::move(job), &completion, generate};
  // The thread's start-up record could not be allocated.
  if (start == nullptr) return std::make_error_code(std::errc::not_enough_memory);
  pthread_attr_t attributes;
  if (const int error = pthread_attr_init(&attributes); error != 0) {
    delete start;
    return {error, std::generic_category()};
  }
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int error = pthread_create(&thread, &attributes, runGeneration, start);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    delete start;
    return {error, std::generic_category()};
  }
  return {};
}

}  // namespace corvane

#include "posix_platform.h"

#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "standard_streams.h"

namespace corvane {

PosixPlatform::PosixPlatform() { holdStandardOutputDescriptors(); }

InputRead PosixPlatform::readStandardInput() { return readAllStandardInput(); }

void PosixPlatform::writeStandardOutput(std::string_view bytes) { writeToStandardOutput(bytes); }

std::error_code startGenerationThread(GenerationJob job, GenerationCompletion& completion,
                                      BlockingGeneration generate) noexcept {
  try {
    std::thread([job = std::move(job), &completion, generate]() mutable noexcept {
      GenerationOutcome outcome;
      try {
        const GenerationJob taken = std::move(job);
        outcome = generate(taken, completion);
      } catch (const std::bad_alloc&) {
        outcome.succeeded = false;
        try {
          outcome.text = "not enough memory for the answer";
        } catch (const std::bad_alloc&) {
          // Not even that: the failure goes without its description.
        }
      }
      completion.generationFinished(std::move(outcome));
    }).detach();
  } catch (const std::system_error& error) {
    return error.code();
  } catch (const std::bad_alloc&) {
    // The thread's start-up record could not be allocated.
    return std::make_error_code(std::errc::not_enough_memory);
  }
  return {};
}

}  // namespace corvane

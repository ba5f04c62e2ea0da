// What the platforms on POSIX systems share: standard input and output through POSIX, and, for the
// platforms whose model answers synchronously, the one thread a generation runs on. Each platform
// derives from PosixPlatform and states only what differs: the version test and the model.
#pragma once

#include <string_view>
#include <system_error>

#include "platform.h"

namespace corvane {

class PosixPlatform : public Platform {
 public:
  // Made once per run, from main, before anything opens a file: descriptors 1 and 2 are held first.
  PosixPlatform();

  InputRead readStandardInput() override;
  void writeStandardOutput(std::string_view bytes) override;
};

// One whole response to a job, blocking the calling thread until it is there; a streamed job's
// answer is reported to `progress` as it grows, on the calling thread, before the return.
using BlockingGeneration = GenerationOutcome (*)(const GenerationJob& job,
                                                 GenerationCompletion& progress);

// Starts a thread that runs `generate` on `job` and hands its outcome to `completion`; the job and
// everything else the thread owns are freed on that thread before the completion is called. A
// `generate` that runs out of memory is a failed generation. Returns why when the thread cannot be
// started.
std::error_code startGenerationThread(GenerationJob job, GenerationCompletion& completion,
                                      BlockingGeneration generate) noexcept;

}  // namespace corvane

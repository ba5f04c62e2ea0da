// The narrow interface through which the program reaches the operating system: the run-time version
// test, the on-device model, and the standard streams. Everything the core needs from the outside
// world goes through `Platform`, so that the core can be built and tested on systems without the
// model and driven by a fake in unit tests.
//
// Exactly one implementation is linked into each executable; it provides `defaultPlatform()`.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace corvane {

struct OsVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;

  auto operator<=>(const OsVersion&) const = default;  // part by part, major first
};

// The first system with the on-device model.
inline constexpr OsVersion modelMinimumOs{26, 0, 0};

// The model's availability state. The platform's set of reasons is open; every reason other than
// the three named ones arrives as `unavailableOtherReason`.
enum class ModelAvailability {
  available,
  deviceNotEligible,
  appleIntelligenceNotEnabled,
  modelNotReady,
  unavailableOtherReason,
};

// Options for one response. The sampling mode is never set, so the model's default sampling
// applies.
struct GenerationOptions {
  double temperature = 0;
  std::int64_t maximumResponseTokens = 0;
};

// The outcome of one response: the answer text, or a human-readable description of the failure.
struct GenerationOutcome {
  bool succeeded = false;
  std::string text;
};

// What one generation needs, handed over by value: the platform keeps what it uses.
struct GenerationJob {
  std::optional<std::string> instructions;  // absent: the session gets no instructions at all
  std::string prompt;
  GenerationOptions options;
  // Ask for the answer as it is written (reported through generationProgressed) rather than for
  // one complete response.
  bool streamed = false;
};

// Receives the outcome of a generation that the platform has started.
class GenerationCompletion {
 public:
  // For a streamed generation, called as the answer grows, zero or more times before
  // generationFinished and on the thread that will call it: the answer so far is now what it was
  // followed by `text`, or, when `replacesAll` (the model revised what it had written), `text`
  // itself. The text is the model's, not checked: it may end inside a UTF-8 sequence.
  virtual void generationProgressed(std::string_view text, bool replacesAll) noexcept {
    (void)text;
    (void)replacesAll;
  }

  // Called exactly once per started generation, with the answer or the failure in words; it
  // takes the outcome's text, leaving the parameter empty. The platform touches nothing of this
  // object afterwards, and holds nothing that needs the process after its return (the POSIX
  // platforms' thread frees what it owns before this call and only ends after it), so this call
  // may release the main thread (which may then end the process).
  virtual void generationFinished(GenerationOutcome outcome) noexcept = 0;

 protected:
  ~GenerationCompletion() = default;
};

// All of standard input, or why it could not be read.
struct InputRead {
  bool succeeded = false;
  std::string bytes;
  std::string error;  // set when !succeeded
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Whether the running operating system is at least `version`.
  virtual bool osVersionAtLeast(OsVersion version) = 0;

  // The system model's current availability, read once. Only called after the version test passed.
  virtual ModelAvailability modelAvailability() = 0;

  // Starts one generation and returns without waiting for it: a session on the system model with
  // an empty tool list (with no instructions at all when the job has none), asked for one complete
  // response to the prompt under the job's options, or for a streamed one when the job says so (a
  // platform that cannot stream may answer a streamed job with one complete response).
  //
  // When it has started, returns no error and calls `completion` exactly once, on a thread that is
  // not the main thread; nothing on the way needs the main thread, which is blocked until then.
  // When the platform can tell at once that the model will not answer, it may instead report that
  // failure through `completion` on the calling thread, before returning. When the generation
  // cannot be started at all (no thread to run it on), returns why and never calls `completion`.
  virtual std::error_code startGeneration(GenerationJob job,
                                          GenerationCompletion& completion) noexcept = 0;

  // Reads standard input to end of file as raw bytes.
  virtual InputRead readStandardInput() = 0;

  // Writes all of `bytes` to standard output before returning. Never fails: what cannot be written
  // (output closed, a pipe without reader, a full disk) is lost.
  virtual void writeStandardOutput(std::string_view bytes) = 0;
};

// The platform this executable was built for.
Platform& defaultPlatform();

}  // namespace corvane

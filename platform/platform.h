// The narrow interface through which the program reaches the operating system: the run-time version
// test, the on-device model, and the standard streams. Everything the core needs from the outside
// world goes through `Platform`, so that the core can be built and tested on systems without the
// model and driven by a fake in unit tests.
//
// Exactly one implementation is linked into each executable; it provides `defaultPlatform()`.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

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

// One model session, serving exactly one request.
class ModelSession {
 public:
  virtual ~ModelSession() = default;

  // Asks for one complete (not streamed) response to `prompt`. Blocks the calling thread until the
  // model has answered or failed. Called on the chat worker thread, never on the main thread, and
  // must not need the main thread to make progress (it is blocked while this runs).
  virtual GenerationOutcome respond(std::string_view prompt, const GenerationOptions& options) = 0;
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

  // A session on the system model with an empty tool list: with no instructions at all when
  // `instructions` is absent, otherwise with the given text.
  virtual std::unique_ptr<ModelSession> createSession(
      std::optional<std::string_view> instructions) = 0;

  // Reads standard input to end of file as raw bytes.
  virtual InputRead readStandardInput() = 0;

  // Writes all of `bytes` to standard output before returning. Never fails: what cannot be written
  // (output closed, a pipe without reader, a full disk) is lost.
  virtual void writeStandardOutput(std::string_view bytes) = 0;
};

// The platform this executable was built for.
Platform& defaultPlatform();

}  // namespace corvane

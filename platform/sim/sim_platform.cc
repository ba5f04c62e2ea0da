// The stand-in platform of corvane-sim: a model and an operating system driven by CORVANE_SIM_*
// environment variables, with an optional trace of every platform operation. Each variable is read
// only when the operation that needs it is called.
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "json_text.h"
#include "platform.h"
#include "sim_settings.h"
#include "standard_streams.h"

namespace corvane {
namespace {

// The trace file named by CORVANE_SIM_TRACE, or null when there is no trace. Checked before a
// line is built: a response's line holds the whole prompt, escaped.
const char* tracePath() {
  const char* path = std::getenv("CORVANE_SIM_TRACE");
  return path == nullptr || *path == '\0' ? nullptr : path;
}

// Appends one line to the trace file at `path`. Each line is written with a single write(2) on a
// file opened for appending, so it is on disk line by line even if the process is killed. A trace
// that cannot be written is skipped silently.
void traceLine(const char* path, std::string line) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  line.push_back('\n');
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fd);
}

// The shortest decimal form that reads back to the same double.
void appendNumber(std::string& out, double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

class SimSession final : public ModelSession {
 public:
  explicit SimSession(std::thread::id mainThread) : mainThread_(mainThread) {}

  GenerationOutcome respond(std::string_view prompt, const GenerationOptions& options) override {
    if (const char* path = tracePath()) {
      std::string line = "{\"op\":\"respond\",\"prompt\":";
      appendJsonString(line, prompt);
      line.append(",\"temperature\":");
      appendNumber(line, options.temperature);
      line.append(",\"maximumResponseTokens\":");
      line.append(std::to_string(options.maximumResponseTokens));
      line.append(",\"sampling\":null,\"mainThread\":");
      line.append(std::this_thread::get_id() == mainThread_ ? "true" : "false");
      line.push_back('}');
      traceLine(path, std::move(line));
    }

    if (const auto delay = sim::parseDelayMs(std::getenv("CORVANE_SIM_DELAY_MS"))) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    if (const char* error = std::getenv("CORVANE_SIM_ERROR")) return {false, error};
    if (const char* response = std::getenv("CORVANE_SIM_RESPONSE")) return {true, response};
    return {true, std::string(prompt)};
  }

 private:
  std::thread::id mainThread_;
};

class SimPlatform final : public Platform {
 public:
  // Constructed by defaultPlatform() from main, so this is the main thread's id.
  SimPlatform() : mainThread_(std::this_thread::get_id()) {}

  bool osVersionAtLeast(OsVersion wanted) override {
    const bool result =
        sim::versionAtLeast(sim::parseOsVersion(std::getenv("CORVANE_SIM_OS_VERSION")), wanted);
    if (const char* path = tracePath()) {
      std::string line = "{\"op\":\"osVersion\",\"atLeast\":\"";
      line.append(std::to_string(wanted.major)).push_back('.');
      line.append(std::to_string(wanted.minor)).push_back('.');
      line.append(std::to_string(wanted.patch));
      line.append(result ? "\",\"result\":true}" : "\",\"result\":false}");
      traceLine(path, std::move(line));
    }
    return result;
  }

  ModelAvailability modelAvailability() override {
    const ModelAvailability state = sim::parseAvailability(std::getenv("CORVANE_SIM_AVAILABILITY"));
    if (const char* path = tracePath()) {
      std::string line = "{\"op\":\"availability\",\"result\":\"";
      line.append(sim::availabilityName(state));
      line.append("\"}");
      traceLine(path, std::move(line));
    }
    return state;
  }

  std::unique_ptr<ModelSession> createSession(
      std::optional<std::string_view> instructions) override {
    if (const char* path = tracePath()) {
      std::string line = "{\"op\":\"session\",\"instructions\":";
      if (instructions) {
        appendJsonString(line, *instructions);
      } else {
        line.append("null");
      }
      line.append(",\"tools\":0}");
      traceLine(path, std::move(line));
    }
    return std::make_unique<SimSession>(mainThread_);
  }

  InputRead readStandardInput() override { return readAllStandardInput(); }
  void writeStandardOutput(std::string_view bytes) override { writeToStandardOutput(bytes); }

 private:
  std::thread::id mainThread_;
};

}  // namespace

Platform& defaultPlatform() {
  holdStandardOutputDescriptors();  // main asks once, before anything opens a file
  static SimPlatform platform;
  return platform;
}

}  // namespace corvane

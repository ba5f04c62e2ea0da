#include "sim_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <new>
#include <string>

#include "../../lib/json_text.h"
#include "sim_settings.h"

namespace corvane::sim {
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
  // Opened without waiting: a FIFO that nobody reads cannot be opened for writing then (ENXIO),
  // instead of holding the run forever. Writes wait again, so that a line is not cut short.
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  line.push_back('\n');
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fd);
}

// Builds a line with `build` and appends it to the trace, if there is one. A line there is not the
// memory to build is skipped like one that cannot be written: the trace never changes a run.
template <typename Build>
void trace(Build build) noexcept {
  const char* path = tracePath();
  if (path == nullptr) return;
  try {
    traceLine(path, build());
  } catch (const std::bad_alloc&) {
  }
}

// The shortest decimal form that reads back to the same double.
void appendNumber(std::string& out, double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void appendOptionalString(std::string& out, std::optional<std::string_view> text) {
  if (text) {
    appendJsonString(out, *text);
  } else {
    out.append("null");
  }
}

}  // namespace

void traceOsVersion(OsVersion wanted, bool result) {
  trace([&] {
    std::string line = "{\"op\":\"osVersion\",\"atLeast\":\"";
    line.append(std::to_string(wanted.major)).push_back('.');
    line.append(std::to_string(wanted.minor)).push_back('.');
    line.append(std::to_string(wanted.patch));
    line.append(result ? "\",\"result\":true}" : "\",\"result\":false}");
    return line;
  });
}

void traceAvailability(ModelAvailability result) {
  trace([&] {
    std::string line = "{\"op\":\"availability\",\"result\":\"";
    line.append(availabilityName(result));
    line.append("\"}");
    return line;
  });
}

void traceSession(std::optional<std::string_view> instructions, std::size_t tools) {
  trace([&] {
    std::string line = "{\"op\":\"session\",\"instructions\":";
    appendOptionalString(line, instructions);
    line.append(",\"tools\":").append(std::to_string(tools)).push_back('}');
    return line;
  });
}

void traceRespond(std::string_view prompt, std::optional<double> temperature,
                  std::optional<std::int64_t> maximumResponseTokens,
                  std::optional<std::string_view> sampling, bool mainThread, bool streamed) {
  trace([&] {
    std::string line =
        streamed ? "{\"op\":\"streamResponse\",\"prompt\":" : "{\"op\":\"respond\",\"prompt\":";
    appendJsonString(line, prompt);
    line.append(",\"temperature\":");
    if (temperature) {
      appendNumber(line, *temperature);
    } else {
      line.append("null");
    }
    line.append(",\"maximumResponseTokens\":");
    line.append(maximumResponseTokens ? std::to_string(*maximumResponseTokens) : "null");
    line.append(",\"sampling\":");
    appendOptionalString(line, sampling);
    line.append(mainThread ? ",\"mainThread\":true}" : ",\"mainThread\":false}");
    return line;
  });
}

}  // namespace corvane::sim

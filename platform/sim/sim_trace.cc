#include "sim_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <new>
#include <string>

#include "../../lib/json_text.h"
#include "sim_settings.h"
#include "whole_line_write.h"

namespace corvane::sim {
namespace {

// The trace file named by CORVANE_SIM_TRACE, opened for the whole run when the first line is due:
// -1 when there is none or it cannot be used. Opened once, so that a file it creates is written
// to even when its mode lets no one open it again (under umask 777, say).
//
// Opened without waiting, and left so: a FIFO that nobody reads cannot be opened for writing then
// (ENXIO) instead of holding the run forever, and one whose reader stops reading never holds a
// write. A path that reaches the process's own standard output or error (/dev/stderr, or the file
// the reply goes to) is not a trace: nothing but the reply may go there.
int traceDescriptor() {
  static const int fd = [] {
    const char* path = std::getenv("CORVANE_SIM_TRACE");
    if (path == nullptr || *path == '\0') return -1;
    const int opened = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    if (opened >= 0 && isStandardOutputOrError(opened)) {
      close(opened);
      return -1;
    }
    return opened;
  }();
  return fd;
}

// Builds a line with `build` and appends it to the trace, if there is one. Each line goes whole or
// not at all (whole_line_write.h), and a line that does not fit where the trace goes (a full disk,
// the file-size limit, a full FIFO) is dropped, as is one there is not the memory to build: the
// trace never changes a run. Written with a single write(2) where it can be, a line is in the
// file once this returns, even if the process is killed next.
template <typename Build>
void trace(Build build) noexcept {
  const int fd = traceDescriptor();
  if (fd < 0) return;
  try {
    std::string line = build();
    line.push_back('\n');
    writeWholeLine(fd, line, WhenFull::drop);
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

// Runs one of the built executables as a child process, the way a desktop application does, and
// collects everything it did: standard output, standard error and how it ended.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace corvane::testing {

enum class StdinKind {
  data,       // `stdinData` is fed through a file
  closed,     // file descriptor 0 is closed
  directory,  // file descriptor 0 is a directory
};

struct ProcessOptions {
  std::vector<std::string> args;                         // after the program path
  std::vector<std::pair<std::string, std::string>> env;  // the child's whole environment
  StdinKind stdinKind = StdinKind::data;
  std::string stdinData;
};

struct ProcessResult {
  bool exited = false;  // false: ended by a signal
  int status = -1;      // exit status, or the signal number
  std::string out;
  std::string err;
};

ProcessResult runProcess(const std::string& executable, const ProcessOptions& options);

// The lines of `text`, each without its line feed; a final part without one is a line too.
std::vector<std::string> splitLines(const std::string& text);

// A fresh empty file under the temporary directory; removed by the caller.
std::string temporaryPath(const std::string& stem);

std::string readFile(const std::string& path);

}  // namespace corvane::testing

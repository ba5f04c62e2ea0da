// Runs one of the built executables as a child process, the way a desktop application does, and
// collects everything it did: standard output, standard error and how it ended. The child starts
// with SIGPIPE at its default action, as from a shell, whatever the test process does with it.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane::testing {

enum class StdinKind {
  data,       // `stdinData` is fed through a file
  closed,     // file descriptor 0 is closed
  directory,  // file descriptor 0 is a directory
  // A pipe in non-blocking mode; `stdinData` is written to it only after a pause, so the first
  // read finds it empty.
  lateNonBlockingPipe,
};

enum class StdoutKind {
  collected,   // written to a file and returned in `out`
  closed,      // file descriptor 1 is closed
  brokenPipe,  // a pipe whose read end is closed before the child starts
  full,        // /dev/full: every write fails with ENOSPC
  // A pipe in non-blocking mode, read into `out` only after a pause: a reply larger than the pipe
  // holds finds it full.
  lateNonBlockingPipe,
  descriptor,  // `stdoutDescriptor`, an open file of the caller's, which it reads itself
};

struct ProcessOptions {
  std::vector<std::string> args;  // after the program path
  // The child's whole environment, apart from the sanitizers' *SAN_OPTIONS variables of the test
  // run, which are passed on so that a sanitizer build's children report the same way.
  std::vector<std::pair<std::string, std::string>> env;
  StdinKind stdinKind = StdinKind::data;
  std::string stdinData;
  StdoutKind stdoutKind = StdoutKind::collected;
  std::size_t addressSpaceLimit = 0;  // bytes of address space the child may use; 0: no limit
  std::optional<std::size_t> fileSizeLimit;  // the largest file the child may write, in bytes
  std::optional<std::size_t> openFileLimit;  // the number of descriptors the child may have open
  int stdoutDescriptor = -1;                 // for StdoutKind::descriptor
  std::optional<unsigned> umask;             // the child's file mode creation mask
  // The child runs as an unprivileged user when this process is root, so that file permissions
  // hold for it as for an ordinary application.
  bool unprivileged = false;
  // A signal sent to the child after a pause, in the middle of its run.
  std::optional<int> signal;
  unsigned signalAfterMs = 0;
  // The child is killed (SIGKILL) once it has run this long; `timedOut` then says so.
  unsigned killAfterMs = 120000;
};

struct ProcessResult {
  bool exited = false;    // false: ended by a signal
  bool timedOut = false;  // killed after `killAfterMs`
  int status = -1;  // exit status, or the signal number; 127: the program could not be started
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

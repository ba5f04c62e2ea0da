#include "support/process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

// The environment of this process. glibc declares it only with _GNU_SOURCE, macOS's headers not at
// all; the variable itself exists on both.
extern char** environ;

namespace corvane::testing {

std::string temporaryPath(const std::string& stem) {
  static std::atomic<int> counter{0};
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir ? dir : "/tmp") + "/corvane-test-" + std::to_string(getpid()) +
                     "-" + std::to_string(counter++) + "-" + stem;
  std::remove(path.c_str());
  return path;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// In the child: `fd` moved above the standard streams, so that setting those up cannot close or
// replace it. When this process runs with a standard stream closed, what it opens takes that
// number.
static int aboveStandardStreams(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD, 3);
  close(fd);
  return moved;
}

static void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

ProcessResult runProcess(const std::string& executable, const ProcessOptions& options) {
  const std::string inPath = temporaryPath("stdin");
  const std::string outPath = temporaryPath("stdout");
  const std::string errPath = temporaryPath("stderr");
  writeFile(inPath, options.stdinData);

  std::vector<std::string> argStorage{executable};
  argStorage.insert(argStorage.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (auto& arg : argStorage) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStorage;
  for (const auto& [name, value] : options.env) envStorage.push_back(name + "=" + value);
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    const std::string_view name = variable.substr(0, variable.find('='));
    if (name.ends_with("SAN_OPTIONS") || name == "ASAN_SYMBOLIZER_PATH")
      envStorage.emplace_back(variable);
  }
  std::vector<char*> envp;
  for (auto& entry : envStorage) envp.push_back(entry.data());
  envp.push_back(nullptr);

  // A pipe without a reader: the read end is closed before the child exists, so no process ever
  // holds it and every write fails with EPIPE (and raises SIGPIPE).
  int brokenPipe[2] = {-1, -1};
  if (options.stdoutKind == StdoutKind::brokenPipe) {
    if (pipe(brokenPipe) != 0) return {};
    close(brokenPipe[0]);
  }
  // The late pipes: the child's end is in non-blocking mode, this process's end is not.
  int inPipe[2] = {-1, -1};
  int outPipe[2] = {-1, -1};
  if (options.stdinKind == StdinKind::lateNonBlockingPipe) {
    if (pipe(inPipe) != 0) return {};
    fcntl(inPipe[0], F_SETFL, fcntl(inPipe[0], F_GETFL) | O_NONBLOCK);
  }
  if (options.stdoutKind == StdoutKind::lateNonBlockingPipe) {
    if (pipe(outPipe) != 0) return {};
    fcntl(outPipe[1], F_SETFL, fcntl(outPipe[1], F_GETFL) | O_NONBLOCK);
  }

  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGPIPE);
    sigprocmask(SIG_UNBLOCK, &signals, nullptr);

    int in = -1;
    if (options.stdinKind == StdinKind::data) in = open(inPath.c_str(), O_RDONLY);
    if (options.stdinKind == StdinKind::directory) in = open("/", O_RDONLY | O_DIRECTORY);
    if (options.stdinKind == StdinKind::lateNonBlockingPipe) {
      in = inPipe[0];
      close(inPipe[1]);
    }
    int out = -1;
    if (options.stdoutKind == StdoutKind::collected) {
      out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    } else if (options.stdoutKind == StdoutKind::brokenPipe) {
      out = brokenPipe[1];
    } else if (options.stdoutKind == StdoutKind::full) {
      out = open("/dev/full", O_WRONLY);
    } else if (options.stdoutKind == StdoutKind::lateNonBlockingPipe) {
      out = outPipe[1];
      close(outPipe[0]);
    } else if (options.stdoutKind == StdoutKind::descriptor) {
      out = options.stdoutDescriptor;
    }
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    in = aboveStandardStreams(in);
    out = aboveStandardStreams(out);
    err = aboveStandardStreams(err);
    if (in >= 0) {
      dup2(in, 0);
      close(in);
    } else {
      close(0);
    }
    if (out >= 0) {
      dup2(out, 1);
      close(out);
    } else {
      close(1);
    }
    dup2(err, 2);
    close(err);
    if (options.addressSpaceLimit != 0) {
      const rlimit limit{options.addressSpaceLimit, options.addressSpaceLimit};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (options.fileSizeLimit) {
      const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.openFileLimit) {
      const rlimit limit{*options.openFileLimit, *options.openFileLimit};
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    // A run that ends by a signal leaves no core file behind.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    // The signal to be sent takes its default action, even where this process ignores it.
    if (options.signal) signal(*options.signal, SIG_DFL);
    if (options.umask) ::umask(static_cast<mode_t>(*options.umask));
    if (options.unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
      _exit(126);
    // Nothing of this process's beyond the standard streams, as an application spawns a program:
    // what the test runner left open would take numbers under a descriptor limit.
#if defined(__linux__)
    close_range(3, ~0U, 0);
#else
    for (int fd = 3, end = getdtablesize(); fd < end; ++fd) close(fd);
#endif
    execve(executable.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (brokenPipe[1] >= 0) close(brokenPipe[1]);
  if (inPipe[0] >= 0) close(inPipe[0]);
  if (outPipe[1] >= 0) close(outPipe[1]);
  ProcessResult result;
  if (inPipe[1] >= 0 || outPipe[0] >= 0) {
    usleep(200 * 1000);
    // A child that has already ended must not end this process with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    for (std::size_t done = 0; inPipe[1] >= 0 && done < options.stdinData.size();) {
      const ssize_t wrote =
          write(inPipe[1], options.stdinData.data() + done, options.stdinData.size() - done);
      if (wrote <= 0) break;
      done += static_cast<std::size_t>(wrote);
    }
    if (inPipe[1] >= 0) close(inPipe[1]);
    char chunk[65536];
    for (ssize_t got; outPipe[0] >= 0 && (got = read(outPipe[0], chunk, sizeof chunk)) > 0;) {
      result.out.append(chunk, static_cast<std::size_t>(got));
    }
    if (outPipe[0] >= 0) close(outPipe[0]);
  }
  int raw = 0;
  const auto start = std::chrono::steady_clock::now();
  bool signalled = !options.signal;
  for (;;) {
    if (waitpid(pid, &raw, WNOHANG) == pid) break;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (!signalled && elapsed >= std::chrono::milliseconds(options.signalAfterMs)) {
      kill(pid, *options.signal);
      signalled = true;
    }
    if (elapsed >= std::chrono::milliseconds(options.killAfterMs)) {
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
      result.timedOut = true;
      break;
    }
    usleep(2000);
  }
  result.exited = WIFEXITED(raw);
  result.status = result.exited ? WEXITSTATUS(raw) : WTERMSIG(raw);
  if (options.stdoutKind == StdoutKind::collected) result.out = readFile(outPath);
  result.err = readFile(errPath);
  std::remove(inPath.c_str());
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return result;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace corvane::testing

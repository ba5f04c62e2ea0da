#include "support/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

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
  std::vector<char*> envp;
  for (auto& entry : envStorage) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    int in = -1;
    if (options.stdinKind == StdinKind::data) in = open(inPath.c_str(), O_RDONLY);
    if (options.stdinKind == StdinKind::directory) in = open("/", O_RDONLY | O_DIRECTORY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in >= 0) {
      dup2(in, 0);
      close(in);
    } else {
      close(0);
    }
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
    execve(executable.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  ProcessResult result;
  int raw = 0;
  waitpid(pid, &raw, 0);
  result.exited = WIFEXITED(raw);
  result.status = result.exited ? WEXITSTATUS(raw) : WTERMSIG(raw);
  result.out = readFile(outPath);
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

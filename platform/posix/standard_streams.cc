#include "standard_streams.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace corvane {

InputRead readAllStandardInput() {
  InputRead result;
  std::string& bytes = result.bytes;
  struct stat info {};
  if (fstat(STDIN_FILENO, &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      result.error = std::strerror(EISDIR);
      return result;
    }
    // A regular file tells its size: read it into one allocation.
    if (S_ISREG(info.st_mode) && info.st_size > 0)
      bytes.reserve(static_cast<std::size_t>(info.st_size) + 1);
  }
  std::size_t used = 0;
  for (;;) {
    if (bytes.size() - used < 65536) bytes.resize(bytes.size() < 65536 ? 131072 : bytes.size() * 2);
    const ssize_t got = read(STDIN_FILENO, bytes.data() + used, bytes.size() - used);
    if (got > 0) {
      used += static_cast<std::size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      result.error = std::strerror(errno);
      bytes.clear();
      return result;
    }
  }
  bytes.resize(used);
  result.succeeded = true;
  return result;
}

void writeToStandardOutput(std::string_view bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

}  // namespace corvane

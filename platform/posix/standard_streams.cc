#include "standard_streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "wait_until_ready.h"
#include "whole_line_write.h"

namespace corvane {

void holdStandardOutputDescriptors() {
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open(2) takes the lowest free number, which is this one when every lower one is open; a
    // descriptor that lands elsewhere is moved into place.
    const int opened = open("/dev/null", O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

InputRead readAllStandardInput() {
  InputRead result;
  std::string& bytes = result.bytes;
  struct stat info{};
  if (fstat(STDIN_FILENO, &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      result.error = std::strerror(EISDIR);
      return result;
    }
    // A regular file tells its size: the bytes go into one allocation of that size.
    if (S_ISREG(info.st_mode) && info.st_size > 0)
      bytes.reserve(static_cast<std::size_t>(info.st_size));
  }
  // Read through a small buffer and append, rather than into the string itself: a string can only
  // be made longer by filling the new part, and filling tens of megabytes that read(2) overwrites
  // at once costs a third of reading them. The extra copy is from a buffer that stays in the cache.
  // Appending also leaves the unused part of a grown string untouched, so not resident.
  static char chunk[64 * 1024];
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got > 0) {
      bytes.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0) {
      break;
    } else if (errno != EINTR && !(wouldBlock(errno) && waitUntilReady(STDIN_FILENO, POLLIN))) {
      result.error = std::strerror(errno);
      bytes.clear();
      return result;
    }
  }
  result.succeeded = true;
  return result;
}

void writeToStandardOutput(std::string_view bytes) {
  writeWholeLine(STDOUT_FILENO, bytes, WhenFull::wait);
}

}  // namespace corvane
